#include "Outputs.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "Console.h"

namespace kxcli {

namespace fs = std::filesystem;

void PrepareOutputFolder(const std::string& folder) {
    std::error_code error;
    if (fs::exists(folder, error) && !fs::is_directory(folder, error))
        Fail("the output folder " + folder + " is a file");
    // Another run may make the folder at the same moment (create_directories
    // then says false without an error): what counts is a folder afterwards.
    fs::create_directories(folder, error);
    std::error_code probe;
    if (!fs::is_directory(folder, probe))
        Fail("cannot create the output folder " + folder + ": " + (error ? error : probe).message());
    if (access(folder.c_str(), W_OK) != 0) Fail("cannot write to the output folder " + folder + ": " + std::strerror(errno));
}

std::string NormalizeExtension(const std::string& extension) {
    std::string text = extension.empty() || extension[0] != '.' ? "." + extension : extension;
    bool plain = text.size() >= 2 && text.size() <= 9;
    for (size_t i = 1; plain && i < text.size(); ++i) plain = std::isalnum(static_cast<unsigned char>(text[i])) != 0;
    if (!plain) UsageError("bad extension '" + extension + "' for --ext: write it like .mkv or mkv");
    return text;
}

std::string ExtensionOf(const std::string& path) {
    size_t slash = path.rfind('/');
    size_t dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string extension = path.substr(dot);
    for (char& c : extension) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return extension;
}

void CheckOutputFile(const std::string& output, const std::vector<std::string>& inputs, bool overwrite) {
    if (ExtensionOf(output).size() < 2)
        UsageError("the output " + output + " needs an extension that names its container (.mp4, .mkv, .ts, ...)");
    fs::path path(output);
    std::error_code error;
    if (fs::is_directory(path, error)) Fail("the output " + output + " is a folder; name the output file");
    fs::path folder = path.has_parent_path() ? path.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, error)) Fail("the folder of the output " + output + " does not exist");
    if (access(folder.c_str(), W_OK) != 0) Fail("cannot write to the folder of " + output + ": " + std::strerror(errno));
    CheckOutputFree(output, inputs, overwrite);
}

void CheckOutputFree(const std::string& output, const std::vector<std::string>& inputs, bool overwrite) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(output, error);
    if (!fs::exists(status)) return;
    for (const auto& input : inputs)
        if (fs::equivalent(output, input, error)) Fail("the output " + output + " would overwrite the input " + input);
    if (!overwrite) Fail("the output " + output + " already exists (--overwrite replaces it)");
    if (fs::is_directory(status)) Fail("the output " + output + " is a folder");
}

void RemoveOutputs(const std::vector<std::string>& paths) {
    for (const auto& path : paths) ::unlink(path.c_str());
}

OutputChoice OutputChoiceOf(const ParsedArgs& parsed) {
    return {parsed.Has("--overwrite"), parsed.Has("--fsync"), parsed.Has("--allow-truncated")};
}

}  // namespace kxcli
