// Command-line options of one command.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kxcli {

struct OptionSpec {
    std::string name;       // "--output"
    std::string shortName;  // "-o", or empty
    bool takesValue = false;
    bool repeatable = false;
};

struct OptionValue {
    std::string name;  // the long name, whichever spelling was used
    std::string value;
    size_t filesBefore = 0;  // positional arguments given before this option
};

struct ParsedArgs {
    std::vector<std::string> positional;
    std::vector<OptionValue> options;

    bool Has(const std::string& name) const;
    std::optional<std::string> Value(const std::string& name) const;
    std::vector<OptionValue> All(const std::string& name) const;
};

// Parses the arguments after the command name. Options may come anywhere,
// as "--name value", "--name=value" or "-o value"; "--" ends the options.
// Unknown options, missing values and repeated single options fail with a
// usage message naming the command.
ParsedArgs ParseArgs(const std::string& command, const std::vector<std::string>& args,
                     const std::vector<OptionSpec>& specs);

}  // namespace kxcli
