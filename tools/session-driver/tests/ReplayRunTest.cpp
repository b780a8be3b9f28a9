// Whole replays: a demo session recorded through the demo data source, then
// replayed by tracelet-session --replay against the standalone virtual
// scanner, clean and with each of its fault switches; and the recordings a
// replay refuses.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

namespace {

namespace fs = std::filesystem;

struct ProgramRun {
    int exitCode = -1;
    std::string out, err;
    double seconds = 0;
};

std::string Slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const fs::path kWork = TEST_WORK_DIR;

ProgramRun RunSession(const std::string& name, const std::string& args, const std::string& env = "") {
    const fs::path out = kWork / (name + ".out"), err = kWork / (name + ".err");
    const auto start = std::chrono::steady_clock::now();
    const int status = std::system((env + " '" TRACELET_SESSION "' " + args + " > '" + out.string() + "' 2> '" +
                                    err.string() + "'")
                                       .c_str());
    ProgramRun r{WIFEXITED(status) ? WEXITSTATUS(status) : -1, Slurp(out), Slurp(err)};
    r.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return r;
}

// Records a demo session into its own folder: the log files and flight
// records the session left in the demo log folder.
fs::path Record(const std::string& name, const std::string& options) {
    const fs::path folder = kWork / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    fs::create_directories(TRACELET_DEMO_LOG_DIR);
    std::vector<fs::path> before;
    for (const auto& e : fs::directory_iterator(TRACELET_DEMO_LOG_DIR)) before.push_back(e.path());
    const ProgramRun r = RunSession(name + "-session", "--ds '" TRACELET_DEMO_DS "' --log-dir '" TRACELET_DEMO_LOG_DIR
                                                "' --no-log-print --output '" + (folder / "scans").string() + "' " +
                                                    options);
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    for (const auto& e : fs::directory_iterator(TRACELET_DEMO_LOG_DIR))
        if (std::find(before.begin(), before.end(), e.path()) == before.end())
            fs::rename(e.path(), folder / e.path().filename());
    return folder;
}

// The sequence number of the first call of the recorded log whose triplet
// line holds `text`.
long long FirstCall(const fs::path& recording, const std::string& text) {
    for (const auto& e : fs::directory_iterator(recording)) {
        if (e.path().extension() != ".txt") continue;
        std::ifstream in(e.path());
        std::string line;
        while (std::getline(in, line))
            if (line.size() > 8 && line[0] == '[' && line.find(text) != std::string::npos)
                return std::stoll(line.substr(1, 5));
    }
    return -1;
}

long long FirstDivergence(const std::string& out) {
    std::smatch m;
    if (!std::regex_search(out, m, std::regex("Divergence 1 at recorded \\[(\\d+)\\]"))) return -1;
    return std::stoll(m[1]);
}

std::string Replay(const fs::path& recording, const std::string& name) {
    return "--replay '" + recording.string() + "' --target '" VIRTUAL_SCANNER_DS "' --out '" +
           (kWork / name).string() + "'";
}

class ReplayRun : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fs::create_directories(kWork);
        s_recording = Record("recording", "");
    }
    static fs::path s_recording;
};
fs::path ReplayRun::s_recording;

// The demo, and the demo of an application without callbacks that hears of
// its pages through its event loop.
TEST_F(ReplayRun, TheRecordedDemoReplaysWithoutDivergence) {
    const ProgramRun r = RunSession("identical", Replay(s_recording, "identical"));
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
    EXPECT_NE(r.out.find("No divergence"), std::string::npos) << r.out;
    const fs::path polled = Record("recording-events", "--poll-events");
    const ProgramRun events = RunSession("events", Replay(polled, "events"));
    EXPECT_EQ(events.exitCode, 0) << events.out << events.err;
    // Its own trace is written beside the report.
    bool traced = false;
    for (const auto& e : fs::directory_iterator(kWork / "identical")) traced |= e.path().extension() == ".txt";
    EXPECT_TRUE(traced);
}

