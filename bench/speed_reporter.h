// Google Benchmark's console table, keeping each benchmark's bytes per
// second (the median of its repetitions, or its single run) for the ratios
// a benchmark prints at the end.
#ifndef DORVANE_BENCH_SPEED_REPORTER_H_
#define DORVANE_BENCH_SPEED_REPORTER_H_

#include <benchmark/benchmark.h>

#include <map>
#include <string>
#include <vector>

class SpeedReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      const bool median = run.run_type == Run::RT_Aggregate &&
                          run.aggregate_name == "median";
      if (run.run_type == Run::RT_Iteration && speeds_.count(Key(run)) == 0) {
        speeds_[Key(run)] = Speed(run);
      } else if (median) {
        speeds_[Key(run)] = Speed(run);
      }
    }
  }

  // Bytes per second of the benchmark of that name; 0 when it did not run.
  double SpeedOf(const std::string& name) const {
    const auto found = speeds_.find(name);
    return found == speeds_.end() ? 0.0 : found->second;
  }

 private:
  static std::string Key(const Run& run) { return run.run_name.str(); }
  static double Speed(const Run& run) {
    const auto found = run.counters.find("bytes_per_second");
    return found == run.counters.end() ? 0.0 : double(found->second);
  }
  std::map<std::string, double> speeds_;
};

#endif  // DORVANE_BENCH_SPEED_REPORTER_H_
