// The conformance run's test plan, run in the process that loads the data
// source. It plays the data source manager and an application, and writes
// each check's result as one JSON line to a file as soon as it is known, so
// that a crash or a hang leaves the results up to that point.
#ifndef TRACELET_SESSION_CERTIFY_PLAN_H
#define TRACELET_SESSION_CERTIFY_PLAN_H

#include <string>

namespace certify {

struct PlanOptions {
    std::string dataSource;   // the .ds to load (the trace data source)
    std::string resultsPath;  // JSON lines: "source", "group", "result"
    std::string workDir;      // where file transfers put their pages
    int stressCycles = 50;
};

// Runs the whole plan; returns 0 when it ran to its end (whatever it found).
int RunPlan(const PlanOptions& options);

}  // namespace certify

#endif  // TRACELET_SESSION_CERTIFY_PLAN_H
