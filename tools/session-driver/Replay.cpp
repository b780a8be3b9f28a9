#include "Replay.h"

#include <dlfcn.h>
#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <condition_variable>
#include <ctime>
#include <deque>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <sstream>
#include <thread>

#include "ChildRun.h"
#include "ReplayCapture.h"
#include "ReplayInput.h"
#include "Session.h"
#include "tables/TwNames.h"
#include "trace/diff.hpp"
#include "trace/reader.hpp"
#include "trace/session.hpp"
#include "tracelet/twain_memory.h"

namespace fs = std::filesystem;
namespace tr = tracelet::trace;

namespace replay {

namespace {

// --- The manager's side, in the child ----------------------------------------

// The notices the source sent, in the order they came, until the replay
// takes them.
struct Notices {
    std::mutex lock;
    std::condition_variable arrived;
    std::deque<TW_UINT16> pending;
};
Notices* g_notices = nullptr;

TW_UINT16 ReplayManagerEntry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32 dg, TW_UINT16 dat, TW_UINT16 msg, TW_MEMREF) {
    if (dg != DG_CONTROL || dat != DAT_NULL || !g_notices) return TWRC_FAILURE;
    std::lock_guard<std::mutex> hold(g_notices->lock);
    g_notices->pending.push_back(msg);
    g_notices->arrived.notify_all();
    return TWRC_SUCCESS;
}
TW_HANDLE ReplayAllocate(TW_UINT32 size) { return TwainNewHandle(size); }
void ReplayFree(TW_HANDLE h) { TwainDisposeHandle(h); }
TW_MEMREF ReplayLock(TW_HANDLE h) { return TwainLockHandle(h); }
void ReplayUnlock(TW_HANDLE h) { TwainUnlockHandle(h); }

// Takes the first pending `msg`, waiting for it up to `seconds`.
bool TakeNotice(Notices& n, TW_UINT16 msg, double seconds) {
    std::unique_lock<std::mutex> hold(n.lock);
    auto has = [&] { return std::find(n.pending.begin(), n.pending.end(), msg) != n.pending.end(); };
    if (!n.arrived.wait_for(hold, std::chrono::duration<double>(seconds), has)) return false;
    n.pending.erase(std::find(n.pending.begin(), n.pending.end(), msg));
    return true;
}

std::string NoticeName(TW_UINT16 msg) {
    const std::string_view name = twnames::Name(twnames::Kind::Msg, msg);
    return name.empty() ? "message " + std::to_string(msg) : std::string(name);
}

// The calls of a session's last load, moved out of it with their states, in
// the order they started as the flight record has it: a notice from the
// source's own thread may reach the log after calls that started later.
// A call the record does not know (a claimed event) stays after the one
// before it. With `untilCall`, the calls from the first application call
// past it on are left out.
tr::Session LastLoad(tr::Session& all, const tr::SessionTimes& times, long long untilCall) {
    tr::Session last;
    last.files = all.files;
    int load = 0;
    for (const tr::Call& c : all.calls) load = std::max(load, c.load);
    struct Placed {
        std::uint64_t slot;
        std::size_t index;
    };
    std::vector<Placed> order;
    std::uint64_t slot = 0;
    for (std::size_t k = 0; k < all.calls.size(); ++k) {
        if (all.calls[k].load != load) continue;
        if (const tr::TimedCall* t = times.find(all.calls[k])) slot = t->slot;
        order.push_back({slot, k});
    }
    std::stable_sort(order.begin(), order.end(), [](const Placed& x, const Placed& y) { return x.slot < y.slot; });
    const bool steps = all.steps.size() == all.calls.size();
    for (const Placed& p : order) {
        tr::Call& c = all.calls[p.index];
        if (untilCall >= 0 && c.has_triplet && !c.from_source() && c.seq > untilCall) break;
        last.calls.push_back(std::move(c));
        if (steps) last.steps.push_back(all.steps[p.index]);
    }
    if (last.steps.size() != last.calls.size()) last.steps.clear();
    return last;
}

// What differs by the replay's design, or by the trace's timing, and is no
// divergence:
// - the file name of DAT_SETUPFILEXFER, which names the replay's own folder;
// - the state a notice from the source's own thread shows: its block is
//   written once the manager returned, by when the application may have
//   gone on to the next state.
void DropExpected(const tr::Session& recorded, const tr::SessionTimes& times, std::vector<tr::Aligned>& steps) {
    auto drop = [](tr::Aligned& s, auto&& expected) {
        s.diffs.erase(std::remove_if(s.diffs.begin(), s.diffs.end(), expected), s.diffs.end());
        if (s.diffs.empty()) s.kind = tr::Aligned::Same;
    };
    for (tr::Aligned& s : steps) {
        if (s.kind != tr::Aligned::Changed) continue;
        const tr::Call& c = recorded.calls[s.a];
        if (c.dat_value() == DAT_SETUPFILEXFER || c.dat_value() == DAT_SETUPFILEXFER2)
            drop(s, [](const tr::FieldDiff& d) {
                return d.path.size() >= 9 && d.path.compare(d.path.size() - 9, 9, ".FileName") == 0;
            });
        const tr::TimedCall* t = c.from_source() ? times.find(c) : nullptr;
        if (t && t->during_id == 0) drop(s, [](const tr::FieldDiff& d) { return d.path == "TWAIN state"; });
    }
}

void Indented(std::ostream& out, const std::string& text, const char* prefix) {
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) out << prefix << line << "\n";
}

