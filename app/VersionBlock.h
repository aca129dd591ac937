// A read-only view of a version resource, as GetFileVersionInfoA returns it,
// and the product-version text that the About box shows.
//
// The block is a tree of nodes. Each node: WORD length (of the whole node
// with its children), WORD value length (bytes, or characters for a text
// value), WORD type (1 text, 0 binary), the key as a NUL-terminated UTF-16
// string, padding to a 4-byte boundary, the value, padding, the children.
// The parser never reads outside the bytes it is given: a damaged block only
// makes look-ups fail.
#pragma once

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class VersionBlock {
public:
    // `data` must outlive the view; `size` bounds every read.
    VersionBlock(const unsigned char* data, std::size_t size) : m_data(data), m_size(size) {}
    explicit VersionBlock(const std::vector<unsigned char>& block) : VersionBlock(block.data(), block.size()) {}

    struct Value {
        const unsigned char* data;
        std::size_t size;  // bytes
        bool text;
    };

    // The value at a path as the platform's VerQueryValue takes it: "\" for
    // the fixed part, "\VarFileInfo\Translation",
    // "\StringFileInfo\040904B0\ProductVersion". Keys are compared without
    // regard to (ASCII) case.
    std::optional<Value> Query(std::string_view path) const;

    // The fixed part, when the root carries a whole VS_FIXEDFILEINFO.
    std::optional<VS_FIXEDFILEINFO> FixedInfo() const;

    // The (language, code page) pairs of the translation table, in order.
    std::vector<std::pair<WORD, WORD>> Translations() const;

    // A text value converted to the system code page.
    std::optional<std::string> Text(std::string_view path) const;

private:
    struct Node {
        std::size_t begin;     // offset of the node
        std::size_t end;       // offset past the node, within the parent
        std::size_t keyBegin;  // offset of the key
        std::size_t keyLength; // in UTF-16 units, without the terminator
        std::size_t valueBegin;
        std::size_t valueSize;  // bytes, clipped to the node
        std::size_t childrenBegin;
        bool text;
    };

    std::optional<Node> ReadNode(std::size_t offset, std::size_t limit) const;
    std::optional<Node> FindChild(const Node& parent, std::string_view key) const;
    bool KeyEquals(const Node& node, std::string_view key) const;
    WORD Word(std::size_t offset) const;

    const unsigned char* m_data;
    std::size_t m_size;
};

// The product version as the About box shows it: "0.0.0.0" without a
// version resource; the fixed product version with trailing ".0" parts
// removed (3.2.0.0 gives "3.2"); but the string value "ProductVersion" of the
// first translation that has one, with ", " and then "," turned into "."
// (3, 2, 0, 1 gives "3.2.0.1"), whenever there is such a value. An empty
// block stands for a program without a version resource.
std::string ProductVersionText(const std::vector<unsigned char>& block);
std::string ProductVersionText(const VersionBlock& block);

// The version resource of a file as GetFileVersionInfoA gives it; empty when
// the file has none or cannot be read.
std::vector<unsigned char> ReadFileVersionBlock(const std::string& path);

// The product-version text of the running program's own file.
std::string ProgramProductVersionText();
