#pragma once

#include <chrono>
#include <cstddef>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace corvex {

class EventLoopTurner;
class LogSink;

// One step of an operation as the user reads it.
struct OperationStep {
    // What the operation does now, as a sentence ("Downloading flight 3 of 7. Please wait...").
    std::string text;
    // Where the operation goes part by part (the flights of an export): this part's
    // number, from 1, and how many there are; 0 and 0 otherwise.
    std::size_t part { 0 };
    std::size_t parts { 0 };
};

// Where an operation's progress goes: the please-wait sheet in the desktop program, a
// line on the terminal in `corvex`, a list in the tests. It is called on the
// operation's (the main) thread between two of its exchanges, which is where a window
// repaints and turns its event loop.
class ProgressSink {
public:
    virtual ~ProgressSink() = default;
    // A step begins; how far it got is unknown until progressed() says.
    virtual void stepStarted(const OperationStep& step) = 0;
    // The share of the whole operation done, 0 to 1 (nothing while it is unknown), and
    // one line of detail ("120 KB received"; may be empty).
    virtual void progressed(std::optional<double> fraction, const std::string& detail) = 0;
    // The operation is over: what showed it goes away. May come more than once.
    virtual void ended() = 0;
};

// Whether the user (or the program, at Quit) asked an operation to stop. Every copy
// shares one flag, which any thread may set and read: the window's Cancel sets it, the
// operation and the work it runs off the window's thread read it.
class CancelToken {
public:
    CancelToken();

    void cancel() const { m_flag->store(true); }
    bool isCancelled() const { return m_flag->load(); }
    // Cleared for the next operation of a window that keeps one token for all of them.
    void reset() const { m_flag->store(false); }

private:
    std::shared_ptr<std::atomic<bool>> m_flag;
};

// What every long operation runs through, whoever starts it (a window, the command
// line, a test): its log, its progress, whether the user cancelled it, the clock and
// its sleeps. A copy is cheap; the log, the sink and whatever the functions refer to
// must outlive every copy.
//
// Without settings there is no progress, nothing cancels, the clock is the system's
// and sleeps are plain; the desktop program's sleeps turn the event loop instead, so
// that the windows stay painted while an operation waits.
class OperationContext {
public:
    using Clock = std::function<std::chrono::system_clock::time_point()>;
    using Sleep = std::function<void(std::chrono::milliseconds)>;

    explicit OperationContext(LogSink& log);

    // The settings, each handing the context back, so that one line makes one.
    OperationContext& withProgress(ProgressSink* sink);
    // The token whose cancel ends this operation; by default one that nobody cancels.
    OperationContext& withCancel(CancelToken token);
    OperationContext& withClock(Clock clock);
    OperationContext& withSleep(Sleep sleep);
    // Sleeps that turn the event loop for their length.
    OperationContext& withSleepsTurning(EventLoopTurner& eventLoop);

    LogSink& log() const { return *m_log; }
    std::chrono::system_clock::time_point now() const;
    void sleepFor(std::chrono::milliseconds duration) const;
    // Polled by the operation between its steps; a device transfer that finds it set
    // ends as DeviceErrorKind::Cancelled.
    bool isCancelled() const { return m_cancel.isCancelled(); }
    const CancelToken& cancelToken() const { return m_cancel; }

    void beginStep(const std::string& text) const;
    // The share of this context's own range (0 to 1); nothing while it is unknown.
    void progress(std::optional<double> fraction, const std::string& detail = {}) const;
    void finish() const;

    // Runs `work` on a thread of its own and returns when it has ended. Meanwhile this
    // thread waits in this context's sleeps (the desktop program's turn the event loop,
    // so that its windows stay painted), hands on the share of the work done and the
    // lines it logs, and shares this context's cancel token with it. The context `work`
    // gets is for its own thread alone. (Work that must not hold its caller up, and work
    // shared among several threads, go through platform/OffThread.h.)
    void runOffThread(const std::function<void(const OperationContext& worker)>& work) const;

    // Part `index` (from 0) of `count` equal parts of this context's range: what the
    // part reports as 0 to 1 lands in its slice of the whole, an unknown share at the
    // slice's start, and its steps are numbered index + 1 of count.
    OperationContext part(std::size_t index, std::size_t count) const;

private:
    LogSink* m_log;
    ProgressSink* m_sink { nullptr };
    CancelToken m_cancel;
    Clock m_clock;
    Sleep m_sleep;
    double m_rangeStart { 0 };
    double m_rangeLength { 1 };
    std::size_t m_part { 0 };
    std::size_t m_parts { 0 };
};

} // namespace corvex