// Each fault switch: where the demo sends the triplet it spoils, the first
// divergence is that call; where it does not, there is none.
TEST_F(ReplayRun, EachFaultDivergesAtItsOwnCallOrNowhere) {
    const struct {
        const char* fault;
        const char* firstCall;  // the triplet line of the first call that diverges; nullptr: none
    } cases[] = {
        {"short-strip", "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET"},
        {"getcurrent-container", nullptr},
        {"reset-keeps-value", nullptr},
        {"resetall-keeps-value", nullptr},
        {"no-seqerror", nullptr},
        {"stale-status", nullptr},
        {"leak-fd", nullptr},
    };
    for (const auto& c : cases) {
        const std::string name = std::string("fault-") + c.fault;
        const ProgramRun r = RunSession(name, Replay(s_recording, name), std::string("TRACELET_SCANNER_FAULT=") + c.fault);
        if (!c.firstCall) {
            EXPECT_EQ(r.exitCode, 0) << c.fault << "\n" << r.out << r.err;
            continue;
        }
        EXPECT_EQ(r.exitCode, 1) << c.fault << "\n" << r.out << r.err;
        const long long expected = FirstCall(s_recording, c.firstCall);
        ASSERT_GT(expected, 0);
        EXPECT_EQ(FirstDivergence(r.out), expected) << c.fault << "\n" << r.out;
    }
}

// A source that crashes or hangs: the call that never returned is named, and
// the replay ends within its timeout.
TEST_F(ReplayRun, CrashAndHangNameTheCallThatNeverReturned) {
    const long long imageInfo = FirstCall(s_recording, "DG_IMAGE/DAT_IMAGEINFO/MSG_GET");
    ASSERT_GT(imageInfo, 0);
    char seq[16];
    std::snprintf(seq, sizeof seq, "[%05lld]", imageInfo);
    for (const char* fault : {"crash", "hang"}) {
        const std::string name = std::string("fault-") + fault;
        const ProgramRun r = RunSession(name, Replay(s_recording, name) + " --timeout 5",
                                 std::string("TRACELET_SCANNER_FAULT=") + fault);
        EXPECT_EQ(r.exitCode, 1) << fault << "\n" << r.out << r.err;
        EXPECT_NE(r.out.find(std::string("replayed call ") + seq + " DG_IMAGE/DAT_IMAGEINFO/MSG_GET never returned"),
                  std::string::npos)
            << fault << "\n" << r.out;
        EXPECT_LT(r.seconds, 30) << fault;
    }
}

// --keep-going lists every divergence, not only the first;
// --ignore-image-bytes leaves the image data out of the comparison.
TEST_F(ReplayRun, OptionsWidenOrNarrowTheComparison) {
    // Without its notice the source is not ready when asked for the page,
    // and every transfer call after that fails.
    const ProgramRun all = RunSession("keep-going",
                                      "--replay '" + s_recording.string() + "' --target '" MUTED_NOTICES_DS
                                      "' --out '" + (kWork / "keep-going").string() +
                                          "' --notice-timeout 0.2 --keep-going");
    EXPECT_EQ(all.exitCode, 1) << all.out << all.err;
    EXPECT_NE(all.out.find("Divergence 2 at"), std::string::npos) << all.out;
    EXPECT_EQ(all.out.find("(the first;"), std::string::npos) << all.out;

    const ProgramRun bytes = RunSession("ignore-image", Replay(s_recording, "ignore-image") + " --ignore-image-bytes",
                                        "TRACELET_SCANNER_FAULT=short-strip");
    EXPECT_EQ(bytes.exitCode, 1) << bytes.out << bytes.err;
    EXPECT_NE(bytes.out.find("TW_IMAGEMEMXFER.Rows"), std::string::npos) << bytes.out;
    EXPECT_EQ(bytes.out.find("image data"), std::string::npos) << bytes.out;
}

