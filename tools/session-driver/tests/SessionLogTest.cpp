// tracelet-session through the demo data source, checked by what its trace
// log says: numbering, states, the source's notice, capability blocks, the
// one failing call and its marker block, and pages that match their image
// info.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "PageImage.h"
#include "tracelet/logmodel.h"

namespace {

namespace fs = std::filesystem;
namespace lm = tracelet::logmodel;

// The text between prefix and the last character, when line starts with
// prefix and ends with last.
bool Between(const std::string& line, std::string_view prefix, char last, std::string* out) {
    if (line.size() <= prefix.size() || line.compare(0, prefix.size(), prefix) != 0 || line.back() != last)
        return false;
    *out = line.substr(prefix.size(), line.size() - prefix.size() - 1);
    return true;
}

struct ProgramRun {
    int exitCode = -1;
    std::string out, err;
};

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Runs tracelet-session with the arguments (already quoted where needed).
ProgramRun RunSession(const std::string& name, const std::string& args) {
    const fs::path work = fs::path(TEST_WORK_DIR) / name;
    fs::remove_all(work);
    fs::create_directories(work);
    const std::string command = std::string("'") + TRACELET_SESSION + "' " + args + " > '" +
                                (work / "stdout").string() + "' 2> '" + (work / "stderr").string() + "'";
    const int status = std::system(command.c_str());
    ProgramRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = Slurp(work / "stdout");
    run.err = Slurp(work / "stderr");
    return run;
}

// One call in the log: its triplet line (empty for a claimed event, which
// has none) and the lines that follow it up to the next call.
struct Call {
    std::string triplet;
    std::vector<std::string> lines;
    bool fromSource = false;  // a [DS] block
    int state = 0;            // its state line's, 0 for none

    bool Has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
    std::string ReturnCode() const {
        std::string rc;
        for (const std::string& l : lines)
            if (Between(l, lm::kResultPrefix, ']', &rc)) return rc;
        return "";
    }
    // "    Name   = [12]" at any depth.
    long Field(const std::string& name) const {
        for (const std::string& l : lines) {
            const std::size_t at = l.find_first_not_of(' ');
            const std::size_t eq = l.find(" = [");
            if (at == std::string::npos || eq == std::string::npos || l.compare(at, name.size(), name) != 0 ||
                l.find_first_not_of(' ', at + name.size()) != eq + 1 || l.back() != ']')
                continue;
            return std::stol(l.substr(eq + 4));
        }
        return -1;
    }
};

struct Log {
    std::vector<std::string> lines;
    std::vector<long> numbers;  // of the triplet lines, in order
    std::vector<Call> calls;
};

Log ParseLog(const std::string& text) {
    Log log;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find("\r\n", start);
        if (end == std::string::npos) {
            ADD_FAILURE() << "a line without CR LF at the end of the log: " << text.substr(start);
            break;
        }
        log.lines.push_back(text.substr(start, end - start));
        start = end + 2;
    }
    for (const std::string& line : log.lines) {
        // "[00012] [APP] DG/DAT/MSG": the number, the tag, the names.
        const std::size_t close = line.find("] [");
        const std::size_t tagEnd = close == std::string::npos ? close : line.find("] ", close + 3);
        if (line.size() > 6 && line[0] == '[' && tagEnd != std::string::npos && close >= 6 &&
            line.find_first_not_of("0123456789", 1) == close) {
            const std::string tag = line.substr(close + 3, tagEnd - close - 3);
            if (tag == lm::kTagApplication || tag == lm::kTagSource) {
                log.numbers.push_back(std::stol(line.substr(1, close - 1)));
                log.calls.push_back(Call{line.substr(tagEnd + 2), {}, tag == lm::kTagSource});
                continue;
            }
        }
        // A result block without a triplet line (an event the source claimed).
        if (line.rfind(lm::kResultPrefix, 0) == 0 && (log.calls.empty() || !log.calls.back().ReturnCode().empty()))
            log.calls.push_back(Call{"", {}});
        if (log.calls.empty()) continue;
        std::string state;
        if (Between(line, lm::kStatePrefix, ']', &state)) log.calls.back().state = std::stoi(state);
        log.calls.back().lines.push_back(line);
    }
    return log;
}

