// The small element writer and cursor reader of the volume description
// dialect: elements, closing tags, element text and name = "value"
// attributes inside an opening tag. No declaration, comments, CDATA,
// entities or namespaces; text is written and returned raw.
//
// Writer: OpenElement / WriteElement / CloseElement append lines to the
// text, Save writes it to a file in one piece.
// Reader: Load (or SetText), Reset, then GetNextItem until it returns false.
//
// The text handling here makes no platform calls (it is fuzzed natively);
// Load and Save live in XmlDocumentFile.cpp and go through PlatformFile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class XmlDocument {
public:
    XmlDocument() = default;
    virtual ~XmlDocument() = default;

    // Each appends `indent` tabs (none for 0 or less), the tag, and CR LF
    // when `newline` is set.
    void OpenElement(const std::string& name, int indent, bool newline);
    void CloseElement(const std::string& name, int indent, bool newline);
    void WriteElement(const std::string& name, const std::string& text, int indent, bool newline);
    void WriteElement(const std::string& name, std::int32_t value, int indent, bool newline);

    // Creates or truncates the file and writes the text with nothing added,
    // flushed to the disk before it returns true. A file error gives false,
    // with the system's error of the failed step as the last error.
    bool Save(const std::string& path) const;

    // Replaces the text with the whole file; false (text unchanged) when the
    // file is missing, unreadable or larger than kMaxLoadBytes. The cursor is
    // not rewound: call Reset.
    bool Load(const std::string& path);

    void Reset();

    // The next element, closing tag or attribute. An element's value is its
    // text up to the next tag, trimmed of white space; a container element
    // has an empty value. A closing tag comes as "/Name" with isClosing set.
    // False at the end, or where the document ends inside a tag.
    //
    // An attribute is `name = "value"`: the name runs up to the first space
    // or '=', the value lies between the first two quotes. A name that would
    // run on past its value's closing quote makes the attribute malformed
    // (this keeps a hostile tag from costing time quadratic in its length);
    // a malformed attribute ends the attributes of its tag.
    bool GetNextItem(std::string& name, std::string& value, bool& isClosing, bool& isAttribute);

    const std::string& GetText() const { return m_strText; }
    void SetText(std::string text) { m_strText = std::move(text); }

    // A description file is a few hundred bytes; anything near this size is
    // not one, and loading it would only cost memory.
    static constexpr std::size_t kMaxLoadBytes = 1024 * 1024;

private:
    bool SkipTo(char c);
    std::string ReadTagName();
    bool HasPendingAttributes() const { return m_nPendingOffset < m_strPendingAttributes.size(); }
    void ClearPendingAttributes();
    bool TakeAttribute(std::string& name, std::string& value);

    std::string m_strText;
    // The rest of the last opening tag not yet returned as attributes is
    // m_strPendingAttributes from m_nPendingOffset on: consuming it by offset
    // keeps a tag with many attributes linear rather than quadratic.
    std::string m_strPendingAttributes;
    std::size_t m_nPendingOffset = 0;
    std::string m_strCurrentElement;
    std::int32_t m_nContentStart = 0;
    std::int32_t m_nPosition = 0;
    std::int32_t m_nLength = 0;
};
