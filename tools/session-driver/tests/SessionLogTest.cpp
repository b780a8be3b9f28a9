// tracelet-session through the demo data source, checked by what its trace
// log says: the states, the source's notice, the one failing call, and pages
// that go out by the chosen mechanism and match their image info.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "PageImage.h"
#include "tracelet/logmodel.h"

namespace {

namespace fs = std::filesystem;
namespace lm = tracelet::logmodel;

struct ProgramRun {
    int exitCode = -1;
    std::string out, err;
};

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Runs tracelet-session with the arguments (already quoted where needed).
ProgramRun RunSession(const std::string& name, const std::string& args) {
    const fs::path work = fs::path(TEST_WORK_DIR) / name;
    fs::remove_all(work);
    fs::create_directories(work);
    const int status = std::system(("'" TRACELET_SESSION "' " + args + " > '" + (work / "out").string() + "' 2> '" +
                                    (work / "err").string() + "'")
                                       .c_str());
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(work / "out"), Slurp(work / "err")};
}

// One call in the log: its triplet ("" for a claimed event), whether the
// source made it, its return code, its state line and all its lines.
struct Call {
    std::string triplet, rc;
    bool fromSource = false;
    int state = 0;
    std::vector<std::string> lines;
    bool Has(const std::string& line) const { return std::find(lines.begin(), lines.end(), line) != lines.end(); }
    long Field(const std::string& name) const {  // "    Name   = [12]"
        for (const std::string& l : lines)
            if (l.find_first_not_of(' ') == l.find(name) && l.find(" = [") != std::string::npos &&
                l.find_first_not_of(' ', l.find(name) + name.size()) == l.find(" = [") + 1)
                return std::stol(l.substr(l.find(" = [") + 4));
        return -1;
    }
};

std::vector<Call> ParseLog(const std::string& text) {
    std::vector<Call> calls;
    for (std::size_t start = 0, end; start < text.size(); start = end + 2) {
        end = text.find("\r\n", start);
        if (end == std::string::npos) { ADD_FAILURE() << "a line without CR LF: " << text.substr(start); break; }
        const std::string line = text.substr(start, end - start);
        const std::size_t tagEnd = line.find("] ", 9);
        if (line.size() > 10 && line[0] == '[' && line.compare(7, 2, " [") == 0 && tagEnd != std::string::npos) {
            const std::string tag = line.substr(9, tagEnd - 9);
            calls.push_back({line.substr(tagEnd + 2), "", tag == lm::kTagSource, 0, {}});
            continue;
        }
        if (line.rfind(lm::kResultPrefix, 0) == 0 && (calls.empty() || !calls.back().rc.empty()))
            calls.emplace_back();  // a result without a triplet line: an event the source claimed
        if (calls.empty()) continue;
        if (line.rfind(lm::kResultPrefix, 0) == 0)
            calls.back().rc = line.substr(lm::kResultPrefix.size(), line.size() - lm::kResultPrefix.size() - 1);
        if (line.rfind(lm::kStatePrefix, 0) == 0) calls.back().state = std::stoi(line.substr(lm::kStatePrefix.size()));
        calls.back().lines.push_back(line);
    }
    return calls;
}

// How the application hears that pages are ready.
enum class Notice { Polled, CallbackDuringEnable, CallbackFromSourceThread };

struct Scenario {
    const char *name, *magic;  // of the saved pages
    int pages;
    const char* args;
    Notice notice;
};

void PrintTo(const Scenario& s, std::ostream* os) { *os << s.name; }  // the test names stay the same

class SessionLogTest : public ::testing::TestWithParam<Scenario> {
protected:
    void SetUp() override {
        fs::create_directories(TRACELET_DEMO_LOG_DIR);
        const Scenario& s = GetParam();
        m_pages = fs::path(TEST_WORK_DIR) / s.name / "pages";
        const ProgramRun run = RunSession(s.name, std::string("--ds '" TRACELET_DEMO_DS "' --log-dir '"
                                                              TRACELET_DEMO_LOG_DIR "' --output '") +
                                                      m_pages.string() + "' --xfer " + s.name + " --pages " +
                                                      std::to_string(s.pages) + " " + s.args);
        ASSERT_EQ(0, run.exitCode) << run.out << run.err;
        const std::size_t at = run.out.find("Log file: ");
        ASSERT_NE(std::string::npos, at) << "the session tells where its log is:\n" << run.out;
        const std::string text = Slurp(run.out.substr(at + 10, run.out.find('\n', at) - at - 10));
        ASSERT_FALSE(text.empty());
        EXPECT_NE(std::string::npos, run.out.find(text)) << "the log is printed";
        m_calls = ParseLog(text);
    }

    std::vector<const Call*> CallsOf(const std::string& triplet) const {
        std::vector<const Call*> found;
        for (const Call& c : m_calls)
            if (c.triplet == triplet) found.push_back(&c);
        return found;
    }

    fs::path m_pages;
    std::vector<Call> m_calls;
};

