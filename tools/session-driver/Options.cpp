#include "Options.h"

#include <CLI/CLI.hpp>
#include <cstdio>
#include <map>
#include <sstream>

namespace session {

bool ParseFrame(const std::string& text, Frame* frame) {
    double v[4];
    char tail = 0;
    if (std::sscanf(text.c_str(), "%lf,%lf,%lf,%lf%c", &v[0], &v[1], &v[2], &v[3], &tail) != 4) return false;
    if (!(v[2] > v[0]) || !(v[3] > v[1]) || v[0] < 0 || v[1] < 0) return false;
    *frame = Frame{v[0], v[1], v[2], v[3]};
    return true;
}

int ParseOptions(int argc, const char* const* argv, Options& o, std::ostream& out, std::ostream& err) {
    CLI::App app{
        "Plays a TWAIN data source manager and an application: loads a data source (.ds), scans a batch of\n"
        "pages through it (open, negotiation, enable, events, image info and layout, memory or native\n"
        "transfers, end of transfers, disable, close), saves each page as a PNM image and prints the trace\n"
        "log the data source wrote.",
        "tracelet-session"};

    const std::map<std::string, XferChoice> xfers{
        {"memory", XferChoice::Memory}, {"native", XferChoice::Native}, {"mixed", XferChoice::Mixed}};
    std::string frameText;

    app.add_option("-p,--pages", o.pages, "Number of pages to scan")->check(CLI::Range(1, 99))->capture_default_str();
    app.add_option("-x,--xfer", o.xfer,
                   "Transfer mechanism: memory (strips), native (whole page), or mixed (memory, then native, "
                   "alternately)")
        ->transform(CLI::CheckedTransformer(xfers, CLI::ignore_case))
        ->default_str("mixed");
    app.add_option("-t,--pixel-type", o.pixelType, "Pixel type: bw, gray or rgb")
        ->check(CLI::IsMember({"bw", "gray", "rgb"}, CLI::ignore_case))
        ->capture_default_str();
    app.add_option("-b,--bit-depth", o.bitDepth, "Bits per sample (1 for bw, 8 or 16 for gray and rgb); "
                                                 "default: the source's")
        ->check(CLI::IsMember({1, 8, 16}));
    app.add_option("-r,--resolution", o.resolution, "Resolution in dots per inch, both directions")
        ->check(CLI::Range(1, 4800))
        ->capture_default_str();
    app.add_option("-f,--frame", frameText, "Scan area L,T,R,B in inches (default: the source's)")
        ->check([](const std::string& text) {
            Frame f;
            return ParseFrame(text, &f) ? std::string()
                                        : std::string("expected four numbers L,T,R,B in inches with R > L >= 0 "
                                                      "and B > T >= 0, got '" + text + "'");
        });
    app.add_option("--buffer-size", o.bufferSize,
                   "Bytes of a memory transfer's buffer (default: the size the source prefers)")
        ->check(CLI::Range(1u, 1u << 30));
    app.add_option("-o,--output", o.outputDir, "Folder for the saved pages (created if missing)")
        ->capture_default_str();
    app.add_option("--ds", o.dataSource, "The data source to load")->capture_default_str();
    app.add_option("--log-dir", o.logDir, "The folder the data source writes its trace log to")
        ->capture_default_str();
    app.add_flag("--no-log-print{false}", o.printLog, "Tell where the log is, but do not print it");
    app.add_flag("--poll-events", o.pollEvents,
                 "Be an application without callbacks (no DF_APP2): hear of a transfer through the event "
                 "loop (DAT_EVENT/MSG_PROCESSEVENT)");
    app.add_flag("--source-thread", o.sourceThread,
                 "Ask the virtual scanner to signal from a thread of its own (TRACELET_SCANNER_SIGNAL=thread)");
    app.add_flag("--certify", o.certify,
                 "Instead of scanning, run the conformance test plan against --target, traced, and report");
    app.add_option("--replay", o.replayLogs,
                   "Instead of scanning, replay the application's side of a recorded session (its log files or "
                   "their folder) against --target, traced, and report where the source answers otherwise")
        ->expected(1, -1);
    app.add_option("--target", o.certifyTarget, "With --certify or --replay: the data source to test");
    app.add_option("--out", o.certifyOut, "With --certify or --replay: folder for the report and the trace "
                                          "(default: certify-<date>-<time>, replay-<date>-<time>)");
    app.add_flag("--keep-going", o.replayKeepGoing, "With --replay: go on after the first divergence and list all");
    app.add_flag("--ignore-image-bytes", o.replayIgnoreImageBytes,
                 "With --replay: compare image transfers by their structures, not by the image's length and hash");
    app.add_flag("--pace", o.replayPace, "With --replay: keep the recorded pauses between calls");
    app.add_option("--until", o.replayUntil, "With --replay: replay the calls up to this sequence number of the log")
        ->check(CLI::Range(1LL, 99999999LL));
    app.add_option("--notice-timeout", o.noticeTimeout,
                   "With --replay: seconds to wait for a notice the recorded application had")
        ->check(CLI::Range(0.01, 3600.0))
        ->capture_default_str();
    app.add_option("--json", o.certifyJson, "With --certify: also write the report as JSON to this file");
    app.add_option("--stress-cycles", o.stressCycles, "With --certify: open-to-close cycles of the stress group")
        ->check(CLI::Range(2, 10000))
        ->capture_default_str();
    app.add_option("--timeout", o.certifyTimeout, "With --certify or --replay: seconds before a run that does not "
                                                  "end is reported as hung")
        ->check(CLI::Range(1, 86400))
        ->capture_default_str();

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        const int code = app.exit(e, out, err);
        return code;
    }
    if (!frameText.empty()) {
        Frame f;
        ParseFrame(frameText, &f);
        o.frame = f;
    }
    for (char& c : o.pixelType) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (o.pixelType == "bw" && o.bitDepth && *o.bitDepth != 1) {
        err << "tracelet-session: --bit-depth " << *o.bitDepth << " does not fit --pixel-type bw (1 bit)\n"
            << "Run with --help for more information.\n";
        return 2;
    }
    if (o.pixelType != "bw" && o.bitDepth && *o.bitDepth == 1) {
        err << "tracelet-session: --bit-depth 1 needs --pixel-type bw\n"
            << "Run with --help for more information.\n";
        return 2;
    }
    if (o.certify && o.certifyTarget.empty()) {
        err << "tracelet-session: --certify needs the data source to certify (--target)\n";
        return 2;
    }
    if (o.certify && !o.replayLogs.empty()) {
        err << "tracelet-session: --certify and --replay are two different runs: give one\n";
        return 2;
    }
    if (!o.replayLogs.empty() && o.certifyTarget.empty()) {
        err << "tracelet-session: --replay needs the data source to replay against (--target)\n";
        return 2;
    }
    if (!o.certify && o.replayLogs.empty() && o.dataSource.empty()) {
        err << "tracelet-session: no data source given (--ds)\n";
        return 2;
    }
    return -1;
}

}  // namespace session
