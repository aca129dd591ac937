// Builds version resources in memory, node by node, the way a resource
// compiler lays them out, so that tests can make the blocks they need.
#pragma once

#include <windows.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

namespace versiontest {

struct Node {
    std::u16string key;
    std::vector<unsigned char> value;
    bool text = false;
    std::vector<Node> children;
};

inline void PutWord(std::vector<unsigned char>& out, std::size_t at, std::size_t value)
{
    out[at] = static_cast<unsigned char>(value & 0xFF);
    out[at + 1] = static_cast<unsigned char>((value >> 8) & 0xFF);
}

inline void Pad4(std::vector<unsigned char>& out)
{
    while (out.size() % 4 != 0)
        out.push_back(0);
}

// Appends one node at a 4-byte boundary of `out`.
inline void Write(std::vector<unsigned char>& out, const Node& node)
{
    Pad4(out);
    const std::size_t begin = out.size();
    out.resize(begin + 6);
    const std::size_t valueLength = node.text ? node.value.size() / 2 : node.value.size();
    PutWord(out, begin + 2, valueLength);
    PutWord(out, begin + 4, node.text ? 1 : 0);
    for (char16_t c : node.key) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    out.push_back(0);
    out.push_back(0);
    Pad4(out);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const Node& child : node.children)
        Write(out, child);
    PutWord(out, begin, out.size() - begin);
}

inline std::vector<unsigned char> Serialize(const Node& root)
{
    std::vector<unsigned char> out;
    Write(out, root);
    return out;
}

inline Node Text(std::u16string key, const std::u16string& value)
{
    Node node{std::move(key), {}, true, {}};
    for (char16_t c : value) {
        node.value.push_back(static_cast<unsigned char>(c & 0xFF));
        node.value.push_back(static_cast<unsigned char>(c >> 8));
    }
    node.value.push_back(0);
    node.value.push_back(0);
    return node;
}

inline Node StringTable(std::u16string languageAndCodePage, std::vector<Node> values)
{
    return Node{std::move(languageAndCodePage), {}, true, std::move(values)};
}

inline Node StringFileInfo(std::vector<Node> tables)
{
    return Node{u"StringFileInfo", {}, true, std::move(tables)};
}

inline Node VarFileInfo(const std::vector<std::pair<WORD, WORD>>& translations)
{
    Node table{u"Translation", {}, false, {}};
    for (const auto& [language, codePage] : translations) {
        for (WORD part : {language, codePage}) {
            table.value.push_back(static_cast<unsigned char>(part & 0xFF));
            table.value.push_back(static_cast<unsigned char>(part >> 8));
        }
    }
    return Node{u"VarFileInfo", {}, true, {table}};
}

inline std::vector<unsigned char> FixedValue(WORD major, WORD minor, WORD build, WORD revision)
{
    VS_FIXEDFILEINFO info{};
    info.dwSignature = 0xFEEF04BD;
    info.dwStrucVersion = 0x00010000;
    info.dwFileVersionMS = info.dwProductVersionMS = MAKELONG(minor, major);
    info.dwFileVersionLS = info.dwProductVersionLS = MAKELONG(revision, build);
    info.dwFileOS = VOS_NT_WINDOWS32;
    info.dwFileType = VFT_APP;
    std::vector<unsigned char> bytes(sizeof info);
    std::memcpy(bytes.data(), &info, sizeof info);
    return bytes;
}

// The root: an optional fixed part and the given children.
inline Node Root(std::vector<unsigned char> fixed, std::vector<Node> children)
{
    return Node{u"VS_VERSION_INFO", std::move(fixed), false, std::move(children)};
}

}  // namespace versiontest
