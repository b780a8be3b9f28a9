#include "Certify.h"

#include <signal.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "CertifyChecks.h"
#include "CertifyPlan.h"
#include "ChildRun.h"
#include "trace/reader.hpp"

namespace fs = std::filesystem;

namespace certify {

namespace {

// The sequence numbers of the run's own calls in the log, in order: every
// triplet line but the source's own calls.
struct SequenceSink : tracelet::trace::Sink {
    std::vector<long long> app;
    long long last = -1;
    void call(tracelet::trace::Call&& c) override {
        if (!c.has_triplet || c.seq < 0) return;
        last = c.seq;
        if (c.tag != "DS") app.push_back(c.seq);
    }
};

bool RunProgram(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid < 0) return false;
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int Run(const Options& o, std::ostream& out, std::ostream& err) {
    std::error_code ec;
    if (!fs::is_regular_file(o.target, ec)) {
        err << "tracelet-session: the data source to certify, " << o.target << ", is not a file\n";
        return 2;
    }
    if (o.traceDs.empty() || !fs::is_regular_file(o.traceDs, ec)) {
        err << "tracelet-session: a conformance run needs the trace data source of a build tree ("
            << (o.traceDs.empty() ? std::string("this program has none") : o.traceDs + " is missing")
            << "); run the tracelet-session of the build tree\n";
        return 2;
    }
    const std::string outDir = o.outDir.empty() ? session::Stamp("certify-%Y%m%d-%H%M%S") : o.outDir;
    fs::create_directories(outDir, ec);
    fs::create_directories(o.logDir, ec);
    if (!fs::is_directory(outDir) || !fs::is_directory(o.logDir)) {
        err << "tracelet-session: cannot create " << outDir << " or " << o.logDir << "\n";
        return 2;
    }
    const std::string target = fs::absolute(o.target).string();
    const std::string results = (fs::path(outDir) / "plan-results.jsonl").string();
    const std::vector<std::string> before = session::FilesIn(o.logDir);

    out << "Conformance run of " << target << "\n  trace data source " << o.traceDs << "\n  report in " << outDir
        << "\n";
    out.flush();
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        err << "tracelet-session: cannot start the run: " << strerror(errno) << "\n";
        return 2;
    }
    if (child == 0) {
        setenv("TRACELET_TARGET_DS", target.c_str(), 1);
        PlanOptions plan;
        plan.dataSource = o.traceDs;
        plan.resultsPath = results;
        plan.workDir = fs::absolute(outDir).string();
        plan.stressCycles = o.stressCycles;
        _exit(RunPlan(plan));
    }
    const session::Ending ending = session::WatchChild(child, o.timeoutSeconds);

    // What the plan wrote.
    nlohmann::json source = nlohmann::json::object();
    std::map<std::string, Result> byId;
    int lastGroup = 0;
    bool ended = false;
    {
        std::ifstream in(results);
        std::string line;
        while (std::getline(in, line)) {
            const nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
            if (j.is_discarded() || !j.contains("type")) continue;
            const std::string type = j["type"];
            if (type == "source") source = j;
            if (type == "group") lastGroup = j.value("group", 0);
            if (type == "end") ended = true;
            if (type != "result") continue;
            Result r;
            r.id = j.value("id", "");
            const std::string v = j.value("verdict", "");
            r.verdict = v == "pass" ? Verdict::Pass : v == "fail" ? Verdict::Fail : Verdict::NotApplicable;
            r.note = j.value("note", "");
            r.moreFindings = j.value("more", 0L);
            for (const auto& f : j["findings"]) r.findings.push_back({f.value("call", 0L), f.value("text", "")});
            byId[r.id] = r;
        }
    }
    fs::remove(results, ec);

    // The trace: the log files the run wrote move into the report's folder,
    // their flight records with them.
    const std::vector<std::string> logs = session::TakeNewTrace(o.logDir, before, outDir);
    SequenceSink seqs;
    try {
        tracelet::trace::read_session(logs, seqs);
    } catch (const std::exception& e) {
        err << "tracelet-session: cannot read the trace: " << e.what() << "\n";
    }

    const bool completed = ending.kind != session::Ending::Crashed && ending.kind != session::Ending::Hung && ending.code == 0 && ended;
    Result& run = byId["run.completes"];
    run.id = "run.completes";
    if (!completed) {
        const Group* g = FindGroup(lastGroup);
        const std::string where = g ? std::string(" in group ") + std::to_string(g->number) + " (" + g->name + ")" : "";
        std::string what;
        if (ending.kind == session::Ending::Crashed)
            what = std::string("the source crashed (") + strsignal(ending.code) + ")" + where;
        else if (ending.kind == session::Ending::Hung)
            what = "the source hung" + where + ": no end after " + std::to_string(o.timeoutSeconds) + " seconds";
        else
            what = "the run stopped" + where + " with exit status " + std::to_string(ending.code);
        run.verdict = Verdict::Fail;
        run.findings = {{0, what + "; the last call the trace shows is this one", seqs.last}};
        run.moreFindings = 0;
    }
    for (auto& [id, r] : byId)
        for (Finding& f : r.findings)
            if (f.call >= 1 && std::size_t(f.call) <= seqs.app.size()) f.seq = seqs.app[std::size_t(f.call) - 1];

