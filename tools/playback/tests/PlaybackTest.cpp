// The playback companion's parts: its configuration, the calls it reads
// from a flight record, which recorded call answers which call, and the
// operator's answers and notices.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <thread>
#include <vector>

#include "Matcher.h"
#include "PlaybackConfig.h"
#include "PlaybackOperator.h"
#include "Script.h"
#include "trace/record.hpp"
#include "trace/record_writer.hpp"

using namespace tracelet::playback;
using tracelet::trace::RecordWriter;

namespace {

TEST(PlaybackConfig, VariableOverridesTheFileButNotItsModeAndBadLinesAreNamed) {
    const std::string conf = "/etc/tw/TwainWrapper.conf", tolerant = "recording = rel/logs\nmode = tolerant\n";
    const std::string bad = "mode = x\n", none = "# c\n\n  mode=tolerant \r\n", twice = "recording = a\nrecording = b";
    const std::string unknown = "level = 3", noEquals = "recording /s", empty = "recording = ";
    struct Row {
        const char* variable;
        const std::string* text;
        std::string path;  // "" : refused, with `problem` in the reason
        bool tolerant;
        const char* problem;
    };
    const Row rows[] = {
        {"/v/logs", &tolerant, "/v/logs", true, ""},
        {"/v/logs", nullptr, "/v/logs", false, ""},
        {"", &tolerant, "/etc/tw/rel/logs", true, ""},
        {nullptr, nullptr, "", false, "cannot read \"/etc/tw/TwainWrapper.conf\" (gone) and TRACELET_PLAYBACK_"},
        {nullptr, &none, "", false, "has no \"recording = "},
        {"/v/logs", &bad, "", false, "line 1: mode is \"x\", not strict or tolerant"},
        {nullptr, &twice, "", false, "line 2: recording is already set on line 1"},
        {nullptr, &unknown, "", false, "line 1: unknown setting \"level\""},
        {nullptr, &noEquals, "", false, "line 1: expected"},
        {nullptr, &empty, "", false, "line 1: recording has no path"},
    };
    for (const Row& r : rows) {
        const RecordingChoice c = ChooseRecording(r.variable, conf, r.text, "gone");
        EXPECT_EQ(c.path, r.path);
        if (!r.path.empty()) {
            EXPECT_EQ(c.tolerant, r.tolerant);
        }
        EXPECT_NE(c.problem.find(r.problem), std::string::npos) << c.problem;
    }
}

// A recorded call or notice: `during` is the index of the application call
// it was sent inside (a notice from the source's own thread has none).
struct Rec {
    uint16_t dat, msg;
    uint16_t rc = TWRC_SUCCESS;
    int cap = -1;
    bool notice = false;
    int during = -1;
    bool returned = true;
};

tracelet::trace::FlightRecord RecordOf(const std::vector<Rec>& recs) {
    RecordWriter w;
    std::vector<uint32_t> appIds;
    int64_t t = 1000;
    for (const Rec& r : recs) {
        RecordWriter::Start s;
        s.dat = r.dat;
        s.msg = r.msg;
        s.cap = r.cap;
        s.start_ns = t += 10;
        s.from_source = r.notice;
        if (r.notice) s.thread = r.during < 0 ? 200 : 100;
        if (r.during >= 0) s.during_id = appIds.at(r.during);
        const uint32_t slot = w.start(s);
        if (!r.notice) appIds.push_back(slot + 1);
        if (r.returned) w.end(slot, t += 5, r.rc, 4, -1);
    }
    return tracelet::trace::parse_flight_record(w.bytes());
}

Script ScriptOf(const std::vector<Rec>& recs) { return ScriptFrom(RecordOf(recs)); }

const std::vector<Rec> kSession = {
    {DAT_IDENTITY, MSG_OPENDS},                        // 0
    {DAT_CAPABILITY, MSG_GET, 0, ICAP_UNITS},          // 1
    {DAT_CAPABILITY, MSG_GET, 0, ICAP_XRESOLUTION},    // 2
    {DAT_EVENT, MSG_PROCESSEVENT, TWRC_NOTDSEVENT},    // 3
    {DAT_EVENT, MSG_PROCESSEVENT, TWRC_DSEVENT},       // 4
    {DAT_USERINTERFACE, MSG_DISABLEDS},                // 5
};

TEST(PlaybackMatcher, StrictFollowsTheRecordingTolerantLooksAheadThenBack) {
    const Script script = ScriptOf(kSession);
    struct Step {
        uint16_t dat, msg;
        int cap;
        Match::Kind kind;
        std::size_t index;
    };
    struct Row {
        const char* name;
        bool tolerant;
        std::vector<Step> steps;
    };
    const Match::Kind R = Match::kRecorded, N = Match::kNoMatch, E = Match::kNoEvent;
    const Row rows[] = {
        {"in order, extra polls answered without moving",
         false,
         {{DAT_IDENTITY, MSG_OPENDS, -1, R, 0}, {DAT_EVENT, MSG_PROCESSEVENT, -1, E, 0},
          {DAT_CAPABILITY, MSG_GET, ICAP_UNITS, R, 1}, {DAT_CAPABILITY, MSG_GET, ICAP_XRESOLUTION, R, 2},
          {DAT_EVENT, MSG_PROCESSEVENT, -1, R, 3}, {DAT_EVENT, MSG_PROCESSEVENT, -1, R, 4},
          {DAT_EVENT, MSG_PROCESSEVENT, -1, E, 0}, {DAT_USERINTERFACE, MSG_DISABLEDS, -1, R, 5},
          {DAT_IDENTITY, MSG_CLOSEDS, -1, N, 6}}},
        {"strict: another capability is no match, and the position stays",
         false,
         {{DAT_IDENTITY, MSG_OPENDS, -1, R, 0}, {DAT_CAPABILITY, MSG_GET, ICAP_XRESOLUTION, N, 1},
          {DAT_CAPABILITY, MSG_GET, ICAP_UNITS, R, 1}}},
        {"a recorded idle poll is passed over, one that found an event is not",
         false,
         {{DAT_IDENTITY, MSG_OPENDS, -1, R, 0}, {DAT_CAPABILITY, MSG_GET, ICAP_UNITS, R, 1},
          {DAT_CAPABILITY, MSG_GET, ICAP_XRESOLUTION, R, 2}, {DAT_USERINTERFACE, MSG_DISABLEDS, -1, N, 4}}},
        {"tolerant: ahead first, then back, and on from there",
         true,
         {{DAT_CAPABILITY, MSG_GET, ICAP_XRESOLUTION, R, 2}, {DAT_CAPABILITY, MSG_GET, ICAP_UNITS, R, 1},
          {DAT_CAPABILITY, MSG_GET, ICAP_XRESOLUTION, R, 2}, {DAT_IDENTITY, MSG_OPENDS, -1, R, 0},
          {DAT_IDENTITY, MSG_CLOSEDS, -1, N, 1}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Matcher m(script, row.tolerant);
        for (std::size_t i = 0; i < row.steps.size(); ++i) {
            const Step& s = row.steps[i];
            const Match got = m.Next({DG_CONTROL, s.dat, s.msg, s.cap});
            EXPECT_EQ(got.kind, s.kind) << "step " << i;
            if (s.kind != E) {
                EXPECT_EQ(got.index, s.index) << "step " << i;
            }
        }
    }
}

// The manager's entry point, as the operator's notices reach it.
struct Delivery {
    uint16_t msg;
    std::thread::id thread;
    bool duringCall;
};
std::mutex gLock;
std::vector<Delivery> gDelivered;
std::atomic<bool> gInCall{false};

TW_UINT16 ManagerEntry(pTW_IDENTITY, pTW_IDENTITY, TW_UINT32, TW_UINT16, TW_UINT16 msg, TW_MEMREF) {
    std::lock_guard<std::mutex> guard(gLock);
    gDelivered.push_back({msg, std::this_thread::get_id(), gInCall.load()});
    return TWRC_SUCCESS;
}

struct Played {
    std::vector<std::string> lines;
    PlaybackOperator op;
    Played(const std::vector<Rec>& recs, bool tolerant)
        : op(ScriptOf(recs), tolerant, [this](const std::string& l) { lines.push_back(l); }) {
        std::lock_guard<std::mutex> guard(gLock);
        gDelivered.clear();
    }
    TW_UINT16 Call(TW_UINT16 dat, TW_UINT16 msg, void* data = nullptr) {
        gInCall = true;
        const TW_UINT16 rc = op.TripletEntry(nullptr, DG_CONTROL, dat, msg, data);
        gInCall = false;
        return rc;
    }
    std::vector<Delivery> Delivered(std::size_t atLeast) {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard<std::mutex> guard(gLock);
                if (gDelivered.size() >= atLeast) return gDelivered;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        std::lock_guard<std::mutex> guard(gLock);
        return gDelivered;
    }
};

TEST(PlaybackOperator, NoticesComeFromInsideTheirCallOrFromItsOwnThreadAfterIt) {
    Played p({{DAT_ENTRYPOINT, MSG_SET},
              {DAT_USERINTERFACE, MSG_ENABLEDS},
              {DAT_NULL, MSG_XFERREADY, 0, -1, true, 1},
              {DAT_USERINTERFACE, MSG_DISABLEDS},
              {DAT_NULL, MSG_CLOSEDSREQ, 0, -1, true}},
             false);
    TW_ENTRYPOINT ep{};
    ep.Size = sizeof ep;
    ep.DSM_Entry = ManagerEntry;
    EXPECT_EQ(p.Call(DAT_ENTRYPOINT, MSG_SET, &ep), TWRC_SUCCESS);
    EXPECT_EQ(p.Call(DAT_USERINTERFACE, MSG_ENABLEDS), TWRC_SUCCESS);
    EXPECT_EQ(p.Call(DAT_USERINTERFACE, MSG_DISABLEDS), TWRC_SUCCESS);
    const std::vector<Delivery> d = p.Delivered(2);
    ASSERT_EQ(d.size(), 2u);
    EXPECT_EQ(d[0].msg, MSG_XFERREADY);
    EXPECT_TRUE(d[0].duringCall);
    EXPECT_EQ(d[0].thread, std::this_thread::get_id());
    EXPECT_EQ(d[1].msg, MSG_CLOSEDSREQ);
    EXPECT_FALSE(d[1].duringCall);
    EXPECT_NE(d[1].thread, std::this_thread::get_id());
}

TEST(PlaybackOperator, ACallOutOfOrderFailsWithSeqErrorAndNamesTheExpectedCall) {
    for (bool tolerant : {false, true}) {
        Played p({{DAT_IDENTITY, MSG_OPENDS}, {DAT_CAPABILITY, MSG_GET, TWRC_SUCCESS, ICAP_UNITS},
                  {DAT_CAPABILITY, MSG_SET, TWRC_FAILURE, ICAP_UNITS}},
                 tolerant);
        TW_CAPABILITY cap{};
        cap.Cap = ICAP_UNITS;
        EXPECT_EQ(p.Call(DAT_IDENTITY, MSG_OPENDS), TWRC_SUCCESS);
        // The set comes before the get the recording expects.
        EXPECT_EQ(p.op.TripletEntry(nullptr, DG_CONTROL, DAT_CAPABILITY, MSG_SET, &cap), TWRC_FAILURE);
        TW_STATUS status{};
        EXPECT_EQ(p.Call(DAT_STATUS, MSG_GET, &status), tolerant ? TWRC_FAILURE : TWRC_SUCCESS);
        if (tolerant) {
            // Answered from the recorded set, whose own status call was not recorded.
            EXPECT_TRUE(p.lines.size() == 1u && p.lines[0].find("DG_CONTROL/DAT_STATUS/MSG_GET does not") == 0)
                << ::testing::PrintToString(p.lines);
            continue;
        }
        EXPECT_EQ(status.ConditionCode, TWCC_SEQERROR);
        ASSERT_EQ(p.lines.size(), 1u);
        EXPECT_EQ(p.lines[0],
                  "DG_CONTROL/DAT_CAPABILITY/MSG_SET (ICAP_UNITS) does not match the recording, which expects call 2 "
                  "of 3, DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_UNITS); it fails with TWCC_SEQERROR");
        EXPECT_EQ(p.op.TripletEntry(nullptr, DG_CONTROL, DAT_CAPABILITY, MSG_GET, &cap), TWRC_SUCCESS);
    }
}

TEST(PlaybackOperator, AFileTransferWritesTheRecordedBytesWhereTheApplicationAsked) {
    const std::string dir = ::testing::TempDir(), image = dir + "recorded.img", target = dir + "scan.bmp";
    std::ofstream(image, std::ios::binary) << "BM image";
    Script script;
    script.calls.resize(2);
    script.calls[0].dg = DG_CONTROL;
    script.calls[0].dat = DAT_SETUPFILEXFER;
    script.calls[0].msg = MSG_SET;
    script.calls[1].dg = DG_IMAGE;
    script.calls[1].dat = DAT_IMAGEFILEXFER;
    script.calls[1].msg = MSG_GET;
    script.calls[1].rc = TWRC_XFERDONE;
    script.calls[1].image = {true, 8, image};
    for (const std::string& path : {target, dir + "no/such/folder/scan.bmp"}) {
        std::vector<std::string> lines;
        PlaybackOperator op(script, false, [&](const std::string& l) { lines.push_back(l); });
        TW_SETUPFILEXFER setup{};
        std::strncpy(setup.FileName, path.c_str(), sizeof setup.FileName - 1);
        EXPECT_EQ(op.TripletEntry(nullptr, DG_CONTROL, DAT_SETUPFILEXFER, MSG_SET, &setup), TWRC_SUCCESS);
        const TW_UINT16 rc = op.TripletEntry(nullptr, DG_IMAGE, DAT_IMAGEFILEXFER, MSG_GET, nullptr);
        std::ifstream in(path, std::ios::binary);
        const std::string written{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
        EXPECT_EQ(rc, path == target ? TWRC_XFERDONE : TWRC_FAILURE);
        EXPECT_EQ(written, path == target ? "BM image" : "");
        EXPECT_EQ(lines.size(), path == target ? 0u : 1u) << ::testing::PrintToString(lines);
    }
}

}  // namespace
