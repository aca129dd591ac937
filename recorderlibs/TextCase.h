// Letter case as file names, registry key names and element names of the
// descriptions compare:
// ASCII only, whatever the C runtime's locale (the text code is also built
// natively for the sanitizer runs).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

inline char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

inline char AsciiUpper(char c)
{
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline wchar_t AsciiLower(wchar_t c)
{
    return c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

// The first n characters of a and b, without regard to case.
template <typename Char>
bool SameNoCase(const Char* a, const Char* b, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

template <typename Char>
bool EqualNoCase(const std::basic_string<Char>& a, const std::basic_string<Char>& b)
{
    return a.size() == b.size() && SameNoCase(a.data(), b.data(), a.size());
}

inline bool EqualNoCase(const std::string& a, const char* b)
{
    return EqualNoCase(a, std::string(b));
}

inline bool EqualNoCase(const std::wstring& a, const wchar_t* b)
{
    return EqualNoCase(a, std::wstring(b));
}

// Whether `text` begins with `prefix`, without regard to case.
template <typename Char>
bool StartsWithNoCase(const std::basic_string<Char>& text, const std::basic_string<Char>& prefix)
{
    return text.size() >= prefix.size() && SameNoCase(text.data(), prefix.data(), prefix.size());
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix)
{
    return text.size() >= prefix.size() && SameNoCase(text.data(), prefix.data(), prefix.size());
}

// One key for names that differ only in the letter case of ASCII letters.
inline std::string UpperAscii(std::string text)
{
    for (char& c : text)
        c = AsciiUpper(c);
    return text;
}
