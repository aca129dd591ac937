#include "app/MessageBoxRunLog.h"

#include "recorderlibs/VkMessageBox.h"

void MessageBoxRunLog::Error(const std::string& text)
{
    VkMessageBox(m_hOwner, text.c_str(), "Error", MB_ICONEXCLAMATION | MB_OK);
}

void MessageBoxRunLog::Message(const std::string& text)
{
    VkMessageBox(m_hOwner, text.c_str(), "", MB_OK);
}

void MessageBoxRunLog::ErrorWithCause(const std::string& text, const std::string& cause)
{
    std::string both = text;
    while (!both.empty() && both.back() == '\n')
        both.pop_back();
    Error(cause.empty() ? text : both + "\n\n" + cause);
}
