// tracelet-session: scans a batch of pages through a TWAIN data source,
// playing the data source manager and the application, and prints the trace
// log the data source wrote.
#include <unistd.h>

#include <iostream>

#include "Options.h"
#include "Session.h"
#ifdef TRACELET_WITH_CERTIFY
#include "Certify.h"
#include "Replay.h"
#endif
// Conformance runs need the build tree's trace data source; the installed
// program has none.
#ifndef TRACELET_CERTIFY_DS
#define TRACELET_CERTIFY_DS ""
#endif
#ifndef TRACELET_CERTIFY_LOG_DIR
#define TRACELET_CERTIFY_LOG_DIR ""
#endif
#ifndef TRACELET_REPLAY_DS
#define TRACELET_REPLAY_DS ""
#endif
#ifndef TRACELET_REPLAY_LOG_DIR
#define TRACELET_REPLAY_LOG_DIR ""
#endif
#ifndef TRACELET_LOG_PROGRAM
#define TRACELET_LOG_PROGRAM ""
#endif

#ifndef TRACELET_SESSION_DEFAULT_DS
#define TRACELET_SESSION_DEFAULT_DS ""
#endif
#ifndef TRACELET_SESSION_DEFAULT_LOG_DIR
#define TRACELET_SESSION_DEFAULT_LOG_DIR ""
#endif

int main(int argc, char** argv) {
    session::Options options;
    // Without --ds and --log-dir: the demo data source of this build and its
    // log folder.
    options.dataSource = TRACELET_SESSION_DEFAULT_DS;
    options.logDir = TRACELET_SESSION_DEFAULT_LOG_DIR;
    const int code = session::ParseOptions(argc, argv, options, std::cout, std::cerr);
    if (code >= 0) return code;

    if (options.certify) {
#ifdef TRACELET_WITH_CERTIFY
        certify::Options c;
        c.target = options.certifyTarget;
        c.outDir = options.certifyOut;
        c.jsonPath = options.certifyJson;
        c.stressCycles = options.stressCycles;
        c.timeoutSeconds = options.certifyTimeout;
        c.traceDs = TRACELET_CERTIFY_DS;
        c.logDir = TRACELET_CERTIFY_LOG_DIR;
        c.logProgram = TRACELET_LOG_PROGRAM;
        return certify::Run(c, std::cout, std::cerr);
#else
        std::cerr << "tracelet-session: this build has no conformance run (it needs the log reader)\n";
        return 2;
#endif
    }
    if (!options.replayLogs.empty()) {
#ifdef TRACELET_WITH_CERTIFY
        replay::Options r;
        r.logs = options.replayLogs;
        r.target = options.certifyTarget;
        r.outDir = options.certifyOut;
        r.keepGoing = options.replayKeepGoing;
        r.ignoreImageBytes = options.replayIgnoreImageBytes;
        r.pace = options.replayPace;
        r.untilCall = options.replayUntil;
        r.noticeTimeoutSeconds = options.noticeTimeout;
        r.timeoutSeconds = options.certifyTimeout;
        r.traceDs = TRACELET_REPLAY_DS;
        r.logDir = TRACELET_REPLAY_LOG_DIR;
        return replay::Run(r, std::cout, std::cerr);
#else
        std::cerr << "tracelet-session: this build has no replay (it needs the log reader)\n";
        return 2;
#endif
    }
    session::Session run(options, std::cout, std::cerr, isatty(STDOUT_FILENO) != 0);
    return run.Run();
}
