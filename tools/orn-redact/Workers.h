#pragma once

#include <atomic>
#include <cstddef>
#include <system_error>
#include <thread>
#include <vector>

namespace qiv::redact {

/// Calls task(index) for every index below count, on up to threads threads
/// (the calling one included), each taking the next index as it is free.
/// Where no further thread can be started, the ones running do the rest.
template <typename Task>
void ForEachOnThreads(std::size_t count, unsigned int threads, const Task& task) {
    std::atomic<std::size_t> next{0};
    const auto work = [&]() {
        for (std::size_t index = next++; index < count; index = next++) {
            task(index);
        }
    };
    std::vector<std::thread> helpers;
    try {
        while (helpers.size() + 1 < threads && helpers.size() + 1 < count) {
            helpers.emplace_back(work);
        }
    } catch (const std::system_error&) {
    }
    work();
    for (std::thread& helper : helpers) {
        helper.join();
    }
}

}  // namespace qiv::redact
