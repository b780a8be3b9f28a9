// tracelet-session: scans a batch of pages through a TWAIN data source,
// playing the data source manager and the application, and prints the trace
// log the data source wrote.
#include <unistd.h>

#include <iostream>

#include "Options.h"
#include "Session.h"

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

    session::Session run(options, std::cout, std::cerr, isatty(STDOUT_FILENO) != 0);
    return run.Run();
}
