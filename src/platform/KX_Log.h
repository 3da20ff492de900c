// The component's log: lines go to the host's sink, or to standard error.
#pragma once

#include <cstddef>
#include <string>

// Writes the wide line unchanged (it carries its own line end).
void LogText(const char16_t* text);

// Wide printf: %d (int32), %I64d / %lld (int64), %u, %x, %s and %ls (wide
// strings), %S (narrow string), %%. Surplus arguments are ignored.
void LogFormat(const char16_t* format, ...);

// The line LogFormat would write.
std::u16string FormatLogLine(const char16_t* format, ...);

// Directory of our own module file, without a trailing separator.
void GetBaseDirectory(char16_t* buffer, size_t capacity);
