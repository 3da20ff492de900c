// The question turned around: not "may this output take these streams" but
// "which outputs may take a stream of this codec", from the capability table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kx {

// The extensions (".mkv", lower case, in table order) whose entries list the
// codec's short name, judged the way the output check judges them. Empty for
// a table that cannot be read or a codec without a short name.
std::vector<std::string> ExtensionsTaking(const char16_t* tablePath, int32_t codecId);

// The same against the table beside the library.
std::vector<std::string> ExtensionsTaking(int32_t codecId);

// Whether the table beside the library lets an output of this extension
// (".mkv" or "mkv", any case) take a stream of the codec.
bool IsCodecAllowedIn(const char16_t* extension, int32_t codecId);

}  // namespace kx
