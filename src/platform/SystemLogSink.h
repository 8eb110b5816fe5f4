#pragma once

#include "platform/LogSink.h"

namespace corvex {

// The system log (the journal) under the ident "CorvexVario", mirrored to stderr when
// CORVEX_LOG_STDERR=1.
class SystemLogSink final : public LogSink {
public:
    SystemLogSink();
    ~SystemLogSink() override;
    void writeLine(std::string_view line) override;

private:
    bool m_mirrorToStderr { false };
};

} // namespace corvex
