// The operation context: what a part reports lands in its slice of the whole, the
// clock, sleeps and cancel reach every part, and a cancel ends a device transfer.
#include "platform/OffThread.h"
#include "platform/OperationContext.h"
#include "support/DeviceTestRig.h"

#include <gtest/gtest.h>

#include <atomic>
#include <set>
#include <thread>

namespace corvex {
namespace {

using namespace std::chrono_literals;
using testing::CapturingLogSink;
using testing::DeviceTestRig;
using testing::RecordingProgress;

TEST(OperationContext, APartReportsIntoItsSliceOfTheWhole)
{
    struct Case {
        std::vector<std::pair<std::size_t, std::size_t>> parts; // index of count, outermost first
        std::optional<double> reported;
        int perMille; // of the whole, -1 while unknown
        std::string step;
    };
    const std::vector<Case> cases {
        { {}, 0.25, 250, "step s" },
        { {}, std::nullopt, -1, "step s" },
        { { { 2, 4 } }, 0.5, 625, "step s [3/4]" },
        // A part whose share is unknown still moves the whole to its start.
        { { { 2, 4 } }, std::nullopt, 500, "step s [3/4]" },
        { { { 0, 3 } }, 1.5, 333, "step s [1/3]" },
        { { { 1, 2 }, { 1, 5 } }, 0.0, 600, "step s [2/5]" },
        { { { 3, 0 } }, 0.5, 500, "step s" },
    };
    for (const Case& c : cases) {
        CapturingLogSink log;
        RecordingProgress shown;
        OperationContext context = OperationContext(log).withProgress(&shown);
        for (const auto& [index, count] : c.parts)
            context = context.part(index, count);
        context.beginStep("s");
        context.progress(c.reported, "detail");
        context.finish();
        EXPECT_EQ(shown.perMille, std::vector<int> { c.perMille }) << c.step;
        EXPECT_EQ(shown.steps, (std::vector<std::string> { c.step, "end" }));
        EXPECT_EQ(shown.details, std::vector<std::string> { "detail" });
    }
}

TEST(OperationContext, PartsKeepTheClockTheSleepsAndTheCancel)
{
    CapturingLogSink log;
    const std::chrono::system_clock::time_point moment(std::chrono::hours(7));
    std::vector<std::chrono::milliseconds> slept;
    const CancelToken cancel;
    OperationContext context(log);
    context.withClock([&] { return moment; }).withSleep([&](std::chrono::milliseconds d) { slept.push_back(d); });
    context.withCancel(cancel);
    const OperationContext part = context.part(1, 3).part(0, 2);
    EXPECT_EQ(part.now(), moment);
    part.sleepFor(250ms);
    EXPECT_EQ(slept, std::vector<std::chrono::milliseconds> { 250ms });
    EXPECT_FALSE(part.isCancelled());
    cancel.cancel();
    EXPECT_TRUE(part.isCancelled());
    EXPECT_EQ(&part.log(), &log);

    // Without settings: the system's clock, nothing cancels, nobody is shown anything.
    const OperationContext plain(log);
    EXPECT_LT(std::chrono::abs(plain.now() - std::chrono::system_clock::now()), 1min);
    EXPECT_FALSE(plain.isCancelled());
    plain.progress(0.5);
}

// A track log of three sectors whose transfer is cancelled after some of them: it ends
// as Cancelled after the sector in hand and asks for no other; the progress of each
// sector came first. After the scope the device is back in its own context.
TEST(OperationContext, ACancelEndsADeviceTransferAsCancelled)
{
    const auto sector = [](std::uint8_t blockField) { return Bytes { 0x04, 0x00, blockField, 3, 1, 2, 3 }; };
    const std::vector<int> everySector { 333, 667, 1000 };
    for (const std::size_t sectorsBeforeCancel : { 0, 1, 2 }) {
        DeviceTestRig rig(testing::scriptedAnswers({ sector(2), sector(1), sector(0) }));
        RecordingProgress shown;
        const CancelToken cancel;
        shown.onProgress = [&] {
            if (shown.perMille.size() > sectorsBeforeCancel)
                cancel.cancel();
        };
        const void* lent = nullptr;
        {
            const OperationContext context = rig.context().withProgress(&shown).withCancel(cancel);
            const CorvexDevice::OperationScope scope(*rig.device, context);
            lent = &rig.device->context();
            EXPECT_EQ(lent, &context);
            const auto samples = rig.device->downloadLocationSamplesForFlightNumber(7, nullptr, nullptr);
            ASSERT_FALSE(samples);
            EXPECT_EQ(samples.error().kind, DeviceErrorKind::Cancelled) << sectorsBeforeCancel;
        }
        EXPECT_NE(&rig.device->context(), lent);
        EXPECT_EQ(rig.line().written.size(), sectorsBeforeCancel + 1);
        EXPECT_EQ(shown.perMille,
            std::vector<int>(everySector.begin(), everySector.begin() + static_cast<std::ptrdiff_t>(sectorsBeforeCancel + 1)));
        EXPECT_EQ(shown.details.back(), "0 KB received");
        EXPECT_TRUE(rig.log.contains("The transfer was cancelled"));
    }
}


// Work off the window's thread: every result comes back to the calling thread; a cancel
// begins no further item but hands over those under way; a background pass ends when
// its owner goes away, whatever it was doing.
TEST(OperationContext, WorkOffTheThreadComesBackAndStopsOnCancel)
{
    CapturingLogSink log;
    const auto caller = std::this_thread::get_id();
    for (const unsigned threads : { 1u, 3u }) {
        SCOPED_TRACE(threads);
        std::set<std::size_t> items;
        const std::size_t consumed = runOnWorkers(
            OperationContext(log), threads, 50, [](std::size_t i) { return i * i; },
            [&](std::size_t i, std::size_t square) {
                EXPECT_EQ(std::this_thread::get_id(), caller);
                EXPECT_EQ(square, i * i);
                items.insert(i);
            });
        EXPECT_EQ(consumed, 50u);
        EXPECT_EQ(items.size(), 50u);

        const CancelToken cancel;
        std::atomic<std::size_t> begun { 0 };
        const std::size_t beforeCancel = runOnWorkers(
            OperationContext(log).withCancel(cancel), threads, 1000,
            [&](std::size_t) {
                if (++begun == 5)
                    cancel.cancel();
                return 0;
            },
            [](std::size_t, int) { });
        EXPECT_EQ(beforeCancel, begun.load()) << "what was begun is handed over";
        EXPECT_LE(begun.load(), 4u + threads) << "nothing is begun after the cancel";
    }
    EXPECT_EQ(runOnWorkers(OperationContext(log), 2, 0, [](std::size_t) { return 0; }, [](std::size_t, int) { FAIL(); }), 0u);

    std::atomic<bool> ended { false };
    {
        BackgroundWork pass;
        pass.start(OperationContext(log), [&](const OperationContext& context) {
            while (!context.isCancelled())
                std::this_thread::sleep_for(1ms);
            ended = true;
        });
        EXPECT_TRUE(pass.started());
    }
    EXPECT_TRUE(ended) << "going away cancels the pass and waits for it";
}

} // namespace
} // namespace corvex
