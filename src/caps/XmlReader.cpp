#include "caps/XmlReader.h"

#include <string>

#include "caps/CodecNameTable.h"
#include "platform/WideString.h"

namespace kx {

namespace {

bool NameMatches(const pugi::xml_node& node, const std::string& name) {
    return node.type() == pugi::node_element && (name == "*" || name == node.name());
}

std::string Narrow(const char16_t* text) { return text ? WideToUtf8(text, WideLength(text)) : std::string(); }

}  // namespace

int XmlReader::Load(const char16_t* path) {
    Reset();
    if (!path) return 0;
    pugi::xml_parse_result result = document_.load_file(Narrow(path).c_str());
    if (!result) {
        document_.reset();
        return 0;
    }
    loaded_ = true;
    return 1;
}

XmlReader::Node XmlReader::GetNode(Node parent, const char16_t* name, int index) const {
    if (!loaded_ || !name || index < 0) return Node();
    const Node base = parent ? parent : Node(document_);
    const std::string wanted = Narrow(name);
    int seen = 0;
    for (Node child = base.first_child(); child; child = child.next_sibling()) {
        if (!NameMatches(child, wanted)) continue;
        if (seen++ == index) return child;
    }
    return Node();
}

int XmlReader::GetNamedNodeCount(Node parent, const char16_t* name) const {
    if (!loaded_ || !parent || !name) return 0;
    const std::string wanted = Narrow(name);
    int count = 0;
    for (Node child = parent.first_child(); child; child = child.next_sibling())
        if (NameMatches(child, wanted)) ++count;
    return count;
}

void XmlReader::GetNodeName(Node node, char16_t* buffer) const {
    if (!buffer) return;
    buffer[0] = 0;
    if (!node) return;
    WideCopy(buffer, kCodecNameLength, Utf8ToWide(std::string(node.name())).c_str());
}

void XmlReader::Reset() {
    document_.reset();
    loaded_ = false;
}

}  // namespace kx
