#include "support/thread_pool.hpp"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using support::thread_pool::parallel_for;
using support::thread_pool::parallel_map;

TEST(ThreadPoolTest, MapGathersInIndexOrder) {
  for (std::size_t n : {0u, 1u, 2u, 7u, 300u}) {
    std::vector<std::size_t> out =
        parallel_map<std::size_t>(n, [](std::size_t i) { return i * i + 1; });
    ASSERT_EQ(out.size(), n);
    for (std::size_t i = 0; i < n; ++i) EXPECT_EQ(out[i], i * i + 1);
  }
}

TEST(ThreadPoolTest, EveryIndexRunsExactlyOnceAcrossManyCalls) {
  for (int round = 0; round < 200; ++round) {
    std::vector<std::atomic<int>> hits(64);
    parallel_for(hits.size(), [&](std::size_t i) { hits[i].fetch_add(1); });
    for (auto& h : hits) ASSERT_EQ(h.load(), 1);
  }
}

TEST(ThreadPoolTest, RethrowsTheLowestIndexAfterAllFinished) {
  std::atomic<int> finished{0};
  try {
    parallel_for(40, [&](std::size_t i) {
      finished.fetch_add(1);
      if (i == 31 || i == 5) throw std::runtime_error("task " + std::to_string(i));
    });
    FAIL() << "expected an exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ(std::string(e.what()), "task 5");
  }
  EXPECT_EQ(finished.load(), 40);
  // The pool still works afterwards.
  EXPECT_EQ(parallel_map<int>(3, [](std::size_t i) { return static_cast<int>(i); }),
            (std::vector<int>{0, 1, 2}));
}

TEST(ThreadPoolTest, NestedCallsRunInline) {
  std::vector<std::vector<std::size_t>> out = parallel_map<std::vector<std::size_t>>(
      8, [](std::size_t i) {
        return parallel_map<std::size_t>(5, [i](std::size_t j) { return i * 10 + j; });
      });
  for (std::size_t i = 0; i < 8; ++i) {
    for (std::size_t j = 0; j < 5; ++j) EXPECT_EQ(out[i][j], i * 10 + j);
  }
}

TEST(ThreadPoolTest, UsesNoMoreThreadsThanCpus) {
  std::mutex m;
  std::set<std::thread::id> ids;
  parallel_for(256, [&](std::size_t) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::lock_guard<std::mutex> lock(m);
    ids.insert(std::this_thread::get_id());
  });
  EXPECT_GE(ids.size(), 1u);
  EXPECT_LE(ids.size(), support::thread_pool::max_threads());
}

// The child of fork() has none of the parent's threads; it must build its
// own workers rather than count on the parent's (which would leave the
// caller to do all the work, or wait forever on a lock held at fork time).
TEST(ThreadPoolTest, ForkedChildRunsOnItsOwnWorkers) {
  if (support::thread_pool::max_threads() < 2) GTEST_SKIP() << "one CPU: no workers to rebuild";
  parallel_for(16, [](std::size_t) {});  // the parent's workers are running
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Every task waits (a bounded while) until a second thread has joined,
    // so a slow thread start (a loaded machine, a sanitizer build) cannot let
    // the caller finish alone; only a child without workers ends with one.
    std::mutex m;
    std::condition_variable joined;
    std::set<std::thread::id> ids;
    parallel_for(8, [&](std::size_t) {
      std::unique_lock<std::mutex> lock(m);
      ids.insert(std::this_thread::get_id());
      joined.notify_all();
      joined.wait_for(lock, std::chrono::seconds(5), [&] { return ids.size() >= 2; });
    });
    _exit(ids.size() >= 2 ? 0 : 1);
  }
  int status = 0;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      FAIL() << "the forked child did not finish";
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "the child ran on a single thread";
  // The parent's pool still works.
  EXPECT_EQ(parallel_map<int>(4, [](std::size_t i) { return static_cast<int>(i); }),
            (std::vector<int>{0, 1, 2, 3}));
}

}  // namespace
