#include "base/BackgroundWork.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "base/NumberedError.h"

namespace {

// Kept in a fixed buffer: noting a failure must not need the memory that may have run out.
std::mutex g_failureMutex;
char g_failure[256] = {};

void NoteFailure(const std::exception* error) {
  std::string reason;
  try {
    reason = error ? ErrorReason(*error) : std::string("an unknown error");
  } catch (...) {
    reason.clear();
  }
  const char* text = reason.empty() ? (error ? error->what() : "an unknown error") : reason.c_str();
  std::lock_guard lock(g_failureMutex);
  std::strncpy(g_failure, text, sizeof g_failure - 1);
  g_failure[sizeof g_failure - 1] = '\0';
}

}  // namespace

std::string TakeBackgroundFailure() {
  std::lock_guard lock(g_failureMutex);
  std::string failure = g_failure;
  g_failure[0] = '\0';
  return failure;
}

BackgroundWorker::BackgroundWorker(unsigned threads) {
  for (unsigned i = 0; i < std::max(threads, 1u); ++i) threads_.emplace_back([this] { Run(); });
}

BackgroundWorker::~BackgroundWorker() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

BackgroundWorker::JobId BackgroundWorker::Add(Job job, std::chrono::milliseconds interval) {
  JobId id = 0;
  {
    std::lock_guard lock(mutex_);
    id = ++lastId_;
    entries_.push_back({id, std::move(job), interval, Clock::now(), false, false});
  }
  changed_.notify_one();
  return id;
}

void BackgroundWorker::RunSoon(JobId id) {
  {
    std::lock_guard lock(mutex_);
    for (Entry& entry : entries_) {
      if (entry.id != id) continue;
      if (entry.running) {
        entry.soon = true;
      } else {
        entry.due = Clock::now();
      }
    }
  }
  changed_.notify_all();
}

void BackgroundWorker::Run() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    // The job due first among those not running now.
    Entry* next = nullptr;
    for (Entry& entry : entries_) {
      if (!entry.running && (!next || entry.due < next->due)) next = &entry;
    }
    if (!next) {
      changed_.wait(lock);
      continue;
    }
    if (next->due > Clock::now()) {
      const Clock::time_point due = next->due;  // entries_ may move while the lock is released
      changed_.wait_until(lock, due);
      continue;
    }
    next->running = true;
    const JobId id = next->id;
    Job job = next->job;  // entries_ may move while the lock is released
    lock.unlock();
    bool keep = true;
    // A job that raises (out of memory, say) is kept and run again later; the thread goes on.
    try {
      keep = job();
    } catch (const std::exception& error) {
      NoteFailure(&error);
    } catch (...) {
      NoteFailure(nullptr);
    }
    job = nullptr;  // what the job holds is released outside the lock
    lock.lock();
    const auto entry = std::find_if(entries_.begin(), entries_.end(), [id](const Entry& e) { return e.id == id; });
    if (!keep) {
      entries_.erase(entry);
    } else {
      entry->running = false;
      entry->due = entry->soon ? Clock::now() : Clock::now() + entry->interval;
      entry->soon = false;
    }
    // Another thread may be waiting for this job, or for an earlier due time.
    changed_.notify_all();
  }
}