std::string LogPathFrom(const std::string& out) {
    const std::string label = "Log file: ";
    std::size_t at = out.compare(0, label.size(), label) == 0 ? 0 : out.find("\n" + label);
    if (at == std::string::npos) return "";
    at = out.find(label, at) + label.size();
    const std::size_t end = out.find('\n', at);
    return end == std::string::npos ? std::string() : out.substr(at, end - at);
}

// How the application hears that pages are ready.
enum class Notice { Polled, CallbackDuringEnable, CallbackFromSourceThread };

struct Scenario {
    const char* name;
    const char* xfer;
    const char* pixelType;
    const char* magic;  // of the saved pages
    int pages;
    const char* extra;
    Notice notice;
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }

class SessionLogTest : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        fs::create_directories(TRACELET_DEMO_LOG_DIR);
        const Scenario& s = GetParam();
        m_output = fs::path(TEST_WORK_DIR) / s.name / "pages";
        std::ostringstream args;
        args << "--ds '" << TRACELET_DEMO_DS << "' --log-dir '" << TRACELET_DEMO_LOG_DIR << "' --output '"
             << m_output.string() << "' --xfer " << s.xfer << " --pixel-type " << s.pixelType << " --pages " << s.pages
             << " " << s.extra;
        m_run = RunSession(s.name, args.str());
        ASSERT_EQ(0, m_run.exitCode) << m_run.out << m_run.err;
        const std::string path = LogPathFrom(m_run.out);
        ASSERT_FALSE(path.empty()) << "the session tells where its log is:\n" << m_run.out;
        m_text = Slurp(path);
        ASSERT_FALSE(m_text.empty());
        EXPECT_NE(std::string::npos, m_run.out.find(m_text)) << "the log is printed";
        m_log = ParseLog(m_text);
        ASSERT_FALSE(m_log.calls.empty());
    }

    std::vector<const Call*> CallsOf(const std::string& triplet) const {
        std::vector<const Call*> found;
        for (const Call& c : m_log.calls)
            if (c.triplet == triplet) found.push_back(&c);
        return found;
    }

    fs::path m_output;
    ProgramRun m_run;
    std::string m_text;
    Log m_log;
};

TEST_P(SessionLogTest, TripletLinesAreNumberedFromOneWithoutGaps) {
    ASSERT_FALSE(m_log.numbers.empty());
    for (std::size_t i = 0; i < m_log.numbers.size(); ++i) ASSERT_EQ(long(i + 1), m_log.numbers[i]) << "line " << i;
}

TEST_P(SessionLogTest, TheStateGoesUpToSevenOncePerPageAndBackToThree) {
    // The application's calls; a notice's block may stand anywhere after it
    // was sent when the source signals from a thread of its own.
    std::vector<int> steps;
    int enableState = 0;
    for (const Call& c : m_log.calls) {
        if (c.fromSource || !c.state) continue;
        if (c.triplet == "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS") enableState = c.state;
        if (steps.empty() || steps.back() != c.state) steps.push_back(c.state);
    }
    std::ostringstream text;
    for (int s : steps) text << s << " ";
    // A notice sent before MSG_ENABLEDS's block was written (from inside
    // it, or from the source's thread the moment it returned) takes the
    // session from 4 to 6 at once.
    if (GetParam().notice == Notice::CallbackDuringEnable) {
        EXPECT_EQ(6, enableState);
    }
    if (GetParam().notice == Notice::Polled) {
        EXPECT_EQ(5, enableState);
    }
    std::string expected = enableState == 6 ? "3 4 6 7 " : "3 4 5 6 7 ";
    for (int page = 1; page < GetParam().pages; ++page) expected += "6 7 ";
    expected += "5 4 3 ";
    EXPECT_EQ(expected, text.str());
}