// --until: only the calls up to it are replayed and compared, so a fault
// after it does not show.
TEST_F(ReplayRun, UntilStopsBeforeALaterFault) {
    const long long strip = FirstCall(s_recording, "DG_IMAGE/DAT_IMAGEMEMXFER/MSG_GET");
    const ProgramRun r = RunSession("until", Replay(s_recording, "until") + " --until " + std::to_string(strip - 1),
                             "TRACELET_SCANNER_FAULT=short-strip");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;
}

// A session whose source signalled from a thread of its own replays with its
// notice in place; the same recording against a source whose notices never
// come diverges at the notice, once the notice timeout is over.
TEST_F(ReplayRun, NoticesFromTheSourcesThreadReplayInPlace) {
    const fs::path threaded = Record("recording-thread", "--source-thread");
    const ProgramRun r = RunSession("thread", Replay(threaded, "thread"), "TRACELET_SCANNER_SIGNAL=thread");
    EXPECT_EQ(r.exitCode, 0) << r.out << r.err;

    const ProgramRun polled = RunSession("no-notice",
                                  "--replay '" + threaded.string() + "' --target '" MUTED_NOTICES_DS "' --out '" +
                                      (kWork / "no-notice").string() + "' --notice-timeout 0.5");
    EXPECT_EQ(polled.exitCode, 1) << polled.out << polled.err;
    EXPECT_NE(polled.out.find("for MSG_XFERREADY"), std::string::npos) << polled.out;
}

// Recordings a replay cannot use: a clear message, exit status 2, and
// nothing written.
TEST_F(ReplayRun, UnusableRecordingsAreRefusedAndNothingIsWritten) {
    fs::path record;
    for (const auto& e : fs::directory_iterator(s_recording))
        if (e.path().extension() == ".calls") record = e.path();
    ASSERT_FALSE(record.empty());
    const std::string bytes = Slurp(record);

    // The first capture record's structure length, made to disagree with
    // its slots.
    std::string lying = bytes;
    for (std::size_t at = 4096; at + 64 <= lying.size(); at += 64)
        if (lying[at + 4] == 5 && lying[at + 5] == 0) {
            lying[at + 28] = lying[at + 29] = '\xff';
            break;
        }
    auto patched = [&](std::size_t at, char value) {
        std::string b = bytes;
        b[at] = value;
        return b;
    };
    const struct {
        const char* name;
        std::string recordBytes;  // "" : no record at all
        const char* message;
    } cases[] = {
        {"no-record", "", "no flight record"},
        {"no-capture", patched(2384, 0), "no capture to replay"},
        {"other-layout", patched(14, bytes[14] ? 0 : 1), "other TWAIN layout"},
        {"cut-header", bytes.substr(0, 100), "damaged"},
        {"cut-slots", bytes.substr(0, 4096 + 64 * 9 + 17), "damaged"},
        {"wrong-magic", "XXXXXXXX" + bytes.substr(8), "damaged"},
        {"lying-capture", lying, "damaged"},
    };
    for (const auto& c : cases) {
        const fs::path copy = kWork / (std::string("refused-") + c.name);
        fs::remove_all(copy);
        fs::create_directories(copy);
        for (const auto& e : fs::directory_iterator(s_recording))
            if (e.path().extension() == ".txt") fs::copy_file(e.path(), copy / e.path().filename());
        if (!c.recordBytes.empty()) std::ofstream(copy / record.filename(), std::ios::binary) << c.recordBytes;
        const fs::path out = kWork / (std::string("refused-out-") + c.name);
        fs::remove_all(out);
        const ProgramRun r = RunSession(std::string("refused-") + c.name,
                                 "--replay '" + copy.string() + "' --target '" VIRTUAL_SCANNER_DS "' --out '" +
                                     out.string() + "'");
        EXPECT_EQ(r.exitCode, 2) << c.name << "\n" << r.out << r.err;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.name << "\n" << r.err;
        EXPECT_FALSE(fs::exists(out)) << c.name;
    }
}

}  // namespace
