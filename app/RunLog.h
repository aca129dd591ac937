// The run's report channel: the preparation run reports failures and its
// outcome here without knowing where they go (a file in silent mode, message
// boxes over the confirmation dialog in interactive mode).
#pragma once

#include <string>

class RunLog {
public:
    virtual void Error(const std::string& text) = 0;
    virtual void Message(const std::string& text) = 0;
    // A failure report and, after it, the line that says what stopped it
    // (CauseLine). A log of lines writes them as two errors; an empty cause
    // leaves the report alone.
    virtual void ErrorWithCause(const std::string& text, const std::string& cause)
    {
        Error(text);
        if (!cause.empty())
            Error(cause);
    }

protected:
    // Each log is owned by the one that creates it, never deleted through here.
    ~RunLog() = default;
};
