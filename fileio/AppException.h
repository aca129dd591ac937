// The exception of the file I/O layer, and the checks that raise exceptions.
//
// An AppException carries three things besides its short message: the
// application's own code for the failure (its text lives in the recorder's
// message file "ResErrorMsg.dll"), the platform's error code and where in our
// sources it was raised. what() puts them together into one readable line:
//
//   App Error 0xc00403f5: <text of the code>Sys error 0x70: <system text> FILE: <unit> LINE: <n> - <message>
//
// Plain precondition checks that fail throw the standard exception classes.
#pragma once

#include <windows.h>

#include <cstdint>
#include <stdexcept>
#include <string>

// Application codes raised by the file I/O layer.
inline constexpr std::uint32_t kAppErrorEvent = 0xC00403F0;  // an event or a wait for transfers failed
inline constexpr std::uint32_t kAppErrorWrite = 0xC00403F5;  // a write failed, or a write to a closed or failed file
inline constexpr std::uint32_t kAppErrorRead = 0xC00403FA;   // a read failed, or a read of a closed file

// The recorder's message file, and where its event-log registration lives
// (under HKEY_LOCAL_MACHINE) when it is not found by the search rules.
inline constexpr const char* kMessageFileName = "ResErrorMsg.dll";
inline constexpr const char* kMessageFileKey =
    "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Kestrix System";
inline constexpr const char* kMessageFileValue = "EventMessageFile";
inline constexpr const char* kTextNotFound = "<Text not found>";

class AppException : public std::runtime_error {
public:
    AppException(const std::string& message, std::uint32_t appCode, std::uint32_t sysError);
    AppException(const std::string& message, std::uint32_t appCode, std::uint32_t sysError, const char* sourceFile,
                 int line);
    AppException(const AppException&) = default;
    AppException& operator=(const AppException&) = default;
    ~AppException() override;

    // The whole description, built afresh on every call; valid until the next
    // call or the end of the object.
    const char* what() const noexcept override;

    std::uint32_t SysError() const noexcept { return m_sysError; }
    std::uint32_t AppCode() const noexcept { return m_appCode; }
    const std::string& Location() const noexcept { return m_location; }
    const char* Message() const noexcept { return std::runtime_error::what(); }

private:
    std::string BuildDescription() const;

    std::uint32_t m_sysError;
    std::uint32_t m_appCode;
    std::string m_location;
    mutable std::string m_description;
};

// The text of an application code from the recorder's message file. False,
// with text set to "<Text not found>", when the file or the message is missing.
bool GetAppErrorText(std::uint32_t code, std::string& text);

// The system's English text of a platform error without line breaks; empty
// when the system has none.
std::string GetSystemErrorText(std::uint32_t sysError);

// A failure the file layer absorbs (a read-ahead that went wrong, a failure
// of the completion loop): one line to the program's trace at level 1.
// Never throws, whatever the trace library does.
void TraceFileIoFailure(const std::string& text) noexcept;

// Checks: nothing happens while the condition holds.
void AppCheck(bool condition, const std::string& message, std::uint32_t appCode);
void AppCheck(bool condition, const std::string& message, std::uint32_t appCode, std::uint32_t sysError);
void RuntimeCheck(bool condition, const std::string& message);   // std::runtime_error
void RangeCheck(bool condition, const std::string& message);     // std::range_error
void IndexCheck(bool condition, const std::string& message);     // std::out_of_range
void ArgumentCheck(bool condition, const std::string& message);  // std::invalid_argument
