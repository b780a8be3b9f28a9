// tracelet-session --certify: a conformance run of a TWAIN data source,
// traced. The test plan runs in a child process that loads a trace data
// source of this build whose companion forwards to the source under test;
// the parent watches it with a timeout, then writes the report.
#ifndef TRACELET_SESSION_CERTIFY_H
#define TRACELET_SESSION_CERTIFY_H

#include <ostream>
#include <string>

namespace certify {

struct Options {
    std::string target;       // the data source under test
    std::string outDir;       // empty: certify-<date>-<time>
    std::string jsonPath;     // empty: no JSON report
    int stressCycles = 50;
    int timeoutSeconds = 600;
    // Fixed by the build: the trace data source, its log folder, tracelet-log.
    std::string traceDs;
    std::string logDir;
    std::string logProgram;
};

// Returns the exit status: 0 when no check failed, 1 otherwise, 2 when the
// run could not start.
int Run(const Options& options, std::ostream& out, std::ostream& err);

}  // namespace certify

#endif  // TRACELET_SESSION_CERTIFY_H
