#include "platform/SystemLogSink.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <syslog.h>

namespace corvex {

SystemLogSink::SystemLogSink()
{
    const char* mirror = std::getenv("CORVEX_LOG_STDERR");
    m_mirrorToStderr = mirror && std::strcmp(mirror, "1") == 0;
    openlog("CorvexVario", LOG_PID, LOG_USER);
}

SystemLogSink::~SystemLogSink()
{
    closelog();
}

void SystemLogSink::writeLine(std::string_view line)
{
    std::string text(line);
    syslog(LOG_NOTICE, "%s", text.c_str());
    if (m_mirrorToStderr) {
        std::fprintf(stderr, "CorvexVario: %s\n", text.c_str());
        std::fflush(stderr);
    }
}

} // namespace corvex
