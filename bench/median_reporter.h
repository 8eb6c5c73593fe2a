// A console reporter that also keeps each benchmark's CPU times, so a program can
// print ratios of medians measured in the same run.
#ifndef VANTLE_BENCH_MEDIAN_REPORTER_H
#define VANTLE_BENCH_MEDIAN_REPORTER_H

#include <benchmark/benchmark.h>

#include <algorithm>
#include <map>
#include <string>
#include <vector>

class MedianReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run> &runs) override {
        for (const Run &r : runs) {
            // Every repetition, or only the median where only aggregates are reported.
            if (r.run_type == Run::RT_Iteration || r.aggregate_name == "median")
                times_[r.run_name.function_name].push_back(r.GetAdjustedCPUTime());
        }
        ConsoleReporter::ReportRuns(runs);
    }
    // 0 when the benchmark did not run.
    double median(const std::string &name) {
        std::vector<double> &t = times_[name];
        if (t.empty()) return 0;
        std::sort(t.begin(), t.end());
        return t[t.size() / 2];
    }

  private:
    std::map<std::string, std::vector<double>> times_;
};

#endif