TEST_P(SessionLogTest, TheStateGoesUpToSevenOncePerPageAndBackToThree) {
    // The application's calls; a notice sent before MSG_ENABLEDS's block was
    // written (from inside it, or from the source's thread the moment it
    // returned) takes the session from 4 to 6 at once.
    std::string steps;
    int enableState = 0;
    for (const Call& c : m_calls) {
        if (c.fromSource || !c.state) continue;
        if (c.triplet == "DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS") enableState = c.state;
        if (steps.empty() || steps[steps.size() - 2] != '0' + c.state) steps += std::to_string(c.state) + " ";
    }
    if (GetParam().notice != Notice::CallbackFromSourceThread) {
        EXPECT_EQ(GetParam().notice == Notice::Polled ? 5 : 6, enableState);
    }
    std::string expected = enableState == 6 ? "3 4 6 7 " : "3 4 5 6 7 ";
    for (int page = 1; page < GetParam().pages; ++page) expected += "6 7 ";
    EXPECT_EQ(expected + "5 4 3 ", steps);

    std::vector<const Call*> notices;
    for (const Call& c : m_calls)
        if (c.fromSource) notices.push_back(&c);
    ASSERT_EQ(GetParam().notice == Notice::Polled ? 0u : 1u, notices.size()) << "polling hears no notice";
    if (notices.empty()) return;
    EXPECT_EQ("DG_CONTROL/DAT_NULL/MSG_XFERREADY", notices[0]->triplet);
    EXPECT_EQ(GetParam().notice == Notice::CallbackDuringEnable,
              notices[0]->Has("        During      = [DG_CONTROL/DAT_USERINTERFACE/MSG_ENABLEDS]"));
}

TEST_P(SessionLogTest, OnlyTheProbeOfAnUnsupportedCapabilityFailsAndIsExplained) {
    std::vector<std::string> failed;
    for (const Call& c : m_calls)
        if (c.rc == "TWRC_FAILURE") failed.push_back(c.triplet);
    EXPECT_EQ(std::vector<std::string>{"DG_CONTROL/DAT_CAPABILITY/MSG_GET (CAP_DEVICEONLINE)"}, failed);
    const auto status = CallsOf("DG_CONTROL/DAT_STATUS/MSG_GET");
    ASSERT_FALSE(status.empty());
    EXPECT_TRUE(status[0]->Has("    ConditionCode = [TWCC_CAPUNSUPPORTED]"));
    const auto mech = CallsOf("DG_CONTROL/DAT_CAPABILITY/MSG_SET (ICAP_XFERMECH)");
    ASSERT_EQ(1u, mech.size()) << "the mechanism of the first page is negotiated";
    EXPECT_TRUE(mech[0]->Has(GetParam().name == std::string("native") ? "      Item     = [TWSX_NATIVE]"
                                                                       : "      Item     = [TWSX_MEMORY]"));
}

TEST_P(SessionLogTest, PagesGoOutByTheChosenMechanismAndMatchTheirImageInfo) {
    const std::size_t memory = CallsOf("DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET").size();
    const std::size_t native = CallsOf("DG_IMAGE/DAT_IMAGENATIVEXFER/MSG_GET").size();
    const std::size_t pages = GetParam().pages;
    const std::string xfer = GetParam().name;
    EXPECT_EQ(xfer == "memory" ? 0 : xfer == "native" ? pages : pages / 2, native) << "mixed: every second page";
    EXPECT_EQ(xfer == "native", memory == 0);
    EXPECT_GE(memory, 2 * (pages - native)) << "several strips a page";
    EXPECT_EQ(pages, std::size_t(std::count_if(m_calls.begin(), m_calls.end(), [](const Call& c) {
                  return c.rc == "TWRC_XFERDONE";
              }))) << "each page ends with TWRC_XFERDONE";

    const auto infos = CallsOf("DG_IMAGE/DAT_IMAGEINFO/MSG_GET");
    ASSERT_EQ(pages, infos.size());
    const std::string magic = GetParam().magic;
    for (std::size_t i = 0; i < pages; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "page-%03zu.p%cm", i + 1, magic == "P4" ? 'b' : magic == "P5" ? 'g' : 'p');
        session::PnmHeader header;
        ASSERT_TRUE(session::ReadPnmHeader((m_pages / name).string(), &header)) << name;
        EXPECT_EQ(magic, header.magic);
        EXPECT_EQ(infos[i]->Field("ImageWidth"), long(header.width)) << name;
        EXPECT_EQ(infos[i]->Field("ImageLength"), long(header.height)) << name;
        const std::size_t row = magic == "P4" ? (header.width + 7) / 8
                                              : header.width * (magic == "P6" ? 3 : 1) * (header.maxval > 255 ? 2 : 1);
        EXPECT_EQ(header.dataOffset + row * header.height, fs::file_size(m_pages / name)) << "a whole page";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Mechanisms, SessionLogTest,
    ::testing::Values(Scenario{"memory", "P5", 2, "--pixel-type gray --resolution 75", Notice::CallbackDuringEnable},
                      Scenario{"native", "P4", 2, "--pixel-type bw --resolution 100 --poll-events", Notice::Polled},
                      Scenario{"mixed", "P6", 3,
                               "--pixel-type rgb --resolution 75 --frame 0.5,0.5,6,8 --bit-depth 16 --source-thread",
                               Notice::CallbackFromSourceThread}),
    [](const ::testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

// --- The program's own failures ------------------------------------------------

// (Refused options: the options tests.)
TEST(SessionProgramTest, AMissingSourceAndALyingStripEndTheSessionWithAMessage) {
    const struct {
        std::string args, message;
        bool fails;  // the exit status says so
    } rows[] = {
        {"--ds /nonexistent/Nothing.ds --log-dir /nonexistent/log", "cannot load /nonexistent/Nothing.ds", true},
#ifdef LYING_STRIP_DS
        // The last strip of a page says it reaches one row past the page.
        {"--ds '" LYING_STRIP_DS "' --xfer memory --pages 1 --log-dir /nonexistent/log",
         "does not fit the image info", true},
#endif
    };
    for (const auto& row : rows) {
        const ProgramRun run = RunSession("failing", row.args);
        EXPECT_TRUE(!row.fails || run.exitCode != 0) << row.args << "\n" << run.out << run.err;
        EXPECT_NE(std::string::npos, run.err.find(row.message)) << row.args << ": " << run.err;
    }
}

}  // namespace
