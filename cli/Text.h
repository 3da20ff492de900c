// UTF-8 <-> UTF-16 conversion for the component's wide strings.
#pragma once

#include <string>

namespace kxcli {

std::u16string Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::u16string& text);
std::string WideToUtf8(const char16_t* text);

}  // namespace kxcli