TEST_P(SessionLogTest, TheSourcesNoticeIsTracedWithTheCallItArrivedDuring) {
    std::vector<const Call*> notices;
    for (const Call& c : m_log.calls)
        if (c.fromSource) notices.push_back(&c);
    if (GetParam().notice == Notice::Polled) {
        EXPECT_TRUE(notices.empty()) << "an application without callbacks polls";
        return;
    }
    ASSERT_EQ(1u, notices.size());
    EXPECT_EQ("DG_CONTROL/DAT_NULL/MSG_XFERREADY", notices[0]->triplet);
    EXPECT_EQ(GetParam().notice == Notice::CallbackDuringEnable,
              notices[0]->Has("        During      = [DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS]"));
    EXPECT_TRUE(notices[0]->Has("TWAIN Status = [6]"));
}

TEST_P(SessionLogTest, EachNegotiatedCapabilityHasItsBlock) {
    std::vector<std::string> negotiated;
    for (const Call& c : m_log.calls) {
        std::string cap;
        if (!Between(c.triplet, "DG_CONTROL/DAT_CAPABILITY/MSG_SET (", ')', &cap)) continue;
        negotiated.push_back(cap);
        EXPECT_TRUE(c.Has("  TW_CAPABILITY = {")) << cap;
        EXPECT_TRUE(c.Has("    Cap        = [" + cap + "]")) << cap;
        EXPECT_TRUE(c.Has("    ConType    = [TWON_ONEVALUE]")) << cap;
    }
    for (const char* cap : {"ICAP_UNITS", "ICAP_XFERMECH", "ICAP_PIXELTYPE", "ICAP_XRESOLUTION", "ICAP_YRESOLUTION",
                            "CAP_XFERCOUNT"})
        EXPECT_NE(negotiated.end(), std::find(negotiated.begin(), negotiated.end(), cap)) << cap;
    // The negotiated mechanism is the one of the first page.
    const auto mech = CallsOf("DG_CONTROL/DAT_CAPABILITY/MSG_SET (ICAP_XFERMECH)");
    ASSERT_EQ(1u, mech.size());
    const bool native = std::string(GetParam().xfer) == "native";
    EXPECT_TRUE(mech[0]->Has(native ? "      Item     = [TWSX_NATIVE]" : "      Item     = [TWSX_MEMORY]"));
}

TEST_P(SessionLogTest, TheMarkerBlockFollowsTheOneFailingCallAndNothingElse) {
    int markers = 0;
    for (const std::string& line : m_log.lines)
        if (line == lm::kMarkerStart) ++markers;
    EXPECT_EQ(1, markers);
    int failures = 0;
    for (const Call& c : m_log.calls) {
        if (c.ReturnCode() != "TWRC_FAILURE") {
            EXPECT_FALSE(c.Has(std::string(lm::kMarkerStart))) << c.triplet;
            continue;
        }
        ++failures;
        EXPECT_EQ("DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_DEVICEONLINE)", c.triplet);
        ASSERT_GE(c.lines.size(), 2u);
        EXPECT_EQ(lm::kMarkerStart, c.lines[c.lines.size() - 2]) << "right after the call";
        EXPECT_EQ(lm::kMarkerEnd, c.lines.back());
        EXPECT_EQ(c.lines.end(), std::find_if(c.lines.begin(), c.lines.end(), [](const std::string& l) {
                      return l.rfind(lm::kStatePrefix, 0) == 0;
                  })) << "a failed call moves no state";
    }
    EXPECT_EQ(1, failures);
    // The application asks why, and is told.
    const auto status = CallsOf("DG_CONTROL/DAT_STATUS/MSG_GET");
    ASSERT_FALSE(status.empty());
    EXPECT_TRUE(status[0]->Has("    ConditionCode = [TWCC_CAPUNSUPPORTED]"));
}

TEST_P(SessionLogTest, SavedPagesMatchTheirImageInfo) {
    const auto infos = CallsOf("DG_IMAGE/DAT_IMAGEINFO/MSG_GET");
    ASSERT_EQ(std::size_t(GetParam().pages), infos.size());
    for (std::size_t i = 0; i < infos.size(); ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "page-%03zu", i + 1);
        const std::string extension = std::string(GetParam().magic) == "P4"   ? ".pbm"
                                      : std::string(GetParam().magic) == "P5" ? ".pgm"
                                                                              : ".ppm";
        const fs::path page = m_output / (name + extension);
        session::PnmHeader header;
        ASSERT_TRUE(session::ReadPnmHeader(page.string(), &header)) << page;
        EXPECT_EQ(GetParam().magic, header.magic);
        EXPECT_EQ(infos[i]->Field("ImageWidth"), long(header.width)) << page;
        EXPECT_EQ(infos[i]->Field("ImageLength"), long(header.height)) << page;
        EXPECT_GT(header.width, 0u);
        const std::size_t row = header.magic == "P4" ? (header.width + 7) / 8
                                                     : header.width * (header.magic == "P6" ? 3 : 1) *
                                                           (header.maxval > 255 ? 2 : 1);
        EXPECT_EQ(header.dataOffset + row * header.height, fs::file_size(page)) << "a whole page of pixels";
    }
}

