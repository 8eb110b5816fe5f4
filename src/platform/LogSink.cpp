#include "platform/LogSink.h"

#include <cstdarg>
#include <cstdio>
#include <execinfo.h>
#include <memory>

namespace corvex {

namespace {

std::string vformatString(const char* format, va_list arguments)
{
    va_list copy;
    va_copy(copy, arguments);
    int length = std::vsnprintf(nullptr, 0, format, copy);
    va_end(copy);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    std::vsnprintf(text.data(), text.size() + 1, format, arguments);
    return text;
}

} // namespace

std::string formatString(const char* format, ...)
{
    va_list arguments;
    va_start(arguments, format);
    std::string text = vformatString(format, arguments);
    va_end(arguments);
    return text;
}

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
