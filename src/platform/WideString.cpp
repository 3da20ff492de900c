#include "platform/WideString.h"

#include <cstring>

namespace kx {

size_t WideLength(const char16_t* text) {
    if (!text) return 0;
    size_t n = 0;
    while (text[n]) ++n;
    return n;
}

std::string WideToUtf8(const char16_t* text, size_t length) {
    std::string out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        uint32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // lone surrogate
        }
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
    return out;
}

std::string WideToUtf8(const std::u16string& text) { return WideToUtf8(text.data(), text.size()); }

std::u16string Utf8ToWide(const char* text, size_t length) {
    std::u16string out;
    out.reserve(length);
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    size_t i = 0;
    while (i < length) {
        uint32_t c = s[i];
        size_t extra = 0;
        if (c < 0x80) {
            extra = 0;
        } else if ((c & 0xE0) == 0xC0) {
            c &= 0x1F; extra = 1;
        } else if ((c & 0xF0) == 0xE0) {
            c &= 0x0F; extra = 2;
        } else if ((c & 0xF8) == 0xF0) {
            c &= 0x07; extra = 3;
        } else {
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        bool ok = true;
        for (size_t k = 1; k <= extra; ++k) {
            if (i + k >= length || (s[i + k] & 0xC0) != 0x80) { ok = false; break; }
            c = (c << 6) | (s[i + k] & 0x3F);
        }
        if (!ok) {
            out.push_back(u'\xFFFD');
            ++i;
            continue;
        }
        i += extra + 1;
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