// What the child wrote: the calls it sent, the notices that never came.
struct Results {
    std::size_t callsSent = 0;
    bool ended = false;
    long long stoppedAt = -1;
    struct Missing {
        long long before;
        TW_UINT16 msg;
    };
    std::vector<Missing> missing;
};

Results ReadResults(const std::string& path) {
    Results r;
    std::ifstream in(path);
    std::string word;
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream fields(line);
        fields >> word;
        if (word == "call") {
            ++r.callsSent;
        } else if (word == "notice-missing") {
            Results::Missing m{};
            unsigned msg = 0;
            fields >> m.before >> msg;
            m.msg = static_cast<TW_UINT16>(msg);
            r.missing.push_back(m);
        } else if (word == "stopped") {
            fields >> r.stoppedAt;
        } else if (word == "end") {
            r.ended = true;
        }
    }
    return r;
}

}  // namespace

// --- The plan ----------------------------------------------------------------

Plan BuildPlan(const tr::FlightRecord& last, int probes, long long untilCall) {
    Plan plan;
    plan.probes = probes;
    std::vector<TW_UINT16> notices;
    for (const tr::TimedCall& c : last.calls) {
        if (c.from_source) {
            if (c.dg == DG_CONTROL && c.dat == DAT_NULL) {
                notices.push_back(c.msg);
                plan.callbacks = true;
            }
            continue;
        }
        if (untilCall >= 0 && c.seq > untilCall) {
            notices.clear();
            break;
        }
        RecordedCall r;
        r.seq = c.seq;
        r.id = c.id;
        r.dg = c.dg;
        r.dat = c.dat;
        r.msg = c.msg;
        r.cap = c.cap;
        r.rc = c.rc;
        r.start_ns = c.start_ns;
        r.end_ns = c.end_ns;
        r.noticesBefore = std::move(notices);
        notices.clear();
        plan.calls.push_back(std::move(r));
    }
    plan.noticesAtEnd = std::move(notices);
    return plan;
}

// --- Playing, in the child -------------------------------------------------------

