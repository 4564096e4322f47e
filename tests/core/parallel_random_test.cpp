#include "core/parallel.h"
#include "core/random.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <functional>
#include <stdexcept>
#include <thread>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

TEST(ParallelFor, CoversEveryIndexExactlyOnce)
{
    for (int n : {0, 1, 2, 3, 7, 1000}) {
        std::vector<std::atomic<int>> hits(static_cast<std::size_t>(n));
        ParallelFor(0, n, [&](int b, int e) {
            for (int i = b; i < e; ++i) hits[static_cast<std::size_t>(i)]++;
        });
        for (int i = 0; i < n; ++i) EXPECT_EQ(hits[static_cast<std::size_t>(i)].load(), 1) << "n=" << n << " i=" << i;
    }
}

TEST(ParallelFor, RunsTheCallersOwnBodyWhateverItsKind)
{
    // The body is referred to, not copied (so starting a run never allocates): a large capture, a
    // named body and a std::function all run as themselves.
    std::array<int, 64> big{};
    big[63] = 1;
    std::atomic<long long> total{0};
    ParallelFor(0, 1000, [big, &total](int b, int e) { total += static_cast<long long>(e - b) * big[63]; });
    EXPECT_EQ(total.load(), 1000);

    std::atomic<int> calls{0};
    const auto counting = [&calls](int, int) { ++calls; };
    ParallelFor(0, 1000, counting);
    EXPECT_EQ(calls.load(), orvex_testing::LastParallelBlockCount());

    const std::function<void(int, int)> wrapped = [&total](int b, int e) { total -= e - b; };
    ParallelFor(0, 1000, wrapped);
    EXPECT_EQ(total.load(), 0);
}

TEST(ParallelFor, CallersOnSeveralThreadsAllComplete)
{
    // A preview worker and the interface thread may both ask at once: neither may lose work.
    std::atomic<long long> total{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int r = 0; r < 50; ++r)
                ParallelFor(0, 100, [&](int b, int e) { total += e - b; });
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(total.load(), 4LL * 50 * 100);
}

TEST(ParallelFor, NestedCallsRunInlineAndStillCoverEverything)
{
    std::atomic<long long> total{0};
    ParallelFor(0, 8, [&](int b, int e) {
        for (int i = b; i < e; ++i)
            ParallelFor(0, 100, [&](int ib, int ie) { total += ie - ib; });
    });
    EXPECT_EQ(total.load(), 800);
}

TEST(Random, KnownSequenceAndPerThreadState)
{
    orvex_random::Seed(1);
    EXPECT_EQ(orvex_random::Next(), 41);
    EXPECT_EQ(orvex_random::Next(), 18467);
    EXPECT_EQ(orvex_random::Next(), 6334);

    // Another thread's draws do not move this thread's sequence.
    orvex_random::Seed(12345);
    const int first = orvex_random::Next();
    orvex_random::Seed(12345);
    std::thread other([] {
        orvex_random::Seed(1);
        for (int i = 0; i < 100; ++i) orvex_random::Next();
    });
    other.join();
    EXPECT_EQ(orvex_random::Next(), first);

    // Results stay in 0..32767 whatever the state.
    orvex_random::Seed(0xFFFFFFFFu);
    for (int i = 0; i < 1000; ++i) {
        const int v = orvex_random::Next();
        ASSERT_GE(v, 0);
        ASSERT_LE(v, 32767);
    }
}

TEST(ParallelFor, ABusyThreadHandsOverTheRestOfItsShare)
{
    if (ParallelThreadCount() < 2) GTEST_SKIP() << "one core";
    // The thread that takes index 0 is held up (as by other work on its core): the others must
    // take over nearly everything else instead of waiting with half the range still to do.
    constexpr int n = 1000;
    std::vector<std::atomic<int>> slotOf(n);
    std::atomic<int> calls{0};
    ParallelFor(0, n, [&](int b, int e) {
        ++calls;
        if (b == 0) std::this_thread::sleep_for(std::chrono::milliseconds(150));
        for (int i = b; i < e; ++i) slotOf[static_cast<std::size_t>(i)] = ParallelSlot();
    });
    EXPECT_GE(calls.load(), 4 * ParallelThreadCount());
    EXPECT_EQ(orvex_testing::LastParallelBlockCount(), calls.load());
    int byOthers = 0;
    for (int i = 0; i < n; ++i) byOthers += slotOf[static_cast<std::size_t>(i)] != slotOf[0];
    EXPECT_GT(byOthers, n * 8 / 10);
}

