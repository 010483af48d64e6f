// The background worker: a job runs at once, never on two threads together, again right after its
// run when asked meanwhile (once, however often asked), and not at all once it said it is done.
#include "base/BackgroundWork.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <new>

namespace {

// Counts runs; a run can be held until released.
struct Probe {
  std::mutex mutex;
  std::condition_variable changed;
  int runs = 0, running = 0, mostAtOnce = 0;
  bool hold = false;

  bool Run(bool keep) {
    std::unique_lock lock(mutex);
    ++runs;
    mostAtOnce = std::max(mostAtOnce, ++running);
    changed.notify_all();
    changed.wait(lock, [&] { return !hold; });
    --running;
    changed.notify_all();
    return keep;
  }
  void WaitForRuns(int count) {
    std::unique_lock lock(mutex);
    changed.wait(lock, [&] { return runs >= count && running == 0; });
  }
};

}  // namespace

TEST(BackgroundWorker, RunsEachJobAloneAgainWhenAskedAndNotOnceDone) {
  Probe kept, done;
  {
    BackgroundWorker worker(2);
    kept.hold = true;
    const auto id = worker.Add([&] { return kept.Run(true); }, std::chrono::hours(1));
    {
      std::unique_lock lock(kept.mutex);
      kept.changed.wait(lock, [&] { return kept.running == 1; });
    }
    // Asked again while it runs, on a worker with a free thread: it runs again after, not beside.
    worker.RunSoon(id);
    worker.RunSoon(id);
    {
      std::lock_guard lock(kept.mutex);
      kept.hold = false;
    }
    kept.changed.notify_all();
    kept.WaitForRuns(2);

    const auto doneId = worker.Add([&] { return done.Run(false); }, std::chrono::milliseconds(0));
    done.WaitForRuns(1);
    worker.RunSoon(doneId);  // dropped: nothing runs
    worker.RunSoon(id);
    kept.WaitForRuns(3);
  }
  EXPECT_EQ(kept.runs, 3);
  EXPECT_EQ(kept.mostAtOnce, 1);
  EXPECT_EQ(done.runs, 1);
}

// A job that runs out of memory neither ends the program nor its thread: it is run again after its
// interval, the other jobs go on, and the reason is kept in the system's words.
TEST(BackgroundWorker, KeepsAJobThatRaisesAndTellsWhy) {
  TakeBackgroundFailure();
  Probe failing, other;
  {
    BackgroundWorker worker(1);
    worker.Add(
        [&] {
          failing.Run(true);
          throw std::bad_alloc();
          return true;
        },
        std::chrono::milliseconds(1));
    worker.Add([&] { return other.Run(true); }, std::chrono::milliseconds(1));
    failing.WaitForRuns(3);
    other.WaitForRuns(3);
  }
#ifdef _WIN32
  EXPECT_EQ(TakeBackgroundFailure(), "Not enough memory");  // the words of ERROR_NOT_ENOUGH_MEMORY
#else
  EXPECT_EQ(TakeBackgroundFailure(), "Cannot allocate memory");
#endif
  EXPECT_EQ(TakeBackgroundFailure(), "");
}
