#include "recorderlibs/FailureCause.h"

std::string SystemMessage(DWORD code)
{
    char* buffer = nullptr;
    // Language 0: the user's language, falling back as the system does.
    const DWORD length = ::FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                              FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK,
                                          nullptr, code, 0, reinterpret_cast<LPSTR>(&buffer), 0, nullptr);
    std::string text = length != 0 && buffer ? std::string(buffer, length) : std::string();
    ::LocalFree(buffer);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\r' || text.back() == '\n'))
        text.pop_back();
    return text.empty() ? "Error " + std::to_string(code) + "." : text;
}

std::string CauseLine(const FailureCause& cause)
{
    if (!cause.known())
        return std::string();
    std::string line = cause.path + " " + cause.failure + ": " + SystemMessage(cause.code);
    if (!cause.outcome.empty())
        line += " " + cause.outcome;
    return line;
}
