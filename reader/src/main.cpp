// tracelet-log: reads the data source's trace logs and answers questions
// about the sessions in them.
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>
#include <map>
#include <memory>

#include "trace/check.hpp"
#include "trace/chrome_trace.hpp"
#include "trace/diff.hpp"
#include "trace/html.hpp"
#include "trace/json.hpp"
#include "trace/reader.hpp"
#include "trace/record.hpp"
#include "trace/session.hpp"
#include "trace/summary.hpp"
#include "trace/timing.hpp"
#include "trace/watch.hpp"

using namespace tracelet::trace;

namespace {

// Output to a file given with -o, or to standard output.
class Output {
public:
    explicit Output(const std::string& path) {
        if (!path.empty() && path != "-") {
            file_ = std::make_unique<std::ofstream>(path, std::ios::binary);
            if (!*file_) throw std::runtime_error("cannot write " + path);
        }
    }
    std::ostream& stream() { return file_ ? *file_ : std::cout; }

private:
    std::unique_ptr<std::ofstream> file_;
};

struct CheckSink : Sink {
    Checker checker;
    std::unique_ptr<TimeChecker> timed;
    bool notes;
    std::size_t findings = 0, problems = 0;
    std::map<std::string, std::size_t> per_rule;

    explicit CheckSink(bool show_notes)
        : checker([this](const Finding& f) { report(f); }), notes(show_notes) {}
    void report(const Finding& f) {
        ++findings;
        ++per_rule[f.rule];
        std::cout << f.call << "  " << f.rule << "  " << f.message << '\n';
    }
    void call(Call&& c) override {
        checker.feed(c);
        if (timed) timed->feed(c);
    }
    void problem(Problem&& p) override {
        ++problems;
        if (notes)
            std::cout << "note  file " << p.file + 1 << " line " << p.line << ": " << p.what
                      << (p.text.empty() ? std::string() : ": " + p.text) << '\n';
    }
};

int run_check(const std::vector<std::string>& paths, bool quiet, long long slow_ms) {
    CheckSink sink(!quiet);
    const std::vector<std::string> files = session_files(paths);
    SessionTimes times = SessionTimes::load(files);
    if (!times.empty())
        sink.timed = std::make_unique<TimeChecker>(
            times, [&sink](const Finding& f) { sink.report(f); }, slow_ms * 1000000, monotonic_now_ns());
    NoteLoads noted(sink, times);
    read_session(files, noted);
    sink.checker.finish();
    if (sink.timed) sink.timed->finish();
    if (!quiet)
        for (const std::string& p : times.problems()) {
            ++sink.problems;
            std::cout << "note  " << p << '\n';
        }
    std::cout << sink.findings << " finding" << (sink.findings == 1 ? "" : "s") << " in " << sink.checker.calls()
              << " calls";
    if (sink.problems) std::cout << "; " << sink.problems << " log problem" << (sink.problems == 1 ? "" : "s");
    std::cout << '\n';
    for (const auto& [rule, n] : sink.per_rule) std::cout << "  " << rule << ": " << n << '\n';
    return sink.findings ? 1 : 0;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"tracelet-log: read the data source's TWAIN trace logs (Twainlog_*.txt).\n"
                 "A LOG argument is a log file or a folder of them; the files of one session\n"
                 "are read in the order of the time stamps in their names."};
    app.require_subcommand(1);

    std::vector<std::string> paths;
    bool quiet = false, rules = false;
    auto* summary = app.add_subcommand("summary", "Calls per triplet, failures in context, state timeline, "
                                                  "capabilities and transfers");
    summary->add_option("LOG", paths, "log files or folders")->required()->check(CLI::ExistingPath);

    auto* check = app.add_subcommand("check", "TWAIN conformance findings; exit status 1 when there are any");
    check->add_option("LOG", paths, "log files or folders")->check(CLI::ExistingPath);
    check->add_flag("-q,--quiet", quiet, "leave out notes about unreadable lines");
    check->add_flag("--rules", rules, "list the rules and exit");
    long long slow_ms = 5000;
    check->add_option("--slow-ms", slow_ms, "a call longer than this is a slow-call finding (flight records)")
        ->capture_default_str()
        ->check(CLI::NonNegativeNumber);

    auto* show = app.add_subcommand("show", "The text log with each call's start time and duration beside its "
                                            "triplet line (from the flight records)");
    show->add_option("LOG", paths, "log files or folders")->required()->check(CLI::ExistingPath);

    std::string format;
    auto* exporter = app.add_subcommand("export", "Write the session in another format");
    exporter->add_option("LOG", paths, "log files or folders")->required()->check(CLI::ExistingPath);
    exporter->add_option("-f,--format", format, "chrome-trace: Trace Event Format JSON (needs flight records)")
        ->required()
        ->check(CLI::IsMember({"chrome-trace"}));

