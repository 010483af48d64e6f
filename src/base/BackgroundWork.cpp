#include "base/BackgroundWork.h"

#include <algorithm>

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
    const bool keep = job();
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
