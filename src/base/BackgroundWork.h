#pragma once
// A few threads that run jobs again and again: each job runs as soon as it is added, then again
// each interval after its last run ended, or sooner when asked. A job never runs on two threads at
// once; different jobs run side by side, one per thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// Waits on changed (with lock held) until done says true, or giveUp (when given) says true first,
// asked every few milliseconds; true when done.
template <typename Done>
bool WaitFor(std::condition_variable& changed, std::unique_lock<std::mutex>& lock, Done done,
             const std::function<bool()>& giveUp) {
  if (!giveUp) {
    changed.wait(lock, done);
    return true;
  }
  while (!done()) {
    if (giveUp()) return false;
    changed.wait_for(lock, std::chrono::milliseconds(20));
  }
  return true;
}

// Why the last background job that raised did so (the system's words, e.g. "Cannot allocate
// memory"), and forgets it; empty when none raised since the last call. A job that raises is run
// again after its interval, like one that returned true.
std::string TakeBackgroundFailure();

class BackgroundWorker {
 public:
  using JobId = std::uint64_t;
  // A job returns false when it is done for good (what it works on is gone): it is then dropped.
  using Job = std::function<bool()>;

  explicit BackgroundWorker(unsigned threads);
  // Waits for the jobs that are running to end, then ends the threads; no job runs after it.
  ~BackgroundWorker();
  BackgroundWorker(const BackgroundWorker&) = delete;
  BackgroundWorker& operator=(const BackgroundWorker&) = delete;

  JobId Add(Job job, std::chrono::milliseconds interval);
  // Runs the job as soon as a thread is free (after its current run, when it is running now).
  void RunSoon(JobId id);

 private:
  using Clock = std::chrono::steady_clock;
  struct Entry {
    JobId id = 0;
    Job job;
    std::chrono::milliseconds interval{};
    Clock::time_point due;
    bool running = false;
    bool soon = false;  // asked to run again as soon as the current run ends
  };
  void Run();

  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Entry> entries_;
  JobId lastId_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};
