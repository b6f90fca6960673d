#pragma once

#include <benchmark/benchmark.h>

#include <map>
#include <set>
#include <string>
#include <vector>

// Keeps each benchmark's figures as the console shows them: the median over repetitions when there
// are several, else the one run's; a program's main then checks them against its limits.
class FigureReporter : public benchmark::ConsoleReporter {
public:
    struct Figures {
        // Real time per iteration.
        double milliseconds = 0;
        std::map<std::string, double> counters;
    };
    std::map<std::string, Figures> figures;

    void ReportRuns(const std::vector<Run>& runs) override
    {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const std::string& name = run.run_name.function_name;
            const bool median = run.run_type == Run::RT_Aggregate && run.aggregate_name == "median";
            if (run.run_type == Run::RT_Aggregate && !median)
                continue;
            if (!median && medians_.count(name))
                continue;
            if (median)
                medians_.insert(name);
            Figures& kept = figures[name];
            kept.milliseconds = run.GetAdjustedRealTime() *
                                benchmark::GetTimeUnitMultiplier(benchmark::kMillisecond) /
                                benchmark::GetTimeUnitMultiplier(run.time_unit);
            for (const auto& [counter, value] : run.counters)
                kept.counters[counter] = value;
        }
        ConsoleReporter::ReportRuns(runs);
    }

private:
    std::set<std::string> medians_;
};