int PlayPlan(const Plan& plan, const std::string& traceDs, const Options& options, const std::string& results,
             const std::string& fileFolder) {
    std::ofstream log(results, std::ios::binary);
    auto note = [&log](const std::string& line) { log << line << "\n" << std::flush; };

    // The identity probes of the loads before the replayed one.
    for (int i = 0; i < plan.probes; ++i) {
        void* lib = dlopen(traceDs.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!lib) return 3;
        auto entry = reinterpret_cast<DSENTRYPROC>(dlsym(lib, "DS_Entry"));
        TW_IDENTITY identity{};
        if (entry) entry(nullptr, DG_CONTROL, DAT_IDENTITY, MSG_GET, &identity);
        dlclose(lib);
    }

    void* lib = dlopen(traceDs.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!lib) {
        const char* why = dlerror();
        note(std::string("error cannot load the trace data source: ") + (why ? why : "?"));
        return 3;
    }
    auto entry = reinterpret_cast<DSENTRYPROC>(dlsym(lib, "DS_Entry"));
    if (!entry) return 3;

    Notices notices;
    g_notices = &notices;
    TW_ENTRYPOINT points{};
    points.Size = sizeof points;
    points.DSM_Entry = ReplayManagerEntry;
    points.DSM_MemAllocate = ReplayAllocate;
    points.DSM_MemFree = ReplayFree;
    points.DSM_MemLock = ReplayLock;
    points.DSM_MemUnlock = ReplayUnlock;
    InputContext context;
    context.entryPoints = &points;
    context.fileFolder = fileFolder;
    TW_IDENTITY app = session::AppIdentity("1.0", "Replay", "tracelet-session",
                                           DG_CONTROL | DG_IMAGE | (plan.callbacks ? DF_APP2 : 0));

    auto waitFor = [&](const std::vector<TW_UINT16>& expected, long long before) {
        bool all = true;
        for (TW_UINT16 msg : expected) {
            if (TakeNotice(notices, msg, options.noticeTimeoutSeconds)) continue;
            note("notice-missing " + std::to_string(before) + " " + std::to_string(msg));
            all = false;
        }
        return all;
    };

    auto lastEnd = std::chrono::steady_clock::now();
    std::int64_t recordedLastEnd = -1;
    bool stopped = false;
    for (const RecordedCall& c : plan.calls) {
        if (!waitFor(c.noticesBefore, c.seq) && !options.keepGoing) {
            stopped = true;
            break;
        }
        if (options.pace && recordedLastEnd >= 0 && c.start_ns > recordedLastEnd)
            std::this_thread::sleep_until(lastEnd + std::chrono::nanoseconds(c.start_ns - recordedLastEnd));
        CallInput input(c.dat, c.msg, c.hasData, c.data, c.container, context);
        // A manager asks a source for its identity with no origin.
        const bool probe = c.dg == DG_CONTROL && c.dat == DAT_IDENTITY && c.msg == MSG_GET;
        const TW_UINT16 rc = entry(probe ? nullptr : &app, c.dg, c.dat, c.msg, input.Data());
        input.Release();
        lastEnd = std::chrono::steady_clock::now();
        recordedLastEnd = c.end_ns;
        note("call " + std::to_string(c.seq) + " " + std::to_string(rc));
        if (c.rc >= 0 && rc != c.rc && !options.keepGoing) {
            note("stopped " + std::to_string(c.seq));
            stopped = true;
            break;
        }
    }
    if (!stopped) waitFor(plan.noticesAtEnd, -1);
    g_notices = nullptr;
    dlclose(lib);
    note("end");
    return 0;
}

// --- The whole replay, in the parent ---------------------------------------------

