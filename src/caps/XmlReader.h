// A small XML reader over pugixml offering element look-ups by name and
// position (wide strings), the way the capability table is read.
#pragma once

#include <cstddef>

#include <pugixml.hpp>

namespace kx {

class XmlReader {
public:
    using Node = pugi::xml_node;  // empty (false) when not found

    // Parses the whole file; non-zero on success. A missing or malformed
    // file fails and leaves no document.
    int Load(const char16_t* path);

    // The index-th child element of parent named name ("*" matches any
    // element); an empty parent means the document itself.
    Node GetNode(Node parent, const char16_t* name, int index) const;

    // Number of child elements of parent named name ("*": all).
    int GetNamedNodeCount(Node parent, const char16_t* name) const;

    // Writes the element's name into buffer (64 characters, always
    // terminated); empty for an empty node.
    void GetNodeName(Node node, char16_t* buffer) const;

    // Releases the loaded document.
    void Reset();

private:
    pugi::xml_document document_;
    bool loaded_ = false;
};

}  // namespace kx
