// The run's report channel: the preparation run reports failures and its
// outcome here without knowing where they go (a file in silent mode, message
// boxes over the confirmation dialog in interactive mode).
#pragma once

#include <string>

class RunLog {
public:
    virtual void Error(const std::string& text) = 0;
    virtual void Message(const std::string& text) = 0;

protected:
    // Each log is owned by the one that creates it, never deleted through here.
    ~RunLog() = default;
};
