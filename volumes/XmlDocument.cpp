#include "volumes/XmlDocument.h"

#include <limits>

namespace {

bool IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

std::string Trimmed(const std::string& text, std::size_t begin, std::size_t end)
{
    while (begin < end && IsWhiteSpace(text[begin]))
        ++begin;
    while (end > begin && IsWhiteSpace(text[end - 1]))
        --end;
    return text.substr(begin, end - begin);
}

void AppendIndent(std::string& text, int indent)
{
    if (indent > 0)
        text.append(static_cast<std::size_t>(indent), '\t');
}

void AppendNewline(std::string& text, bool newline)
{
    if (newline)
        text += "\r\n";
}

}  // namespace

void XmlDocument::OpenElement(const std::string& name, int indent, bool newline)
{
    AppendIndent(m_strText, indent);
    m_strText += '<';
    m_strText += name;
    m_strText += '>';
    AppendNewline(m_strText, newline);
}

void XmlDocument::CloseElement(const std::string& name, int indent, bool newline)
{
    AppendIndent(m_strText, indent);
    m_strText += "</";
    m_strText += name;
    m_strText += '>';
    AppendNewline(m_strText, newline);
}

void XmlDocument::WriteElement(const std::string& name, const std::string& text, int indent, bool newline)
{
    AppendIndent(m_strText, indent);
    m_strText += '<';
    m_strText += name;
    m_strText += '>';
    m_strText += text;
    m_strText += "</";
    m_strText += name;
    m_strText += '>';
    AppendNewline(m_strText, newline);
}

void XmlDocument::WriteElement(const std::string& name, std::int32_t value, int indent, bool newline)
{
    WriteElement(name, std::to_string(value), indent, newline);
}

void XmlDocument::Reset()
{
    m_nPosition = 0;
    // Positions are 32-bit; a longer text (never loaded from a file, which is
    // capped far below) is read up to that length.
    const std::size_t limit = static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max());
    m_nLength = static_cast<std::int32_t>(m_strText.size() < limit ? m_strText.size() : limit);
    ClearPendingAttributes();
    m_strCurrentElement.clear();
    m_nContentStart = 0;
}

bool XmlDocument::SkipTo(char c)
{
    while (m_nPosition < m_nLength && m_strText[static_cast<std::size_t>(m_nPosition)] != c)
        ++m_nPosition;
    return m_nPosition < m_nLength;
}

// The cursor stands on the first character behind '<'. Only a space or '>'
// ends a name, so "<X/>" gives "X/" and "<A\r\n>" gives "A".
std::string XmlDocument::ReadTagName()
{
    if (m_nPosition >= m_nLength || m_strText[static_cast<std::size_t>(m_nPosition)] == ' ')
        return std::string();
    const std::int32_t start = m_nPosition;
    while (m_nPosition < m_nLength) {
        const char c = m_strText[static_cast<std::size_t>(m_nPosition)];
        if (c == '>' || c == ' ')
            break;
        ++m_nPosition;
    }
    if (m_nPosition >= m_nLength)
        return std::string();
    return Trimmed(m_strText, static_cast<std::size_t>(start), static_cast<std::size_t>(m_nPosition));
}

void XmlDocument::ClearPendingAttributes()
{
    m_strPendingAttributes.clear();
    m_nPendingOffset = 0;
}

bool XmlDocument::TakeAttribute(std::string& name, std::string& value)
{
    const std::string& t = m_strPendingAttributes;
    const std::size_t start = m_nPendingOffset;
    const std::size_t separator = t.find_first_of(" =", start);
    const std::size_t open = t.find('"', start);
    const std::size_t close = open == std::string::npos ? std::string::npos : t.find('"', open + 1);
    // Each search either ends within this attribute or ends the attributes,
    // so a whole tag costs time linear in its length.
    if (separator == std::string::npos || separator == start || open == std::string::npos || open == start ||
        close == std::string::npos || separator > close) {
        name.clear();
        value.clear();
        ClearPendingAttributes();
        return false;
    }
    name = Trimmed(t, start, separator);
    value = Trimmed(t, open + 1, close);
    std::size_t rest = close + 1;
    while (rest < t.size() && IsWhiteSpace(t[rest]))
        ++rest;
    m_nPendingOffset = rest;
    if (!HasPendingAttributes())
        ClearPendingAttributes();
    return true;
}

bool XmlDocument::GetNextItem(std::string& name, std::string& value, bool& isClosing, bool& isAttribute)
{
    name.clear();
    value.clear();
    isClosing = false;
    isAttribute = false;

    if (HasPendingAttributes()) {
        // What is left of a tag such as <X a="1" /> closes the element.
        if (m_strPendingAttributes.size() - m_nPendingOffset == 1 && m_strPendingAttributes[m_nPendingOffset] == '/') {
            name = "/" + m_strCurrentElement;
            ClearPendingAttributes();
            isClosing = true;
            return true;
        }
        if (TakeAttribute(name, value)) {
            isAttribute = true;
            return true;
        }
    }

    if (!SkipTo('<'))
        return false;
    ++m_nPosition;
    if (m_nPosition >= m_nLength)
        return false;

    name = ReadTagName();
    m_strCurrentElement = name;
    if (!name.empty() && name[0] == '/') {
        isClosing = true;
        return true;
    }

    const std::int32_t attributeStart = m_nPosition;
    if (!SkipTo('>'))
        return false;
    if (m_nPosition != attributeStart) {
        m_strPendingAttributes = Trimmed(m_strText, static_cast<std::size_t>(attributeStart),
                                         static_cast<std::size_t>(m_nPosition));
        m_nPendingOffset = 0;
    }
    m_nContentStart = m_nPosition + 1;

    if (!SkipTo('<'))
        return true;
    value = Trimmed(m_strText, static_cast<std::size_t>(m_nContentStart), static_cast<std::size_t>(m_nPosition));
    // The cursor stays on that '<': it opens the next item.
    return true;
}
