#include "support/thread_pool.hpp"

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <thread>

namespace support::thread_pool {
namespace {

// One parallel_for call. It lives on the caller's stack; the caller waits
// until every task is done and no worker still holds the job.
struct Job {
  const std::function<void(std::size_t)>* task = nullptr;
  std::size_t n = 0;
  std::size_t next = 0;     // the next index to hand out
  std::size_t done = 0;     // indexes finished
  std::size_t holders = 0;  // workers currently inside the job
  std::vector<std::exception_ptr> errors;
};

thread_local bool tl_inside_task = false;

class Pool {
 public:
  void run(std::size_t n, const std::function<void(std::size_t)>& task) {
    std::lock_guard<std::mutex> one_job_at_a_time(run_mutex_);
    Job job;
    job.task = &task;
    job.n = n;
    job.errors.resize(n);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      grow(std::min(n, max_threads()) - 1);
      job_ = &job;
      ++generation_;
    }
    work_available_.notify_all();
    work_on(job);
    {
      std::unique_lock<std::mutex> lock(mutex_);
      job_done_.wait(lock, [&] { return job.done == job.n && job.holders == 0; });
      job_ = nullptr;
    }
    for (std::exception_ptr& e : job.errors) {
      if (e) std::rethrow_exception(e);
    }
  }

  // Held across fork() so that the child's copy of the pool is never caught
  // in the middle of a job.
  void lock_for_fork() {
    run_mutex_.lock();
    mutex_.lock();
  }
  void unlock_after_fork() {
    mutex_.unlock();
    run_mutex_.unlock();
  }

 private:
  // Takes indexes until none are left. Called by the caller and by workers.
  void work_on(Job& job) {
    for (;;) {
      std::size_t i;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (job.next == job.n) return;
        i = job.next++;
      }
      tl_inside_task = true;
      try {
        (*job.task)(i);
      } catch (...) {
        job.errors[i] = std::current_exception();
      }
      tl_inside_task = false;
      bool last;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        last = ++job.done == job.n;
      }
      if (last) job_done_.notify_all();
    }
  }

  void worker_loop() {
    std::size_t seen = 0;
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      work_available_.wait(lock, [&] { return generation_ != seen && job_ != nullptr; });
      seen = generation_;
      Job& job = *job_;
      ++job.holders;
      lock.unlock();
      work_on(job);
      lock.lock();
      if (--job.holders == 0) job_done_.notify_all();
    }
  }

  // Starts workers up to `target`; called with mutex_ held.
  void grow(std::size_t target) {
    while (workers_ < target) {
      std::thread([this] { worker_loop(); }).detach();
      ++workers_;
    }
  }

  std::mutex run_mutex_;
  std::mutex mutex_;
  std::condition_variable work_available_;
  std::condition_variable job_done_;
  Job* job_ = nullptr;
  std::size_t generation_ = 0;
  std::size_t workers_ = 0;
};

// The pool is never destroyed: its detached workers may outlive static
// destruction at exit, and a child after fork() abandons the parent's copy.
std::mutex g_pool_mutex;
Pool* g_pool = nullptr;

void before_fork() {
  g_pool_mutex.lock();
  if (g_pool != nullptr) g_pool->lock_for_fork();
}

void after_fork_in_parent() {
  if (g_pool != nullptr) g_pool->unlock_after_fork();
  g_pool_mutex.unlock();
}

// The child has none of the parent's workers: forget that pool (its memory
// is leaked on purpose, its mutexes stay locked) and build a new one lazily.
void after_fork_in_child() {
  g_pool = nullptr;
  g_pool_mutex.unlock();
}

Pool& pool() {
  std::lock_guard<std::mutex> lock(g_pool_mutex);
  if (g_pool == nullptr) {
    static const bool registered =
        pthread_atfork(&before_fork, &after_fork_in_parent, &after_fork_in_child) == 0;
    (void)registered;
    g_pool = new Pool;
  }
  return *g_pool;
}

}  // namespace

std::size_t max_threads() {
  cpu_set_t cpus;
  CPU_ZERO(&cpus);
  if (sched_getaffinity(0, sizeof cpus, &cpus) == 0) {
    int count = CPU_COUNT(&cpus);
    if (count > 0) return static_cast<std::size_t>(count);
  }
  return std::max<std::size_t>(1, std::thread::hardware_concurrency());
}

void parallel_for(std::size_t n, const std::function<void(std::size_t)>& task) {
  if (n == 0) return;
  if (n == 1 || tl_inside_task || max_threads() == 1) {
    // Nothing to share, or a nested call: the loop runs here, with the same
    // lowest-index-first error rule.
    std::exception_ptr first;
    for (std::size_t i = 0; i < n; ++i) {
      try {
        task(i);
      } catch (...) {
        if (!first) first = std::current_exception();
      }
    }
    if (first) std::rethrow_exception(first);
    return;
  }
  pool().run(n, task);
}

}  // namespace support::thread_pool
