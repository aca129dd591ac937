#include "app/VersionBlock.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr std::size_t kHeaderSize = 6;  // length, value length, type

std::size_t AlignUp4(std::size_t offset)
{
    return (offset + 3) & ~static_cast<std::size_t>(3);
}

char16_t FoldAscii(char16_t c)
{
    return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c;
}

std::string ReplaceAll(const std::string& text, std::string_view from, char to)
{
    std::string result;
    result.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        if (text.compare(at, from.size(), from) == 0) {
            result.push_back(to);
            at += from.size();
        } else {
            result.push_back(text[at++]);
        }
    }
    return result;
}

}  // namespace

WORD VersionBlock::Word(std::size_t offset) const
{
    return static_cast<WORD>(m_data[offset] | (m_data[offset + 1] << 8));
}

std::optional<VersionBlock::Node> VersionBlock::ReadNode(std::size_t offset, std::size_t limit) const
{
    if (offset > limit || limit - offset < kHeaderSize)
        return std::nullopt;
    const std::size_t length = Word(offset);
    if (length < kHeaderSize)
        return std::nullopt;
    Node node{};
    node.begin = offset;
    node.end = offset + length < limit ? offset + length : limit;
    const std::size_t valueLength = Word(offset + 2);
    const WORD type = Word(offset + 4);
    if (type > 1)  // the 16-bit layout (no type word) or garbage
        return std::nullopt;
    node.text = type == 1;

    node.keyBegin = offset + kHeaderSize;
    std::size_t at = node.keyBegin;
    while (at + 1 < node.end && Word(at) != 0)
        at += 2;
    if (at + 1 >= node.end)
        return std::nullopt;  // key without terminator
    node.keyLength = (at - node.keyBegin) / 2;

    node.valueBegin = AlignUp4(at + 2);
    if (node.valueBegin > node.end)
        node.valueBegin = node.end;
    const std::size_t valueBytes = node.text ? valueLength * 2 : valueLength;
    node.valueSize = valueBytes < node.end - node.valueBegin ? valueBytes : node.end - node.valueBegin;
    node.childrenBegin = AlignUp4(node.valueBegin + valueBytes);
    return node;
}

bool VersionBlock::KeyEquals(const Node& node, std::string_view key) const
{
    if (node.keyLength != key.size())
        return false;
    for (std::size_t i = 0; i < key.size(); ++i) {
        const char16_t unit = static_cast<char16_t>(Word(node.keyBegin + 2 * i));
        if (FoldAscii(unit) != FoldAscii(static_cast<unsigned char>(key[i])))
            return false;
    }
    return true;
}

std::optional<VersionBlock::Node> VersionBlock::FindChild(const Node& parent, std::string_view key) const
{
    std::size_t offset = parent.childrenBegin;
    while (offset < parent.end) {
        const auto child = ReadNode(offset, parent.end);
        if (!child)
            return std::nullopt;
        if (KeyEquals(*child, key))
            return child;
        offset = AlignUp4(offset + Word(offset));
    }
    return std::nullopt;
}

std::optional<VersionBlock::Value> VersionBlock::Query(std::string_view path) const
{
    if (m_data == nullptr)
        return std::nullopt;
    auto node = ReadNode(0, m_size);
    while (node) {
        while (!path.empty() && path.front() == '\\')
            path.remove_prefix(1);
        if (path.empty())
            return Value{m_data + node->valueBegin, node->valueSize, node->text};
        const std::size_t slash = path.find('\\');
        node = FindChild(*node, path.substr(0, slash));
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash);
    }
    return std::nullopt;
}

std::optional<VS_FIXEDFILEINFO> VersionBlock::FixedInfo() const
{
    const auto value = Query("\\");
    if (!value || value->text || value->size < sizeof(VS_FIXEDFILEINFO))
        return std::nullopt;
    VS_FIXEDFILEINFO info;
    std::memcpy(&info, value->data, sizeof info);
    return info;
}

std::vector<std::pair<WORD, WORD>> VersionBlock::Translations() const
{
    std::vector<std::pair<WORD, WORD>> pairs;
    const auto value = Query("\\VarFileInfo\\Translation");
    if (!value)
        return pairs;
    for (std::size_t at = 0; at + 4 <= value->size; at += 4) {
        const unsigned char* p = value->data + at;
        pairs.emplace_back(static_cast<WORD>(p[0] | (p[1] << 8)), static_cast<WORD>(p[2] | (p[3] << 8)));
    }
    return pairs;
}

std::optional<std::string> VersionBlock::Text(std::string_view path) const
{
    const auto value = Query(path);
    if (!value)
        return std::nullopt;
    std::wstring wide;
    for (std::size_t at = 0; at + 1 < value->size; at += 2) {
        const wchar_t unit = static_cast<wchar_t>(value->data[at] | (value->data[at + 1] << 8));
        if (unit == 0)
            break;
        wide.push_back(unit);
    }
    if (wide.empty())
        return std::string();
    const int wideLength = static_cast<int>(wide.size());
    const int length = ::WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0)
        ::WideCharToMultiByte(CP_ACP, 0, wide.data(), wideLength, narrow.data(), length, nullptr, nullptr);
    return narrow;
}

std::string ProductVersionText(const std::vector<unsigned char>& block)
{
    return ProductVersionText(VersionBlock(block));
}

std::string ProductVersionText(const VersionBlock& view)
{
    std::string version = "0.0.0.0";

    if (const auto fixed = view.FixedInfo()) {
        char text[64];
        std::snprintf(text, sizeof text, "%d.%d.%d.%d", HIWORD(fixed->dwProductVersionMS),
                      LOWORD(fixed->dwProductVersionMS), HIWORD(fixed->dwProductVersionLS),
                      LOWORD(fixed->dwProductVersionLS));
        version = text;
        while (version.size() >= 2 && version.compare(version.size() - 2, 2, ".0") == 0)
            version.erase(version.size() - 2);
    }

    for (const auto& [language, codePage] : view.Translations()) {
        char path[64];
        std::snprintf(path, sizeof path, "\\StringFileInfo\\%04X%04X\\%s", language, codePage, "ProductVersion");
        if (const auto text = view.Text(path))
            return ReplaceAll(ReplaceAll(*text, ", ", '.'), ",", '.');
    }
    return version;
}

std::vector<unsigned char> ReadFileVersionBlock(const std::string& path)
{
    DWORD ignored = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return {};
    std::vector<unsigned char> block(size);
    if (!::GetFileVersionInfoA(path.c_str(), 0, size, block.data()))
        return {};
    return block;
}

std::string ProgramProductVersionText()
{
    std::string path(MAX_PATH, '\0');
    for (;;) {
        const DWORD length = ::GetModuleFileNameA(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (length == 0)
            return ProductVersionText({});
        if (length < path.size()) {
            path.resize(length);
            break;
        }
        path.resize(path.size() * 2);  // truncated: a long path
    }
    return ProductVersionText(ReadFileVersionBlock(path));
}
