// What stopped an operation, as the report line that follows the run's own
// failure report: what could not be done to what, the system's reason in
// its own words, and what that means for the user's data.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

struct FailureCause {
    std::string path;            // what failed: "E:\Images\IMG0002.AVI"
    std::string failure;         // what could not be done to it: "cannot be deleted"; empty: no cause known
    DWORD code = ERROR_SUCCESS;  // GetLastError() of the call that failed
    std::string outcome;         // what that means for the user's data: "Nothing on E: was deleted."

    bool known() const { return !failure.empty(); }
    // With the calling thread's last error.
    static FailureCause Last(std::string path, std::string failure)
    {
        return FailureCause{std::move(path), std::move(failure), ::GetLastError(), std::string()};
    }
};

// The system's text for an error code, in the user's language, on one line
// without a line end; "Error N." when the system has none.
std::string SystemMessage(DWORD code);

// "<path> <failure>: <system message> <outcome>"; empty for a cause not known.
std::string CauseLine(const FailureCause& cause);
