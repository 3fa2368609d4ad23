#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qiv::redact {

/// The tool's one set of worker threads, shared by everything it does at
/// once: the files of a batch and the records of a large file.
///
/// Tasks come in two kinds. Small tasks (a batch of records) may be run by a
/// thread that waits in HelpUntil; long tasks (a whole file) are run only by
/// the pool's own threads, so that a thread waiting for its records never
/// takes on a whole other file in between. A waiting thread always makes
/// progress on the small tasks itself, so nothing waits on a thread that is
/// busy elsewhere.
class WorkerPool {
public:
    /// threads: the pool's own threads, besides the threads that wait in it.
    explicit WorkerPool(unsigned int threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    /// The process's pool, made on first use with the size Configure() set
    /// (by default, one thread fewer than the processors: the caller works too).
    static WorkerPool& Shared();
    /// Sets the size of the shared pool; only before its first use.
    static void Configure(unsigned int threads);

    unsigned int Threads() const { return static_cast<unsigned int>(threads_.size()); }

    /// Queues a task. small: a thread in HelpUntil may run it.
    void Submit(std::function<void()> task, bool small);
    /// Runs small tasks on the calling thread until done() holds, and sleeps
    /// while there are none. done() is checked again after every task ends
    /// and after every Notify().
    void HelpUntil(const std::function<bool()>& done);
    /// Wakes the threads in HelpUntil to check their condition again.
    void Notify();

private:
    void Work();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::function<void()>> small_;
    std::deque<std::function<void()>> long_;
    bool stopping_ = false;
    std::vector<std::thread> threads_;
};

/// Calls task(index) for every index below count, on up to threads threads
/// (the calling one included) of the shared pool, each taking the next index
/// as it is free. Returns when every call has returned.
template <typename Task>
void ForEachOnThreads(std::size_t count, unsigned int threads, const Task& task) {
    struct State {
        std::atomic<std::size_t> next{0};
        std::atomic<std::size_t> finished{0};
        std::size_t count = 0;
        const Task* task = nullptr;
    };
    const auto state = std::make_shared<State>();
    state->count = count;
    state->task = &task;
    const auto drain = [state]() {
        for (std::size_t index = state->next++; index < state->count; index = state->next++) {
            (*state->task)(index);
            ++state->finished;
        }
    };
    WorkerPool& pool = WorkerPool::Shared();
    for (unsigned int helper = 1; helper < threads && helper <= pool.Threads() && helper < count;
         ++helper) {
        pool.Submit(
            [drain, &pool]() {
                drain();
                pool.Notify();
            },
            false);
    }
    drain();
    // Helpers that start after every index was taken return at once; the
    // task is touched only for indices below count.
    pool.HelpUntil([&state]() { return state->finished.load() == state->count; });
}

}  // namespace qiv::redact
