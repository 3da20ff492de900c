#include "platform/WideString.h"

#include <cstring>

namespace kx {

size_t WideLength(const char16_t* text) {
    if (!text) return 0;
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

namespace {

// Bytes that are not UTF-8 travel as the lone surrogates U+DC80..U+DCFF
// (one per byte), so that a name the file system holds in another encoding
// reaches the file system again unchanged.
constexpr char16_t kEscapeBase = 0xDC00;

bool IsEscapedByte(uint32_t c) { return c >= 0xDC80 && c <= 0xDCFF; }

void AppendUtf8(std::string& out, uint32_t c) {
    if (c < 0x80) {
        out.push_back(static_cast<char>(c));
    } else if (c < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (c >> 6)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else if (c < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (c >> 12)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (c >> 18)));
        out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
    }
}

// The code point of the well-formed UTF-8 sequence at s[i] and its length,
// or length 0 when the bytes there are not one.
uint32_t DecodeSequence(const unsigned char* s, size_t i, size_t length, size_t* used) {
    *used = 0;
    const uint32_t lead = s[i];
    if (lead < 0x80) {
        *used = 1;
        return lead;
    }
    const size_t extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : 0;
    if (extra == 0 || lead > 0xF4 || i + extra >= length) return 0;
    uint32_t c = lead & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
        if ((s[i + k] & 0xC0) != 0x80) return 0;
        c = (c << 6) | (s[i + k] & 0x3F);
    }
    static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
    if (c < kSmallest[extra] || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) return 0;
    *used = extra + 1;
    return c;
}

}  // namespace

std::string WideToUtf8(const char16_t* text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (IsEscapedByte(c)) {
            out.push_back(static_cast<char>(c - kEscapeBase));
            continue;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // any other lone surrogate
        }
        AppendUtf8(out, c);
    }
    return out;
}

std::string WideToUtf8(const std::u16string& text) { return WideToUtf8(text.data(), text.size()); }

std::u16string Utf8ToWide(const char* text, size_t length) {
    std::u16string out;
    out.reserve(length);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    for (size_t i = 0; i < length;) {
        size_t used = 0;
        uint32_t c = DecodeSequence(s, i, length, &used);
        if (used == 0) {
            out.push_back(static_cast<char16_t>(kEscapeBase + s[i]));
            ++i;
            continue;
        }
        i += used;
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
    }
    return out;
}

std::u16string Utf8ToWide(const std::string& text) { return Utf8ToWide(text.data(), text.size()); }

bool WideToUtf8Fixed(const char16_t* text, char* buffer, size_t capacity) {
    if (!buffer || capacity == 0) return false;
    std::memset(buffer, 0, capacity);
    if (!text) return false;
    std::string utf8 = WideToUtf8(text, WideLength(text));
    if (utf8.size() + 1 > capacity) return false;
    std::memcpy(buffer, utf8.data(), utf8.size());
    return true;
}

void WideCopy(char16_t* dest, size_t capacity, const char16_t* src) {
    if (!dest || capacity == 0) return;
    size_t n = src ? WideLength(src) : 0;
    if (n > capacity - 1) n = capacity - 1;
    for (size_t i = 0; i < n; ++i) dest[i] = src[i];
    dest[n] = 0;
}

}  // namespace kx
