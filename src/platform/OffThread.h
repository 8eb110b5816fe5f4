#pragma once

#include "platform/OperationContext.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

// Work off the window's thread goes through the operation context, in one of three
// shapes, and stops when the context's cancel token is cancelled:
// - OperationContext::runOffThread: the caller waits (in the context's sleeps, which
//   turn the desktop program's event loop) for one piece of work;
// - BackgroundWork: a pass that runs while its owner goes on (the library's scoring,
//   the flight view's score and airspace check); its owner cancels it and waits for it
//   when it goes away;
// - runOnWorkers: items shared among several threads, each result handed back to the
//   calling thread as it comes (the scores of many flights, written by one thread).
namespace corvex {

// One pass on a thread of its own. The work gets the context it was started with: its
// log and progress sink are called on the work's thread, so they must be safe there
// (a window posts what they get to its own thread). Cancelling cancels that context's
// token; going away cancels it too and waits for the work to end.
class BackgroundWork {
public:
    BackgroundWork() = default;
    ~BackgroundWork() { cancelAndWait(); }
    BackgroundWork(const BackgroundWork&) = delete;
    BackgroundWork& operator=(const BackgroundWork&) = delete;

    // Starts `work`; a pass still running is cancelled and waited for first.
    void start(const OperationContext& context, std::function<void(const OperationContext&)> work)
    {
        cancelAndWait();
        m_cancel = context.cancelToken();
        m_thread = std::thread([context, work = std::move(work)] { work(context); });
    }

    // Whether a pass was started and not yet waited for (it may have ended meanwhile).
    bool started() const { return m_thread.joinable(); }
    void cancel() const
    {
        if (m_cancel)
            m_cancel->cancel();
    }
    void wait()
    {
        if (m_thread.joinable())
            m_thread.join();
    }
    void cancelAndWait()
    {
        cancel();
        wait();
    }

private:
    std::optional<CancelToken> m_cancel;
    std::thread m_thread;
};

// Calls produce(i) for every i below `count` on up to `threads` worker threads (0: one
// per processor) and consume(i, result) on the calling thread as each result comes,
// in the order they come. Once the context is cancelled no item is begun; the results
// of those under way are still handed over. Returns how many items were consumed.
template<typename Produce, typename Consume>
std::size_t runOnWorkers(const OperationContext& context, unsigned threads, std::size_t count, Produce&& produce, Consume&& consume)
{
    using Value = decltype(produce(std::size_t {}));
    if (count == 0)
        return 0;
    std::mutex mutex;
    std::condition_variable ready;
    std::deque<std::pair<std::size_t, Value>> done;
    std::size_t next = 0;
    std::size_t running = std::min<std::size_t>(threads ? threads : std::max(1u, std::thread::hardware_concurrency()), count);

    const auto work = [&] {
        for (;;) {
            std::size_t item = 0;
            {
                const std::lock_guard lock(mutex);
                if (next >= count || context.isCancelled())
                    break;
                item = next++;
            }
            Value value = produce(item);
            const std::lock_guard lock(mutex);
            done.emplace_back(item, std::move(value));
            ready.notify_one();
        }
        const std::lock_guard lock(mutex);
        --running;
        ready.notify_one();
    };
    std::vector<std::thread> workers;
    const std::size_t started = running;
    for (std::size_t i = 0; i < started; ++i)
        workers.emplace_back(work);

    std::size_t consumed = 0;
    for (bool finished = false; !finished;) {
        std::deque<std::pair<std::size_t, Value>> arrived;
        {
            std::unique_lock lock(mutex);
            // Woken by a result or the last worker's end; the timeout lets the consumer
            // see a cancel that no result brings.
            ready.wait_for(lock, std::chrono::milliseconds(100), [&] { return !done.empty() || running == 0; });
            arrived.swap(done);
            finished = running == 0 && done.empty();
        }
        for (auto& [item, value] : arrived) {
            consume(item, std::move(value));
            ++consumed;
        }
    }
    for (std::thread& worker : workers)
        worker.join();
    return consumed;
}

} // namespace corvex