TEST_P(SessionLogTest, PagesGoOutByTheChosenMechanism) {
    const std::size_t memory = CallsOf("DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET").size();
    const std::size_t native = CallsOf("DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET").size();
    const std::string xfer = GetParam().xfer;
    const int pages = GetParam().pages;
    if (xfer == "memory") {
        EXPECT_GT(memory, std::size_t(pages)) << "several strips a page";
        EXPECT_EQ(0u, native);
    } else if (xfer == "native") {
        EXPECT_EQ(0u, memory);
        EXPECT_EQ(std::size_t(pages), native);
    } else {
        EXPECT_EQ(std::size_t(pages / 2), native) << "every second page";
        EXPECT_GT(memory, 0u);
    }
    // Each page ends with TWRC_XFERDONE on its last transfer call.
    std::size_t done = 0;
    for (const Call& c : m_log.calls)
        if (c.ReturnCode() == "TWRC_XFERDONE") ++done;
    EXPECT_EQ(std::size_t(pages), done);
}

INSTANTIATE_TEST_SUITE_P(Mechanisms, SessionLogTest,
                         ::testing::Values(Scenario{"memory", "memory", "gray", "P5", 2, "--resolution 75",
                                                    Notice::CallbackDuringEnable},
                                           Scenario{"native", "native", "bw", "P4", 2,
                                                    "--resolution 100 --poll-events", Notice::Polled},
                                           Scenario{"mixed", "mixed", "rgb", "P6", 3,
                                                    "--resolution 75 --frame 0.5,0.5,6,8 --bit-depth 16 "
                                                    "--source-thread",
                                                    Notice::CallbackFromSourceThread}),
                         [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

// --- The program's own failures ------------------------------------------------

TEST(SessionProgramTest, BadOptionsAreRefusedWithAMessageAndNoSession) {
    struct Bad {
        const char* args;
        const char* mentions;
    };
    for (const Bad& bad : {Bad{"--pages 0", "--pages"}, Bad{"--xfer carrier-pigeon", "carrier-pigeon"},
                           Bad{"--pixel-type sepia", "sepia"}, Bad{"--frame 1,1,0,2", "L,T,R,B"},
                           Bad{"--no-such-option", "--no-such-option"}, Bad{"--pixel-type bw --bit-depth 8", "bw"}}) {
        const ProgramRun run = RunSession("bad-options", bad.args);
        EXPECT_NE(0, run.exitCode) << bad.args;
        EXPECT_NE(std::string::npos, run.err.find(bad.mentions)) << bad.args << ": " << run.err;
        EXPECT_EQ(std::string::npos, run.out.find("Loading")) << bad.args;
    }
}

TEST(SessionProgramTest, HelpListsTheOptionsAndSucceeds) {
    const ProgramRun run = RunSession("help", "--help");
    EXPECT_EQ(0, run.exitCode);
    for (const char* option : {"--pages", "--xfer", "--pixel-type", "--resolution", "--output", "--ds", "--log-dir"})
        EXPECT_NE(std::string::npos, run.out.find(option)) << option;
}

TEST(SessionProgramTest, AMissingDataSourceIsReportedAndFails) {
    const ProgramRun run = RunSession("missing-ds", "--ds /nonexistent/Nothing.ds --log-dir /nonexistent/log");
    EXPECT_EQ(1, run.exitCode);
    EXPECT_NE(std::string::npos, run.err.find("cannot load /nonexistent/Nothing.ds"));
    EXPECT_NE(std::string::npos, run.out.find("Logging is off"));
}

}  // namespace
