// Command line of tracelet-session.
#ifndef TRACELET_SESSION_OPTIONS_H
#define TRACELET_SESSION_OPTIONS_H

#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace session {

enum class XferChoice { Memory, Native, Mixed };

struct Frame {
    double left = 0, top = 0, right = 0, bottom = 0;  // inches
};

struct Options {
    int pages = 2;
    XferChoice xfer = XferChoice::Mixed;
    std::string pixelType = "rgb";  // bw, gray or rgb
    std::optional<int> bitDepth;
    int resolution = 100;  // dots per inch, both directions
    std::optional<Frame> frame;
    unsigned bufferSize = 0;  // bytes of a memory transfer's buffer; 0: the size the source prefers
    std::string outputDir = "scans";
    std::string dataSource;  // the .ds to load
    std::string logDir;      // the folder its trace log goes to
    bool printLog = true;
    bool pollEvents = false;    // hear of transfers through MSG_PROCESSEVENT, not a callback
    bool sourceThread = false;  // ask the virtual scanner to signal from a thread of its own
    // A conformance run (--certify) of the data source --target.
    bool certify = false;
    std::string certifyTarget, certifyOut, certifyJson;
    int stressCycles = 50;
    int certifyTimeout = 600;  // seconds
    // A replay (--replay) of a recorded session against --target.
    std::vector<std::string> replayLogs;
    bool replayKeepGoing = false;
    bool replayIgnoreImageBytes = false;
    bool replayPace = false;
    long long replayUntil = -1;
    double noticeTimeout = 10;  // seconds
};

// Parses the command line into `options`. Returns -1 when the session
// should run; otherwise the exit code (0 after --help, non-zero for a bad
// command line, with the message already written to `err`).
int ParseOptions(int argc, const char* const* argv, Options& options, std::ostream& out, std::ostream& err);

// "L,T,R,B" in inches; false when it is not four numbers with R > L, B > T.
bool ParseFrame(const std::string& text, Frame* frame);

}  // namespace session

#endif  // TRACELET_SESSION_OPTIONS_H
