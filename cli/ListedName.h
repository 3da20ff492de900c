// Output names as the program lists them: one name per line, whatever
// bytes the name holds.
#pragma once

#include <string>

namespace kxcli {

// A backslash becomes "\\", a newline "\n", a carriage return "\r", a tab
// "\t", and any other control byte (below 0x20, and 0x7F) "\xHH"; every other
// byte, UTF-8 included, stays. A name without those bytes is unchanged.
std::string ListedName(const std::string& path);

}  // namespace kxcli
