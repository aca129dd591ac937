// A run log that keeps every report, in order, for tests to compare.
#pragma once

#include "app/RunLog.h"

#include <string>
#include <vector>

class RecordingRunLog : public RunLog {
public:
    void Error(const std::string& text) override { reports.push_back("Error:" + text); }
    void Message(const std::string& text) override { reports.push_back("Message: " + text); }

    std::vector<std::string> reports;
};
