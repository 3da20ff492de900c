#include "ListedName.h"

#include <cstdio>

namespace kxcli {

std::string ListedName(const std::string& path) {
    std::string text;
    text.reserve(path.size());
    for (char c : path) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\\': text += "\\\\"; break;
            case '\n': text += "\\n"; break;
            case '\r': text += "\\r"; break;
            case '\t': text += "\\t"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char escaped[5];
                    std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
                    text += escaped;
                } else {
                    text += c;
                }
        }
    }
    return text;
}

}  // namespace kxcli