TEST(ParallelFor, SlotsOfBlocksRunningTogetherDiffer)
{
    const int threads = ParallelThreadCount();
    std::vector<std::atomic<int>> busy(static_cast<std::size_t>(threads));
    std::atomic<int> clashes{0}, outOfRange{0};
    for (int round = 0; round < 20; ++round)
        ParallelFor(0, 500, [&](int b, int e) {
            const int slot = ParallelSlot();
            if (slot < 0 || slot >= threads) {
                ++outOfRange;
                return;
            }
            if (busy[static_cast<std::size_t>(slot)].exchange(1)) ++clashes;
            volatile double x = 0;
            for (int i = b; i < e; ++i)
                for (int k = 0; k < 200; ++k) x = x + i * k;
            busy[static_cast<std::size_t>(slot)] = 0;
        });
    EXPECT_EQ(clashes.load(), 0);
    EXPECT_EQ(outOfRange.load(), 0);

    // One thread only: one block, on the caller.
    orvex_testing::LimitParallelThreads(1);
    int calls = 0;
    ParallelFor(0, 100, [&](int, int) { ++calls; });
    orvex_testing::LimitParallelThreads(0);
    EXPECT_EQ(calls, 1);
}

TEST(ParallelFor, AThreadsShareHoldsOnlyItsOwnCallsAndEndsWithItsScope)
{
    const int all = ParallelThreadCount();
    int inside = -1, onOther = -1, calls = 0;
    std::thread([&] {
        const CThreadShareScope one(1);
        inside = ParallelThreadCount();
        ParallelFor(0, 100, [&](int b, int e) {
            ++calls;
            EXPECT_EQ(b, 0);
            EXPECT_EQ(e, 100);
        });
        std::thread([&] { onOther = ParallelThreadCount(); }).join();
    }).join();
    EXPECT_EQ(inside, 1);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(onOther, all);
    {
        const CThreadShareScope wide(all + 5);
        EXPECT_EQ(ParallelThreadCount(), all);
        {
            const CThreadShareScope one(1);
            EXPECT_EQ(ParallelThreadCount(), 1);
        }
        EXPECT_EQ(ParallelThreadCount(), all);
    }
    EXPECT_EQ(ParallelThreadCount(), all);
}

TEST(Random, DrawsInsideParallelBodiesAreCountedAsMisplaced)
{
    const long long before = orvex_random::MisplacedDraws();
    orvex_random::Seed(3);
    for (int i = 0; i < 10; ++i) orvex_random::Next();
    EXPECT_EQ(orvex_random::MisplacedDraws(), before);

    // Whether the body ran on a helper or inline on this thread, the draw is a misuse.
    ParallelFor(0, 2, [&](int b, int e) {
        for (int i = b; i < e; ++i) orvex_random::Next();
    });
    ParallelFor(0, 1, [&](int, int) { orvex_random::Next(); });
    EXPECT_EQ(orvex_random::MisplacedDraws(), before + 3);
}

TEST(ParallelFor, AThrowingBodyFailsTheCallNotTheProgram)
{
    // Every block throws, so a helper thread meets one too; before, that ended the process.
    orvex_testing::LimitParallelThreads(2);
    std::atomic<int> started{0};
    EXPECT_THROW(ParallelFor(0, 1000, [&](int, int) {
        started++;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        throw std::runtime_error("body failed");
    }), std::runtime_error);
    // No further blocks are handed out once one has failed.
    EXPECT_LT(started.load(), 16);
    EXPECT_FALSE(InsideParallelBlock());
    // The pool is usable again, inline runs too.
    std::atomic<int> sum{0};
    ParallelFor(0, 100, [&](int b, int e) { sum += e - b; });
    EXPECT_EQ(sum.load(), 100);
    orvex_testing::LimitParallelThreads(1);
    EXPECT_THROW(ParallelFor(0, 10, [](int, int) { throw std::runtime_error("inline"); }), std::runtime_error);
    EXPECT_FALSE(InsideParallelBlock());
    orvex_testing::LimitParallelThreads(0);
}

TEST(ParallelFor, AForkedChildRunsEverythingOnItsOwnThread)
{
    // The pool's helpers exist only in the parent; the child must cover the range by itself
    // instead of waiting for them for ever.
    std::vector<int> hits(1000, 0);
    ParallelFor(0, 1000, [&](int b, int e) {
        for (int i = b; i < e; ++i) ++hits[static_cast<std::size_t>(i)];
    });
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        alarm(20); // a hang ends the child by signal, which the parent reports
        std::vector<int> again(1000, 0);
        ParallelFor(0, 1000, [&](int b, int e) {
            for (int i = b; i < e; ++i) ++again[static_cast<std::size_t>(i)];
        });
        const bool once = std::all_of(again.begin(), again.end(), [](int h) { return h == 1; });
        _exit(once && orvex_testing::LastParallelBlockCount() == 1 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << "the child hung or crashed";
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
