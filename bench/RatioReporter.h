#pragma once
// A console reporter that, after the run, prints each benchmark's time as a ratio of a baseline
// benchmark measured in the same run. CPU time is compared: on a shared machine it is far steadier
// than wall time, and both sides are single-threaded work on the calling thread. The wall-time
// ratio follows, for work that waits on the disk.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

class RatioReporter : public benchmark::ConsoleReporter {
 public:
  // ratios: pairs of (benchmark name, baseline name), names as registered.
  explicit RatioReporter(std::vector<std::pair<std::string, std::string>> ratios) : ratios_(std::move(ratios)) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        // A benchmark registered with arguments is named with them, as the console shows it.
        std::string name = run.run_name.function_name;
        if (!run.run_name.args.empty()) name += "/" + run.run_name.args;
        seconds_[name] = run.cpu_accumulated_time / static_cast<double>(run.iterations);
        wallSeconds_[name] = run.real_accumulated_time / static_cast<double>(run.iterations);
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }

  void Finalize() override {
    ConsoleReporter::Finalize();
    for (const auto& [name, baseline] : ratios_) {
      if (!seconds_.count(name) || !seconds_.count(baseline)) continue;
      std::printf("ratio %s / %s = %.4f  (%.3f ms / %.3f ms CPU), wall %.4f\n", name.c_str(), baseline.c_str(),
                  seconds_[name] / seconds_[baseline], seconds_[name] * 1e3, seconds_[baseline] * 1e3,
                  wallSeconds_[name] / wallSeconds_[baseline]);
    }
    std::fflush(stdout);
  }

 private:
  std::vector<std::pair<std::string, std::string>> ratios_;
  std::map<std::string, double> seconds_;
  std::map<std::string, double> wallSeconds_;
};

// main() for a benchmark program that prints the given ratios.
inline int RunWithRatios(int argc, char** argv, std::vector<std::pair<std::string, std::string>> ratios) {
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter(std::move(ratios));
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  return 0;
}
