#include "platform/LogSink.h"

#include "base/Format.h"

#include <cstdarg>
#include <cstdio>
#include <execinfo.h>
#include <memory>

namespace corvex {

void logLine(LogSink& sink, const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = vformatString(format, arguments);
    va_end(arguments);
    sink.writeLine(text);
}

std::string currentCallStack()
{
    void* frames[32];
    int count = backtrace(frames, 32);
    std::unique_ptr<char*, decltype(&std::free)> symbols(backtrace_symbols(frames, count), &std::free);
    std::string text = "(";
    // Frame 0 is this function.
    for (int i = 1; i < count; ++i) {
        if (i > 1)
            text += ", ";
        text += symbols ? symbols.get()[i] : "?";
    }
    text += ")";
    return text;
}

} // namespace corvex
