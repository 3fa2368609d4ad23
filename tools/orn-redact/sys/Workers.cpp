#include "Workers.h"

#include "Processors.h"

#include <system_error>

namespace qiv::redact {

namespace {

std::atomic<unsigned int> configuredThreads{0};
std::atomic<bool> configured{false};

}  // namespace

WorkerPool::WorkerPool(unsigned int threads) {
    try {
        for (unsigned int index = 0; index < threads; ++index) {
            threads_.emplace_back([this]() { Work(); });
        }
    } catch (const std::system_error&) {
        // Fewer threads: the callers do the rest.
    }
}

WorkerPool::~WorkerPool() {
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    for (std::thread& thread : threads_) {
        thread.join();
    }
}

void WorkerPool::Configure(unsigned int threads) {
    configuredThreads = threads;
    configured = true;
}

WorkerPool& WorkerPool::Shared() {
    static WorkerPool pool(configured ? configuredThreads.load() : AvailableProcessors() - 1);
    return pool;
}

void WorkerPool::Submit(std::function<void()> task, bool small) {
    if (threads_.empty() && !small) {
        task();  // no thread would ever take it
        return;
    }
    {
        const std::lock_guard<std::mutex> lock(mutex_);
        (small ? small_ : long_).push_back(std::move(task));
    }
    changed_.notify_all();
}

void WorkerPool::Notify() {
    { const std::lock_guard<std::mutex> lock(mutex_); }
    changed_.notify_all();
}

void WorkerPool::HelpUntil(const std::function<bool()>& done) {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!done()) {
        if (small_.empty()) {
            changed_.wait(lock);
            continue;
        }
        std::function<void()> task = std::move(small_.front());
        small_.pop_front();
        lock.unlock();
        task();
        lock.lock();
        changed_.notify_all();
    }
}

void WorkerPool::Work() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        std::deque<std::function<void()>>& queue = !small_.empty() ? small_ : long_;
        if (queue.empty()) {
            if (stopping_) {
                return;
            }
            changed_.wait(lock);
            continue;
        }
        std::function<void()> task = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        task();
        lock.lock();
        changed_.notify_all();
    }
}

}  // namespace qiv::redact
