#pragma once

#include "base/Format.h"

#include <string>
#include <string_view>

namespace corvex {

// Where the program's diagnostic lines go: the system log in the programs, a list in
// the tests. One call is one line.
class LogSink {
public:
    virtual ~LogSink() = default;
    virtual void writeLine(std::string_view line) = 0;
};

// Lines nobody reads: for work whose caller keeps no log.
class DiscardingLogSink final : public LogSink {
public:
    void writeLine(std::string_view) override { }
};

void logLine(LogSink& sink, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The call stack of the caller as one line, for the read and write error messages.
std::string currentCallStack();

} // namespace corvex
