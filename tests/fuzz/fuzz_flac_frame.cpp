// ReadFlacFrameHeader and RenumberedFlacFrame on arbitrary bytes. The first
// eight bytes choose the new first sample; the rest is the frame. A header
// read stays inside the bytes; a renumbered frame reads back with the new
// number and the old block size, keeps the body, and its CRC-16 holds. The
// rest, split in two, is also compared as two STREAMINFO blocks: inside both,
// and each is the same format as itself.
#include <cstring>
#include <vector>

extern "C" {
#include <libavutil/crc.h>
}

#include "FuzzSupport.h"
#include "input/FlacStreamFormat.h"
#include "output/FlacFrames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 8 || size > (1u << 20)) return 0;
    uint64_t firstSample = 0;
    for (int i = 0; i < 8; ++i) firstSample = firstSample << 8 | data[i];
    firstSample &= (uint64_t{1} << 36) - 1;
    const std::vector<uint8_t> frame(data + 8, data + size);  // exact size: ASan sees any overread

    const size_t half = frame.size() / 2;
    const std::vector<uint8_t> first(frame.begin(), frame.begin() + half), second(frame.begin() + half, frame.end());
    kx::SameFlacStreamFormat(first.data(), first.size(), second.data(), second.size());
    KX_FUZZ_CHECK(kx::SameFlacStreamFormat(first.data(), first.size(), first.data(), first.size()));

    const auto header = kx::ReadFlacFrameHeader(frame.data(), frame.size());
    if (header) KX_FUZZ_CHECK(header->length <= frame.size() && header->blockSize > 0);

    const std::vector<uint8_t> out = kx::RenumberedFlacFrame(frame.data(), frame.size(), firstSample);
    if (out.empty()) return 0;
    KX_FUZZ_CHECK(header && frame.size() >= header->length + 2);
    const auto again = kx::ReadFlacFrameHeader(out.data(), out.size());
    KX_FUZZ_CHECK(again && again->variableBlockSize && again->number == firstSample &&
                  again->blockSize == header->blockSize);
    const size_t body = frame.size() - header->length - 2;
    KX_FUZZ_CHECK(out.size() == again->length + body + 2);
    KX_FUZZ_CHECK(std::memcmp(out.data() + again->length, frame.data() + header->length, body) == 0);
    // A frame followed by its own CRC-16 leaves a zero register.
    KX_FUZZ_CHECK(av_crc(av_crc_get_table(AV_CRC_16_ANSI), 0, out.data(), out.size()) == 0);
    return 0;
}
