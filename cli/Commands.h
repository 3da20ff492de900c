// The commands of the remuxion program. Each takes the arguments after its
// name and returns the exit status; failures throw CliError.
#pragma once

#include <string>
#include <vector>

namespace kxcli {

using Arguments = std::vector<std::string>;

int RunInfo(const Arguments& args);
int RunKeyFrames(const Arguments& args);
int RunSplit(const Arguments& args);
int RunMerge(const Arguments& args);
int RunMix(const Arguments& args);

}  // namespace kxcli
