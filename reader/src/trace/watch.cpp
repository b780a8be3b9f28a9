#include "trace/watch.hpp"

#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>

#include "trace/reader.hpp"
#include "trace/states.hpp"
#include "trace/timing.hpp"

namespace tracelet::trace {

std::optional<LoadFiles> newest_load(const std::string& folder) {
    std::vector<std::string> logs;
    try {
        logs = session_files({folder});
    } catch (const std::exception&) {
        return std::nullopt;  // no log yet
    }
    if (logs.empty()) return std::nullopt;
    LoadFiles f{logs.back(), ""};
    std::vector<std::string> records = flight_record_files(f.log);
    if (!records.empty()) f.record = records.back();
    return f;
}

void LoadView::PageRows::call(Call&& c) {
    const long long dat = c.dat_value(), msg = c.msg_value(), rc = c.rc_value();
    if (dat == DAT_IMAGEINFO && msg == MSG_GET && rc == TWRC_SUCCESS) {
        open = true;
        rows = 0;
        if (!int_field(c.block("TW_IMAGEINFO"), "ImageLength", length)) length = -1;
    } else if (dat == DAT_IMAGEMEMXFER && (rc == TWRC_SUCCESS || rc == TWRC_XFERDONE)) {
        long long y = 0, n = 0;
        const Node* x = c.block("TW_IMAGEMEMXFER");
        if (int_field(x, "YOffset", y) && int_field(x, "Rows", n)) rows = std::max(rows, y + n);
        if (rc == TWRC_XFERDONE) open = false;
    } else if ((dat == DAT_IMAGENATIVEXFER || dat == DAT_IMAGEFILEXFER) && !c.failed()) {
        open = false;
    } else if (dat == DAT_PENDINGXFERS && (msg == MSG_ENDXFER || msg == MSG_RESET)) {
        open = false;
    }
}

LoadView::LoadView(LoadFiles files) : files_(std::move(files)), parser_(page_) {}

void LoadView::refresh() {
    if (!files_.record.empty()) record_ = read_flight_record(files_.record);
    if (!log_started_) {
        // This load's text begins where its record says the log stood when it began.
        log_read_ = last_line_ = record_.header_ok ? record_.log_offset : 0;
        parser_.begin_file(0, std::filesystem::path(files_.log).filename().string());
        log_started_ = true;
    }
    std::ifstream in(files_.log, std::ios::binary);
    if (!in || !in.seekg(static_cast<std::streamoff>(log_read_))) return;
    char buf[1 << 16];
    while (in.read(buf, sizeof buf) || in.gcount() > 0) {
        std::string_view chunk(buf, static_cast<std::size_t>(in.gcount()));
        for (std::size_t i = chunk.size(); i-- > 0;)
            if (chunk[i] == '[' && (i ? chunk[i - 1] == '\n' : last_byte_ == '\n')) {
                last_line_ = log_read_ + i;
                break;
            }
        last_byte_ = chunk.back();
        parser_.feed(chunk);
        log_read_ += chunk.size();
    }
    // The parser hands a call on once the next one begins; the last call of
    // a growing log is read again on its own, as far as it is written, so
    // that the page's last rows show. What it gives the page is given again,
    // in the same order, when the next call begins.
    if (last_line_ >= log_read_) return;
    in.clear();
    std::string tail(static_cast<std::size_t>(log_read_ - last_line_), '\0');
    if (in.seekg(static_cast<std::streamoff>(last_line_)) && in.read(tail.data(), static_cast<std::streamsize>(tail.size())))
        Parser::parse_text(tail, page_);
}

namespace {

const char* state_name(int s) {
    static const char* const kNames[] = {"",
                                         "1 before the source manager",
                                         "2 source manager loaded",
                                         "3 source manager open",
                                         "4 source open",
                                         "5 source enabled",
                                         "6 transfer ready",
                                         "7 transferring"};
    return s >= 1 && s <= 7 ? kNames[s] : "?";
}

bool is_transfer(const TimedCall& c) {
    return c.dg == DG_IMAGE &&
           (c.dat == DAT_IMAGEMEMXFER || c.dat == DAT_IMAGENATIVEXFER || c.dat == DAT_IMAGEFILEXFER);
}

std::string call_name(const TimedCall& c) {
    char id[32];
    if (c.seq >= 0)
        std::snprintf(id, sizeof id, "%05lld", c.seq);
    else
        std::snprintf(id, sizeof id, "#%u", c.id);
    return std::string(id) + (c.from_source ? " [DS] " : " ") + triplet_text(c);
}

std::string bar(long long done, long long total) {
    constexpr int kWidth = 30;
    int filled = total > 0 ? static_cast<int>(std::clamp(done * kWidth / total, 0LL, static_cast<long long>(kWidth))) : 0;
    return "[" + std::string(static_cast<std::size_t>(filled), '#') + std::string(kWidth - filled, '.') + "]";
}

}  // namespace

std::vector<std::string> LoadView::frame(int64_t now_ns, const WatchOptions& options) const {
    std::vector<std::string> lines;
    const std::string log_name = std::filesystem::path(files_.log).filename().string();
    const FlightRecord& r = record_;
    if (!r.header_ok) {
        lines.push_back("Load      " + log_name + (files_.record.empty() ? ": no flight record beside it" : ": its flight record cannot be read"));
        for (const std::string& p : r.problems) lines.push_back("          " + p);
        return lines;
    }
    std::string host = r.closed                     ? "unloaded at " + r.clock_text(r.unload_ns)
                       : r.host == HostState::running ? "running"
                                                      : "gone without unloading";
    lines.push_back("Load      " + log_name + (r.load_in_log > 1 ? " (load " + std::to_string(r.load_in_log) + ")" : "") +
                    ", " + r.process_name + " pid " + std::to_string(r.pid) + ", " + host);

    // The latest call that ended gives the state, unless an application call
    // is still in flight: then the state it was sent in.
    const TimedCall* last_ended = nullptr;
    const TimedCall* last_failure = nullptr;
    std::vector<const TimedCall*> in_flight_calls;
    std::size_t pages = 0;
    const bool live = !r.closed && r.host == HostState::running;
    const int64_t ref = live ? std::max(now_ns, r.last_ns) : r.last_ns;
    std::size_t recent = 0;
    constexpr int64_t kRateWindow = 2000000000;
    for (const TimedCall& c : r.calls) {
        if (c.start_ns > ref - kRateWindow) ++recent;
        if (!c.ended()) {
            in_flight_calls.push_back(&c);
            continue;
        }
        if (!last_ended || c.end_ns >= last_ended->end_ns) last_ended = &c;
        if (c.rc == TWRC_FAILURE) last_failure = &c;
        if (is_transfer(c) && c.rc == TWRC_XFERDONE) ++pages;
    }
    int state = last_ended ? last_ended->state_after : 3;
    for (const TimedCall* c : in_flight_calls)
        if (!c->from_source) state = c->state_before;
    lines.push_back(std::string("State     ") + state_name(state));

    if (in_flight_calls.empty()) {
        lines.push_back("In flight none" + (last_ended ? " (last: " + call_name(*last_ended) + ", " +
                                                             duration_text(last_ended->duration_ns()) + ")"
                                                       : std::string()));
    }
    const TimedCall* transfer = nullptr;
    for (const TimedCall* c : in_flight_calls) {
        InFlight f = in_flight(r, *c, now_ns);
        lines.push_back("In flight " + call_name(*c) + " on thread " + r.thread_name(c->thread) + ", " + f.text +
                        (f.ns > options.slow_ns ? "  SLOW (over " + duration_text(options.slow_ns) + ")" : ""));
        if (is_transfer(*c)) transfer = c;
    }

    char rate[32];
    std::snprintf(rate, sizeof rate, "%.1f", static_cast<double>(recent) * 1e9 / kRateWindow);
    lines.push_back(std::string("Calls/s   ") + rate + " (" + std::to_string(r.calls.size()) + " calls)");

    const std::string page_no = "Page " + std::to_string(pages + 1);
    if (transfer && transfer->dat != DAT_IMAGEMEMXFER) {
        lines.push_back(page_no + (transfer->dat == DAT_IMAGENATIVEXFER ? "    native" : "    file") +
                        " transfer, " + in_flight(r, *transfer, now_ns).text);
    } else if (page_.open && page_.length > 0) {
        long long pct = std::clamp(page_.rows * 100 / page_.length, 0LL, 100LL);
        lines.push_back(page_no + "    " + bar(page_.rows, page_.length) + " " + std::to_string(pct) + "%, " +
                        std::to_string(page_.rows) + " of " + std::to_string(page_.length) + " rows");
    } else if (page_.open) {
        lines.push_back(page_no + "    " + std::to_string(page_.rows) + " rows (length not known in advance)");
    } else {
        lines.push_back("Page      none in transfer");
    }
    lines.push_back("Pages     " + std::to_string(pages) + " done");
    lines.push_back("Failure   " + (last_failure ? call_name(*last_failure) + " at " + r.clock_text(last_failure->end_ns)
                                                 : std::string("none")));
    if (!r.stop_text().empty()) lines.push_back("Record    " + r.stop_text());
    return lines;
}

namespace {

volatile std::sig_atomic_t g_stop = 0;
extern "C" void on_signal(int) { g_stop = 1; }

// The terminal in a mode where single keys arrive without echo, restored on
// every way out.
class KeyInput {
public:
    KeyInput() : tty_(isatty(STDIN_FILENO) == 1) {
        if (tty_ && tcgetattr(STDIN_FILENO, &saved_) == 0) {
            termios raw = saved_;
            raw.c_lflag &= static_cast<tcflag_t>(~(ICANON | ECHO));
            raw.c_cc[VMIN] = 0;
            raw.c_cc[VTIME] = 0;
            tcsetattr(STDIN_FILENO, TCSANOW, &raw);
        } else {
            tty_ = false;
        }
    }
    ~KeyInput() {
        if (tty_) tcsetattr(STDIN_FILENO, TCSANOW, &saved_);
    }
    // Waits up to `ms` for a key; true when it was q.
    bool quit_within(int ms) {
        if (!tty_) {
            poll(nullptr, 0, ms);
            return false;
        }
        pollfd p{STDIN_FILENO, POLLIN, 0};
        if (poll(&p, 1, ms) <= 0) return false;
        char ch[16];
        ssize_t n = read(STDIN_FILENO, ch, sizeof ch);
        for (ssize_t i = 0; i < n; ++i)
            if (ch[i] == 'q' || ch[i] == 'Q') return true;
        return false;
    }

private:
    bool tty_;
    termios saved_{};
};

}  // namespace

int run_watch(const std::string& folder, const WatchOptions& options, bool once, std::ostream& out) {
    if (once) {
        std::optional<LoadFiles> files = newest_load(folder);
        if (!files) {
            out << "No trace log in " << folder << '\n';
            return 1;
        }
        LoadView view(*files);
        view.refresh();
        for (const std::string& l : view.frame(monotonic_now_ns(), options)) out << l << '\n';
        return 0;
    }

    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    KeyInput keys;
    constexpr int kRefreshMs = 250;
    constexpr int64_t kNextLoadWaitNs = 2000000000;  // after a clean unload, for the manager's next load
    std::optional<LoadView> view;
    int64_t closed_at = -1;
    bool seen_open = false;  // a load found already closed is shown, but waited past
    out << "\x1b[?25l\x1b[2J";
    while (!g_stop) {
        std::optional<LoadFiles> files = newest_load(folder);
        if (files && (!view || !(view->files() == *files))) {
            view.emplace(*files);
            closed_at = -1;
            seen_open = false;
        }
        const int64_t now = monotonic_now_ns();
        std::vector<std::string> lines;
        if (view) {
            view->refresh();
            lines = view->frame(now, options);
        } else {
            lines.push_back("Waiting for a trace log in " + folder);
        }
        lines.push_back("");
        lines.push_back("q quits");
        out << "\x1b[H";
        for (const std::string& l : lines) out << l << "\x1b[K\n";
        out << "\x1b[J" << std::flush;
        if (view && !view->closed()) seen_open = true;
        if (view && view->closed() && seen_open) {
            if (closed_at < 0) closed_at = now;
            if (now - closed_at > kNextLoadWaitNs) break;
        }
        if (keys.quit_within(kRefreshMs)) break;
    }
    out << "\x1b[?25h" << std::flush;
    std::signal(SIGINT, SIG_DFL);
    std::signal(SIGTERM, SIG_DFL);
    return 0;
}

}  // namespace tracelet::trace
