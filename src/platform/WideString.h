// UTF-16 strings and text conversion (the "ANSI code page" is UTF-8 here).
// Bytes that are not UTF-8 (a file name in another encoding) convert to the
// lone surrogates U+DC80..U+DCFF, one per byte, and back to the same bytes.
#pragma once

#include <cstddef>
#include <string>

namespace kx {

// Length of a NUL-terminated UTF-16 string, 0 for null.
size_t WideLength(const char16_t* text);

std::string WideToUtf8(const char16_t* text, size_t length);
std::string WideToUtf8(const std::u16string& text);
std::u16string Utf8ToWide(const char* text, size_t length);
std::u16string Utf8ToWide(const std::string& text);

// Converts into a fixed, zero-filled buffer only when the whole name with its
// terminator fits; otherwise the buffer stays empty. Returns whether it fitted.
bool WideToUtf8Fixed(const char16_t* text, char* buffer, size_t capacity);

// Copies at most capacity-1 characters and always terminates.
void WideCopy(char16_t* dest, size_t capacity, const char16_t* src);

}  // namespace kx