int Run(const Options& o, std::ostream& out, std::ostream& err) {
    std::error_code ec;
    auto fail = [&err](const std::string& what) {
        err << "tracelet-session: " << what << "\n";
        return 2;
    };
    if (o.target.empty()) return fail("--replay needs the data source to replay against (--target)");
    if (!fs::is_regular_file(o.target, ec)) return fail("the data source " + o.target + " is not a file");
    if (o.traceDs.empty() || !fs::is_regular_file(o.traceDs, ec))
        return fail("a replay needs the trace data source of a build tree (" +
                    (o.traceDs.empty() ? std::string("this program has none") : o.traceDs + " is missing") +
                    "); run the tracelet-session of the build tree");

    // The recording: its logs, its last load's flight record and capture.
    std::vector<std::string> files;
    std::optional<tr::Session> recorded;
    try {
        files = tr::session_files(o.logs);
        recorded.emplace(tr::Session::load(files, tr::ParseOptions{true}));
    } catch (const std::exception& e) {
        return fail(std::string("cannot read the recorded session: ") + e.what());
    }
    const tr::SessionTimes times = tr::SessionTimes::load(files);
    if (times.empty())
        return fail("the recorded session has no flight record beside its logs, so nothing of its calls' input "
                    "was captured (a log of an older version?): record the session again with this version");
    int lastLoad = -1;
    const tr::FlightRecord* last = nullptr;
    for (const tr::FlightRecord& r : times.records())
        if (!last || times.load_of(r) >= lastLoad) {
            last = &r;
            lastLoad = times.load_of(r);
        }
    if (const std::string why = CaptureProblem(*last); !why.empty()) return fail(why);
    Plan plan = BuildPlan(*last, static_cast<int>(times.records().size()) - 1, o.untilCall);
    if (const std::string why = ReadCapture(*last, plan); !why.empty()) return fail(why);

    // From here on the replay writes: its folder, its trace.
    const std::string outDir = o.outDir.empty() ? session::Stamp("replay-%Y%m%d-%H%M%S") : o.outDir;
    const std::string fileFolder = (fs::absolute(outDir) / "files").string();
    fs::create_directories(fileFolder, ec);
    fs::create_directories(o.logDir, ec);
    if (!fs::is_directory(outDir, ec) || !fs::is_directory(o.logDir, ec))
        return fail("cannot create " + outDir + " or " + o.logDir);
    const std::string target = fs::absolute(o.target).string();
    const std::string results = (fs::path(outDir) / "replay-events.txt").string();
    const std::vector<std::string> before = session::FilesIn(o.logDir);

    out << "Replaying " << plan.calls.size() << " calls of " << last->log_name << " against " << target << "\n";
    out.flush();
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) return fail(std::string("cannot start the replay: ") + strerror(errno));
    if (child == 0) {
        // The report is the parent's: what the source prints goes nowhere,
        // but for its complaints on the error stream.
        if (FILE* quiet = std::freopen("/dev/null", "w", stdout)) (void)quiet;
        setenv("TRACELET_TARGET_DS", target.c_str(), 1);
        _exit(PlayPlan(plan, o.traceDs, o, results, fileFolder));
    }
    const session::Ending ending = session::WatchChild(child, o.timeoutSeconds);
    const Results events = ReadResults(results);
    fs::remove(results, ec);

    // The replay's trace moves into the replay's folder.
    const std::vector<std::string> logs = session::TakeNewTrace(o.logDir, before, outDir);
    if (logs.empty()) {
        err << "tracelet-session: the replay wrote no trace in " << o.logDir << "\n";
        return 2;
    }
    std::optional<tr::Session> replayed;
    try {
        replayed.emplace(tr::Session::load(logs, tr::ParseOptions{true}));
    } catch (const std::exception& e) {
        err << "tracelet-session: cannot read the replay's trace: " << e.what() << "\n";
        return 2;
    }
    const tr::SessionTimes replayTimes = tr::SessionTimes::load(logs);

    // The call that never returned, where the source crashed or hung.
    std::string neverReturned;
    long long neverReturnedSeq = -1;
    if (ending.kind != session::Ending::Exited) {
        const RecordedCall* inFlight = events.callsSent < plan.calls.size() ? &plan.calls[events.callsSent] : nullptr;
        std::string triplet;
        if (!replayTimes.records().empty())
            for (const tr::TimedCall& c : replayTimes.records().back().calls)
                if (!c.ended() && !c.from_source) {
                    triplet = tr::triplet_text(c);
                    break;
                }
        std::ostringstream s;
        s << "the replayed call " << (inFlight ? session::SeqText(inFlight->seq) + " " : std::string())
          << (triplet.empty() ? std::string("(not in the replay's flight record)") : triplet)
          << " never returned: ";
        if (ending.kind == session::Ending::Crashed)
            s << "the source crashed (" << strsignal(ending.code) << ")";
        else
            s << "the replay did not end within " << o.timeoutSeconds << " seconds and was stopped";
        neverReturned = s.str();
        if (inFlight) neverReturnedSeq = inFlight->seq;
    }

    tr::Session a = LastLoad(*recorded, times, o.untilCall);
    tr::Session b = LastLoad(*replayed, replayTimes, -1);
    std::vector<tr::Aligned> steps = tr::align(a, b);
    DropExpected(a, times, steps);
    if (!o.ignoreImageBytes) {
        // Image transfers: the captured length and hash of their data.
        for (tr::Aligned& s : steps) {
            if (s.kind != tr::Aligned::Same && s.kind != tr::Aligned::Changed) continue;
            const auto ia = CapturedImage(times, a.calls[s.a]);
            const auto ib = CapturedImage(replayTimes, b.calls[s.b]);
            if (!ia || !ib || ImageDifference(*ia, *ib).empty()) continue;
            s.diffs.push_back({"image data (" + ImageDifference(*ia, *ib) + ")", ImageText(*ia), ImageText(*ib)});
            s.kind = tr::Aligned::Changed;
        }
    }

    std::size_t divergences = 0;
    bool stop = false;
    auto report = [&](const tr::Aligned& s) {
        ++divergences;
        const tr::Call* ca = s.kind == tr::Aligned::OnlyB ? nullptr : &a.calls[s.a];
        const tr::Call* cb = s.kind == tr::Aligned::OnlyA ? nullptr : &b.calls[s.b];
        out << "\nDivergence " << divergences << " at "
            << (ca ? "recorded " + session::SeqText(ca->seq) : std::string("a call the recording lacks")) << ":\n";
        tr::write_step(a, b, s, out, true);
        if (ca && ca->from_source() && ca->dat_value() == DAT_NULL)
            for (const Results::Missing& m : events.missing)
                if (NoticeName(m.msg) == ca->msg || std::to_string(m.msg) == ca->msg)
                    out << "      the replay waited " << o.noticeTimeoutSeconds << " s for " << NoticeName(m.msg)
                        << (m.before >= 0 ? " before " + session::SeqText(m.before) : std::string(" at the end"))
                        << "; it never came\n";
        out << "    Recorded:\n";
        Indented(out, ca ? ca->text : std::string("(none)"), "      | ");
        out << "    Replayed:\n";
        Indented(out, cb ? cb->text : std::string("(none)"), "      | ");
        if (!o.keepGoing) stop = true;
    };
    for (const tr::Aligned& s : steps) {
        if (stop) break;
        if (neverReturnedSeq >= 0 && s.kind != tr::Aligned::OnlyB && a.calls[s.a].seq >= neverReturnedSeq) break;
        if (s.kind != tr::Aligned::Same) report(s);
    }
    if (!stop && !neverReturned.empty()) {
        ++divergences;
        out << "\nDivergence " << divergences << ": " << neverReturned << "\n";
    }
    out << "\nTrace of the replay:";
    for (const std::string& l : logs) out << " " << l;
    out << "\n";
    if (divergences == 0) {
        out << "No divergence: the source answered all " << a.calls.size() << " calls as recorded.\n";
        return 0;
    }
    out << divergences << (divergences == 1 ? " divergence" : " divergences")
        << (o.keepGoing ? "" : " (the first; --keep-going lists them all)") << "\n";
    return 1;
}

}  // namespace replay
