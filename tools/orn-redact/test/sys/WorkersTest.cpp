// The shared pool: every index once, nested waits that cannot deadlock, and
// small tasks run by a thread that waits even when the pool has no threads.
#include <atomic>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Workers.h"

namespace {

using qiv::redact::ForEachOnThreads;
using qiv::redact::WorkerPool;

TEST(Workers, EveryIndexRunsOnceOnAtMostTheThreadsAsked) {
    for (const unsigned int threads : {1u, 2u, 8u}) {
        for (const std::size_t count : {std::size_t{0}, std::size_t{1}, std::size_t{1000}}) {
            std::vector<std::atomic<int>> runs(count);
            std::mutex mutex;
            std::set<std::thread::id> seen;
            ForEachOnThreads(count, threads, [&](std::size_t index) {
                ++runs[index];
                const std::lock_guard<std::mutex> lock(mutex);
                seen.insert(std::this_thread::get_id());
            });
            for (std::size_t index = 0; index < count; ++index) {
                EXPECT_EQ(runs[index].load(), 1) << index;
            }
            EXPECT_LE(seen.size(), threads);
            EXPECT_LE(seen.size(), WorkerPool::Shared().Threads() + 1);
        }
    }
}

// Files on the pool, each waiting for batches of its own on the same pool:
// as a batch of large files does it.
TEST(Workers, NestedWaitsFinishWhateverThePoolSize) {
    for (const unsigned int size : {0u, 1u, 3u}) {
        WorkerPool pool(size);
        constexpr int files = 6, batches = 20;
        std::atomic<int> done{0};
        std::vector<std::atomic<bool>> finished(files);
        for (int file = 0; file < files; ++file) {
            pool.Submit(
                [&pool, &done, &finished, file]() {
                    std::vector<std::atomic<bool>> batch(batches);
                    for (auto& flag : batch) {
                        pool.Submit(
                            [&flag, &pool]() {
                                flag = true;
                                pool.Notify();
                            },
                            true);
                    }
                    pool.HelpUntil([&batch]() {
                        for (const auto& flag : batch) {
                            if (!flag) {
                                return false;
                            }
                        }
                        return true;
                    });
                    done += batches;
                    finished[static_cast<std::size_t>(file)] = true;
                    pool.Notify();
                },
                false);
        }
        // Without threads of its own a long task runs at once, on the caller.
        pool.HelpUntil([&finished]() {
            for (const auto& flag : finished) {
                if (!flag) {
                    return false;
                }
            }
            return true;
        });
        EXPECT_EQ(done.load(), files * batches) << size << " threads";
    }
}

}  // namespace