    std::string a, b;
    DiffOptions diff_options;
    auto* diff = app.add_subcommand("diff", "Compare what two sessions did, call by call; exit status 1 when they differ");
    diff->footer(
        "Compared: each call's triplet and capability by value (a name and its\n"
        "ERROR!(n) text are the same), its return code, the constants in its structures\n"
        "by value and its other values as printed, the error markers and the 5120-byte\n"
        "cut, and its state transition as the reader gives it (the state it was sent in\n"
        "and the state after it, inferred ones included; not the log's raw state\n"
        "lines). A transition one log shows through a call the other lacks (a source's\n"
        "notice) is reported once, as that call. Not compared: pData addresses,\n"
        "handles, identity Ids, sequence numbers, times, file names, logger messages,\n"
        "and the structure of a call one trace did not dump at all.");
    diff->add_option("A", a, "first session: a log file or a folder")->required()->check(CLI::ExistingPath);
    diff->add_option("B", b, "second session: a log file or a folder")->required()->check(CLI::ExistingPath);
    diff->add_option("-c,--context", diff_options.context, "equal calls to show before the first divergence")
        ->capture_default_str();
    diff->add_flag("--all", diff_options.all, "list every difference after the first");

    std::string out_path, title;
    bool messages = false;
    auto* json = app.add_subcommand("json", "One JSON object per call (JSON Lines)");
    json->add_option("LOG", paths, "log files or folders")->required()->check(CLI::ExistingPath);
    json->add_option("-o,--output", out_path, "write to this file instead of standard output");
    json->add_flag("--messages", messages, "also write the logger's messages, as {\"message\": ...} objects");

    auto* html = app.add_subcommand("html", "One self-contained HTML page: state strip, collapsible calls, filter");
    html->add_option("LOG", paths, "log files or folders")->required()->check(CLI::ExistingPath);
    html->add_option("-o,--output", out_path, "write to this file instead of standard output");
    html->add_option("-t,--title", title, "page title (default: the source's product name, the first load's time "
                                            "and the count of files and loads)");
    exporter->add_option("-o,--output", out_path, "write to this file instead of standard output");

    std::string folder = TRACELET_LOG_DIR;
    WatchOptions watch_options;
    bool once = false;
    auto* watch = app.add_subcommand("watch", "Live view of the newest load in a log folder: state, the call in "
                                              "flight, calls per second, the page, the last failure");
    watch->add_option("LOG-FOLDER", folder, "the log folder")->capture_default_str()->check(CLI::ExistingDirectory);
    watch->add_option("--slow-ms", slow_ms, "mark a call in flight once it has run this long")
        ->capture_default_str()
        ->check(CLI::PositiveNumber);
    watch->add_flag("--once", once, "print one frame and exit");

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int rc = app.exit(e);  // prints help or the usage error
        return rc == 0 ? 0 : 2;
    }

    try {
        if (*summary) {
            Summary s;
            const std::vector<std::string> files = session_files(paths);
            SessionTimes times = SessionTimes::load(files);
            NoteLoads noted(s, times);
            read_session(files, noted, ParseOptions{true});
            s.print(std::cout);
            if (!times.empty()) print_times(times, s.pages(), std::cout, monotonic_now_ns());
            return 0;
        }
        if (*check) {
            if (rules) {
                for (const Rule& r : check_rules()) std::cout << r.id << "  " << r.title << '\n';
                for (const Rule& r : time_rules()) std::cout << r.id << "  " << r.title << '\n';
                return 0;
            }
            if (paths.empty()) throw CLI::RequiredError("LOG");
            return run_check(paths, quiet, slow_ms);
        }
        if (*diff) {
            Session sa = Session::load({a}, ParseOptions{false});
            Session sb = Session::load({b}, ParseOptions{false});
            return diff_sessions(sa, sb, std::cout, diff_options) ? 1 : 0;
        }
        if (*json) {
            Output out(out_path);
            JsonLinesWriter writer(out.stream(), messages);
            const std::vector<std::string> files = session_files(paths);
            SessionTimes times = SessionTimes::load(files);
            if (!times.empty()) writer.set_times(&times);
            read_session(files, writer);
            return 0;
        }
        if (*show) {
            const std::vector<std::string> files = session_files(paths);
            show_log(files, SessionTimes::load(files), std::cout);
            return 0;
        }
        if (*exporter) {
            const std::vector<std::string> files = session_files(paths);
            SessionTimes times = SessionTimes::load(files);
            if (times.empty()) throw std::runtime_error("no flight record beside the log: nothing to export");
            struct Nothing : Sink {
                void call(Call&&) override {}
            } nothing;
            NoteLoads noted(nothing, times);  // numbers the loads as the log's ids do
            read_session(files, noted, ParseOptions{false});
            Output out(out_path);
            write_chrome_trace(times, out.stream(), monotonic_now_ns());
            return 0;
        }
        if (*watch) {
            watch_options.slow_ns = slow_ms * 1000000;
            return run_watch(folder, watch_options, once, std::cout);
        }
        if (*html) {
            Session s = Session::load(paths);
            SessionTimes times = SessionTimes::load(session_files(paths));
            for (const Call& c : s.calls) times.note_call(c);
            Output out(out_path);
            write_html(s, out.stream(), title.empty() ? session_title(s) : title, &times, monotonic_now_ns());
            return 0;
        }
    } catch (const CLI::Error& e) {
        app.exit(e);
        return 2;
    } catch (const std::exception& e) {
        std::cerr << "tracelet-log: " << e.what() << '\n';
        return 2;
    }
    return 0;
}
