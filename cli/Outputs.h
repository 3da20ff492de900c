// Checks and names for what a task writes.
#pragma once

#include <string>
#include <vector>

#include "Args.h"
#include "Input.h"

namespace kxcli {

// What --overwrite and --fsync ask of the outputs.
struct OutputChoice {
    bool overwrite = false;
    bool sync = false;
    bool allowTruncated = false;  // outputs of an input that ended early are kept
};

// Creates the folder when missing; fails when it cannot be written.
void PrepareOutputFolder(const std::string& folder);

// "mkv" or ".mkv" -> ".mkv"; fails on anything that is not a plain extension.
std::string NormalizeExtension(const std::string& extension);

// The extension of a path from its last '.', lower-cased ("" when none).
std::string ExtensionOf(const std::string& path);

// A merge or mix output: must name its container by extension, lie in a
// writable folder, and be free (CheckOutputFree).
void CheckOutputFile(const std::string& output, const std::vector<std::string>& inputs, bool overwrite);

// Fails, naming the output, when it is one of the inputs (links followed),
// or when something exists under its name (a link included) and
// `overwrite` is off.
void CheckOutputFree(const std::string& output, const std::vector<std::string>& inputs, bool overwrite);

// Removes files this run wrote, ignoring those already gone.
void RemoveOutputs(const std::vector<std::string>& paths);

// --overwrite, --fsync and --allow-truncated.
OutputChoice OutputChoiceOf(const ParsedArgs& parsed);

}  // namespace kxcli