    std::vector<Result> all;
    for (const CheckDef& def : Checks()) {
        Result r = byId.count(def.id) ? byId[def.id] : Result{};
        r.id = def.id;
        all.push_back(r);
    }

    // The HTML page of the trace.
    std::string html;
    if (!logs.empty() && !o.logProgram.empty() && fs::is_regular_file(o.logProgram, ec)) {
        html = (fs::path(outDir) / "trace.html").string();
        std::vector<std::string> args{o.logProgram, "html"};
        args.insert(args.end(), logs.begin(), logs.end());
        args.insert(args.end(), {"-o", html, "-t", "Conformance run of " + fs::path(target).filename().string()});
        if (!RunProgram(args)) {
            err << "tracelet-session: tracelet-log html failed; no page\n";
            html.clear();
        }
    }

    // --- The report ---------------------------------------------------------------
    std::map<Verdict, int> counts;
    for (const Result& r : all) ++counts[r.verdict];
    const int score = Score(all);
    std::ostringstream text;
    text << "Source: " << source.value("name", "?") << " (" << source.value("manufacturer", "?") << ", "
         << source.value("family", "?") << "), version " << source.value("version", "?") << ", TWAIN "
         << source.value("protocol", "?") << "\n";
    std::vector<const Group*> order;
    for (const Group& g : Groups())
        if (g.number) order.push_back(&g);
    order.push_back(FindGroup(0));
    for (const Group* g : order) {
        text << "\n" << (g->number ? std::to_string(g->number) + ". " : std::string()) << g->name;
        if (g->weight) text << " (weight " << g->weight << ")";
        text << "\n";
        for (std::size_t i = 0; i < all.size(); ++i) {
            const CheckDef& def = Checks()[i];
            if (def.group != g->number) continue;
            const Result& r = all[i];
            const char* mark = r.verdict == Verdict::Pass ? "pass" : r.verdict == Verdict::Fail ? "FAIL"
                               : r.verdict == Verdict::NotApplicable ? "n/a " : "----";
            text << "  " << mark << "  " << std::left << std::setw(26) << def.id << std::right << def.title;
            if (!r.note.empty()) text << " (" << r.note << ")";
            text << "\n";
            for (const Finding& f : r.findings)
                text << "          " << (f.seq >= 0 ? session::SeqText(f.seq) : std::string("[ ? ]")) << " " << f.text << "\n";
            if (r.moreFindings) text << "          and " << r.moreFindings << " more\n";
        }
    }
    text << "\nSummary: " << counts[Verdict::Pass] << " passed, " << counts[Verdict::Fail] << " failed, "
         << counts[Verdict::NotApplicable] << " not applicable, " << counts[Verdict::NotRun] << " not run; score "
         << score << "/100\n";
    for (const std::string& l : logs) text << "Trace: " << l << "\n";
    if (!html.empty()) text << "Page:  " << html << "\n";
    out << text.str();
    std::ofstream(fs::path(outDir) / "report.txt", std::ios::binary) << text.str();

    if (!o.jsonPath.empty()) {
        nlohmann::json groups = nlohmann::json::array();
        for (const Group* g : order) {
            nlohmann::json checks = nlohmann::json::array();
            for (std::size_t i = 0; i < all.size(); ++i) {
                const CheckDef& def = Checks()[i];
                if (def.group != g->number) continue;
                const Result& r = all[i];
                nlohmann::json findings = nlohmann::json::array();
                for (const Finding& f : r.findings)
                    findings.push_back({{"seq", f.seq >= 0 ? nlohmann::json(f.seq) : nlohmann::json()},
                                        {"text", f.text}});
                checks.push_back({{"id", def.id},
                                  {"title", def.title},
                                  {"verdict", VerdictName(r.verdict)},
                                  {"note", r.note},
                                  {"findings", findings},
                                  {"moreFindings", r.moreFindings}});
            }
            groups.push_back({{"number", g->number}, {"name", g->name}, {"weight", g->weight}, {"checks", checks}});
        }
        const char* outcome = ending.kind == session::Ending::Crashed ? "crashed"
                              : ending.kind == session::Ending::Hung  ? "hung"
                              : completed                    ? "completed"
                                                             : "stopped";
        source.erase("type");
        const nlohmann::json report = {
            {"target", target},
            {"source", source},
            {"outcome", outcome},
            {"score", score},
            {"counts",
             {{"pass", counts[Verdict::Pass]},
              {"fail", counts[Verdict::Fail]},
              {"notApplicable", counts[Verdict::NotApplicable]},
              {"notRun", counts[Verdict::NotRun]}}},
            {"groups", groups},
            {"trace", logs},
            {"html", html.empty() ? nlohmann::json() : nlohmann::json(html)}};
        std::ofstream json(o.jsonPath, std::ios::binary);
        json << report.dump(2) << "\n";
        if (!json) err << "tracelet-session: cannot write " << o.jsonPath << "\n";
    }
    return counts[Verdict::Fail] == 0 && completed ? 0 : 1;
}

}  // namespace certify
