#include "platform/OperationContext.h"

#include "platform/EventLoop.h"
#include "platform/LogSink.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

namespace corvex {

CancelToken::CancelToken()
    : m_flag(std::make_shared<std::atomic<bool>>(false))
{
}

OperationContext::OperationContext(LogSink& log)
    : m_log(&log)
{
}

OperationContext& OperationContext::withProgress(ProgressSink* sink)
{
    m_sink = sink;
    return *this;
}

OperationContext& OperationContext::withCancel(CancelToken token)
{
    m_cancel = std::move(token);
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

namespace {

// What a worker thread reports, kept until the waiting thread hands it on.
class WorkerRelay final : public ProgressSink, public LogSink {
public:
    void stepStarted(const OperationStep&) override { }
    void progressed(std::optional<double> fraction, const std::string& detail) override
    {
        const std::lock_guard lock(m_mutex);
        m_fraction = fraction;
        m_detail = detail;
        m_progressed = true;
    }
    void ended() override { }
    void writeLine(std::string_view line) override
    {
        const std::lock_guard lock(m_mutex);
        m_lines.emplace_back(line);
    }

    void handOn(const OperationContext& context)
    {
        std::vector<std::string> lines;
        std::optional<double> fraction;
        std::string detail;
        bool progressed = false;
        {
            const std::lock_guard lock(m_mutex);
            lines.swap(m_lines);
            fraction = m_fraction;
            detail = m_detail;
            progressed = std::exchange(m_progressed, false);
        }
        for (const std::string& line : lines)
            context.log().writeLine(line);
        if (progressed)
            context.progress(fraction, detail);
    }

private:
    std::mutex m_mutex;
    std::vector<std::string> m_lines;
    std::optional<double> m_fraction;
    std::string m_detail;
    bool m_progressed { false };
};

} // namespace

void OperationContext::runOffThread(const std::function<void(const OperationContext& worker)>& work) const
{
    WorkerRelay relay;
    std::atomic<bool> done { false };
    OperationContext worker(relay);
    worker.withProgress(&relay).withCancel(m_cancel);
    std::thread thread([&] {
        work(worker);
        done = true;
    });
    while (!done) {
        sleepFor(std::chrono::milliseconds(20));
        relay.handOn(*this);
    }
    thread.join();
    relay.handOn(*this);
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
