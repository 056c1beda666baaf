#pragma once
// The process-wide data-parallel pool. It starts lazily on first use, grows
// to at most one thread per available CPU (and never past what a call can
// use), and runs an indexed loop whose results land in their own index slots,
// so output never depends on how many workers ran or in which order.
//
// It survives fork(): a child process starts without the parent's threads,
// so the child drops the parent's pool and builds its own on first use.

#include <cstddef>
#include <functional>
#include <utility>
#include <vector>

namespace support::thread_pool {

// Runs task(i) for every i in [0, n) and returns once all have finished. The
// calling thread takes part in the work. If tasks throw, the exception of the
// lowest index is rethrown here after every task has finished. A call made
// from inside a task runs its loop inline on that thread.
void parallel_for(std::size_t n, const std::function<void(std::size_t)>& task);

// f(i) for every i in [0, n), gathered in index order.
template <class T, class F>
std::vector<T> parallel_map(std::size_t n, F&& f) {
  std::vector<T> out(n);
  parallel_for(n, [&](std::size_t i) { out[i] = f(i); });
  return out;
}

// The most threads (the caller included) a call can run on: the CPUs this
// process may use, at least 1.
std::size_t max_threads();

}  // namespace support::thread_pool
