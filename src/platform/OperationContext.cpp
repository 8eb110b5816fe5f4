#include "platform/OperationContext.h"

#include "platform/EventLoop.h"

#include <algorithm>
#include <thread>

namespace corvex {

OperationContext::OperationContext(LogSink& log)
    : m_log(&log)
{
}

OperationContext& OperationContext::withProgress(ProgressSink* sink)
{
    m_sink = sink;
    return *this;
}

OperationContext& OperationContext::withCancel(CancelCheck cancelled)
{
    m_cancelled = std::move(cancelled);
    return *this;
}

OperationContext& OperationContext::withClock(Clock clock)
{
    m_clock = std::move(clock);
    return *this;
}

OperationContext& OperationContext::withSleep(Sleep sleep)
{
    m_sleep = std::move(sleep);
    return *this;
}

OperationContext& OperationContext::withSleepsTurning(EventLoopTurner& eventLoop)
{
    return withSleep([&eventLoop](std::chrono::milliseconds duration) {
        eventLoop.runEventLoopFor(std::chrono::duration<double>(duration).count());
    });
}

std::chrono::system_clock::time_point OperationContext::now() const
{
    return m_clock ? m_clock() : std::chrono::system_clock::now();
}

void OperationContext::sleepFor(std::chrono::milliseconds duration) const
{
    if (m_sleep)
        m_sleep(duration);
    else
        std::this_thread::sleep_for(duration);
}

bool OperationContext::isCancelled() const
{
    return m_cancelled && m_cancelled();
}

void OperationContext::beginStep(const std::string& text) const
{
    if (m_sink)
        m_sink->stepStarted(OperationStep { text, m_part, m_parts });
}

void OperationContext::progress(std::optional<double> fraction, const std::string& detail) const
{
    if (!m_sink)
        return;
    // Within a part, even a share that is not known moves the whole to the part's start.
    std::optional<double> whole;
    if (fraction)
        whole = m_rangeStart + std::clamp(*fraction, 0.0, 1.0) * m_rangeLength;
    else if (m_rangeLength < 1)
        whole = m_rangeStart;
    m_sink->progressed(whole, detail);
}

void OperationContext::finish() const
{
    if (m_sink)
        m_sink->ended();
}

OperationContext OperationContext::part(std::size_t index, std::size_t count) const
{
    OperationContext part = *this;
    if (count == 0)
        return part;
    part.m_rangeLength = m_rangeLength / static_cast<double>(count);
    part.m_rangeStart = m_rangeStart + part.m_rangeLength * static_cast<double>(index);
    part.m_part = index + 1;
    part.m_parts = count;
    return part;
}

} // namespace corvex
