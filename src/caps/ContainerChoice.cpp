#include "caps/ContainerChoice.h"

#include <algorithm>
#include <string_view>

#include "caps/CodecNameTable.h"
#include "caps/LosslessCheck.h"
#include "caps/XmlReader.h"
#include "platform/KX_Log.h"
#include "platform/WideString.h"

namespace kx {

namespace {


// What the table says about one extension. The output check pools every
// entry of the name and stops at the first empty one; this does the same.
struct ExtensionEntry {
    std::u16string name;
    std::vector<std::u16string> codecs;
    bool ended = false;
};

// The check compares the text after a file name's last dot, upper-cased in
// ASCII and cut to the query field, with the names: one holding a dot or a
// lower-case ASCII letter, or longer than the field, never matches.
bool CanMatchAnExtension(std::u16string_view name) {
    if (name.empty() || name.size() >= static_cast<size_t>(kFormatQueryNameLength)) return false;
    return std::none_of(name.begin(), name.end(), [](char16_t c) { return c == u'.' || (c >= u'a' && c <= u'z'); });
}

std::vector<ExtensionEntry> ReadEntries(const char16_t* tablePath) {
    std::vector<ExtensionEntry> entries;
    XmlReader reader;
    if (!tablePath || !reader.Load(tablePath)) return entries;
    XmlReader::Node root = reader.GetNode(XmlReader::Node(), u"Quentara_XML", 0);
    XmlReader::Node map = root ? reader.GetNode(root, u"OUTPUT_MAP", 0) : XmlReader::Node();
    const int count = map ? reader.GetNamedNodeCount(map, u"*") : 0;
    char16_t name[kCodecNameLength];
    for (int i = 0; i < count; ++i) {
        XmlReader::Node element = reader.GetNode(map, u"*", i);
        reader.GetNodeName(element, name);
        if (!CanMatchAnExtension(name)) continue;
        auto entry = std::find_if(entries.begin(), entries.end(), [&](const auto& e) { return e.name == name; });
        if (entry == entries.end()) entry = entries.insert(entries.end(), ExtensionEntry{name, {}, false});
        if (entry->ended) continue;
        const int groups = reader.GetNamedNodeCount(element, u"*");
        if (groups == 0) entry->ended = true;
        for (int g = 0; g < groups; ++g) {
            XmlReader::Node group = reader.GetNode(element, u"*", g);
            const int codecs = reader.GetNamedNodeCount(group, u"*");
            for (int c = 0; c < codecs && entry->codecs.size() < static_cast<size_t>(kMaxAcceptedCodecs); ++c) {
                reader.GetNodeName(reader.GetNode(group, u"*", c), name);
                entry->codecs.emplace_back(name);
            }
        }
    }
    reader.Reset();
    return entries;
}

std::string LowerCaseAscii(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

}  // namespace

std::vector<std::string> ExtensionsTaking(const char16_t* tablePath, int32_t codecId) {
    std::vector<std::string> extensions;
    BuildCodecNameTable();
    const CodecNameEntry* codec = FindCodecNameEntry(codecId);
    if (!codec) return extensions;
    const std::u16string_view shortName(codec->shortName);
    for (const auto& entry : ReadEntries(tablePath))
        if (std::find(entry.codecs.begin(), entry.codecs.end(), shortName) != entry.codecs.end())
            extensions.push_back("." + LowerCaseAscii(WideToUtf8(entry.name)));
    return extensions;
}

std::vector<std::string> ExtensionsTaking(int32_t codecId) { return ExtensionsTaking(ShippedTablePath().c_str(), codecId); }

bool IsCodecAllowedIn(const char16_t* extension, int32_t codecId) {
    if (!extension) return false;
    std::string wanted = LowerCaseAscii(WideToUtf8(extension, WideLength(extension)));
    if (wanted.empty() || wanted == ".") return false;
    if (wanted[0] != '.') wanted.insert(0, ".");
    const auto taking = ExtensionsTaking(codecId);
    return std::find(taking.begin(), taking.end(), wanted) != taking.end();
}

}  // namespace kx
