// The program's time and size parsers on arbitrary text, as users type it:
// neither reads outside the text or overflows, a time that parses is not
// negative, and the clock the program prints for it parses back to the same
// millisecond.
#include <string>

#include "FuzzSupport.h"
#include "TimeText.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 256) return 0;
    const std::string text(reinterpret_cast<const char*>(data), size);
    if (const auto ticks = kxcli::ParseTime(text)) {
        KX_FUZZ_CHECK(*ticks >= 0);
        const auto again = kxcli::ParseTime(kxcli::FormatClock(*ticks));
        KX_FUZZ_CHECK(again && *again == (*ticks + 5'000) / 10'000 * 10'000);
    }
    if (const auto bytes = kxcli::ParseByteCount(text)) KX_FUZZ_CHECK(*bytes >= 1);
    return 0;
}
