#include "Args.h"

#include "Console.h"

namespace kxcli {

bool ParsedArgs::Has(const std::string& name) const {
    for (const auto& option : options)
        if (option.name == name) return true;
    return false;
}

std::optional<std::string> ParsedArgs::Value(const std::string& name) const {
    for (const auto& option : options)
        if (option.name == name) return option.value;
    return std::nullopt;
}

std::vector<OptionValue> ParsedArgs::All(const std::string& name) const {
    std::vector<OptionValue> found;
    for (const auto& option : options)
        if (option.name == name) found.push_back(option);
    return found;
}

ParsedArgs ParseArgs(const std::string& command, const std::vector<std::string>& args,
                     const std::vector<OptionSpec>& specs) {
    ParsedArgs parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            parsed.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        std::string name = arg;
        std::optional<std::string> inlineValue;
        size_t equals = arg.find('=');
        if (arg.rfind("--", 0) == 0 && equals != std::string::npos) {
            name = arg.substr(0, equals);
            inlineValue = arg.substr(equals + 1);
        }
        const OptionSpec* option = nullptr;
        for (const auto& candidate : specs)
            if (candidate.name == name || (!candidate.shortName.empty() && candidate.shortName == name)) option = &candidate;
        if (!option) UsageError("unknown option '" + name + "' for '" + command + "' (see remuxion --help)");
        if (!option->repeatable && parsed.Has(option->name))
            UsageError("option " + option->name + " is given twice for '" + command + "'");
        OptionValue value{option->name, {}, parsed.positional.size()};
        if (option->takesValue) {
            if (inlineValue) {
                value.value = *inlineValue;
            } else {
                if (i + 1 >= args.size()) UsageError("option " + name + " needs a value");
                value.value = args[++i];
            }
        } else if (inlineValue) {
            UsageError("option " + option->name + " takes no value");
        }
        parsed.options.push_back(value);
    }
    return parsed;
}

}  // namespace kxcli
