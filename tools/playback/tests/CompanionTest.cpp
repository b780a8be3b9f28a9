// The playback companion as a data source loads it: a shared object whose
// factory reads the recording named beside it or in the environment. Every
// recording it cannot play leaves one line on the standard error stream and
// an operator that fails every call.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "trace/record_writer.hpp"
#include "tracelet/TripletOperator.h"

namespace fs = std::filesystem;
using tracelet::trace::RecordWriter;

namespace {

const fs::path kRoot = TRACELET_TEST_ROOT;
const fs::path kCompanion = kRoot / "Core" / "TwainWrapper.bundle";
const fs::path kConfig = kRoot / "Core" / "TwainWrapper.conf";
const fs::path kLogs = kRoot / "logs";
const std::string kStem = "Twainlog_20261208_040000_0100";

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// A session of two calls with their identities captured (or not);
// `returned` false leaves the first call running.
std::string SessionRecord(bool captured = true, bool returned = true) {
    RecordWriter::Header h;
    h.capture = captured;
    RecordWriter w(h);
    RecordWriter::Start s;
    s.dat = DAT_IDENTITY;
    for (TW_UINT16 msg : {MSG_OPENDS, MSG_CLOSEDS}) {
        s.msg = msg;
        const uint32_t slot = w.start(s);
        for (bool out : {false, true}) {
            RecordWriter::Capture c;
            c.call_slot = slot;
            c.out = out;
            c.structure = std::string(sizeof(TW_IDENTITY), out ? 'o' : 'i');
            if (captured && (returned || !out)) w.capture(c);
        }
        if (!returned) break;
        w.end(slot, 10 + msg, msg == MSG_OPENDS ? TWRC_CHECKSTATUS : TWRC_SUCCESS, 4, -1);
    }
    std::string bytes = w.bytes();
#if defined(TRACELET_TWAIN_ABI_MACOS)
    bytes[14] = 1;  // the header's layout: this build's
#endif
    return bytes;
}

struct Loaded {
    void* library = nullptr;
    TripletOperator* op = nullptr;
    std::string errors;

    Loaded() {
        testing::internal::CaptureStderr();
        library = dlopen(kCompanion.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (library) {
            auto factory = reinterpret_cast<CreateTwainWrapperProc>(dlsym(library, "CreateTwainWrapper"));
            if (factory) factory("Tracelet.ds", &op);
        }
        errors = testing::internal::GetCapturedStderr();
    }
    ~Loaded() {
        delete op;
        if (library) dlclose(library);
    }
    TW_UINT16 Call(TW_UINT16 dat, TW_UINT16 msg) {
        TW_IDENTITY id{};
        return op->TripletEntry(nullptr, DG_CONTROL, dat, msg, &id);
    }
};

class PlaybackCompanion : public testing::Test {
protected:
    void SetUp() override {
        fs::remove_all(kLogs);
        fs::remove(kConfig);
        unsetenv("TRACELET_PLAYBACK_RECORDING");
    }
    void TearDown() override { unsetenv("TRACELET_PLAYBACK_RECORDING"); }
};

TEST_F(PlaybackCompanion, EveryRecordingItCannotPlayFailsEveryCallWithOneLine) {
    const std::string good = SessionRecord();
    std::string otherAbi = good, damaged = good;
    otherAbi[14] = static_cast<char>(otherAbi[14] ^ 1);
    damaged.replace(0, 8, "TRCLFREX");
    struct Row {
        const char* name;
        const char* config;    // the file beside the companion; null: none
        const char* variable;  // null: unset
        const std::string* record;  // written beside the log; null: none
        const char* reason;
    };
    const std::string unreturned = SessionRecord(true, false), uncaptured = SessionRecord(false);
    std::string missing = good;
    missing.resize(missing.size() - 64 * 2);  // the second call's output and end
    const std::string logs = kLogs.string();
    const Row rows[] = {
        {"no configuration", nullptr, nullptr, &good, "cannot read \"" TRACELET_TEST_ROOT "/Core/TwainWrapper.conf\""},
        {"configuration refused", "mode = fast\n", logs.c_str(), &good, "line 1: mode is \"fast\""},
        {"no such recording", nullptr, TRACELET_TEST_ROOT "/nowhere", nullptr, "no such file: "},
        {"a log without a record", nullptr, logs.c_str(), nullptr, "no flight record (.calls) beside"},
        {"damaged", nullptr, logs.c_str(), &damaged, ".calls: not a readable flight record (not a flight"},
        {"cut short", nullptr, logs.c_str(), &missing, ".calls: the file was cut short"},
        {"the other layout", nullptr, logs.c_str(), &otherAbi, ".calls: captured under the "},
        {"no capture", nullptr, logs.c_str(), &uncaptured, "recorded without a capture of its calls' data"},
        {"no call returned", nullptr, logs.c_str(), &unreturned, "holds no application call that returned"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        SetUp();
        if (r.config) WriteFile(kConfig, r.config);
        if (r.variable) setenv("TRACELET_PLAYBACK_RECORDING", r.variable, 1);
        WriteFile(kLogs / (kStem + ".txt"), "");
        if (r.record) WriteFile(kLogs / (kStem + ".calls"), *r.record);
        Loaded l;
        ASSERT_NE(l.op, nullptr);
        EXPECT_EQ(l.errors.rfind("Tracelet playback companion: ", 0), 0u) << l.errors;
        EXPECT_NE(l.errors.find(r.reason), std::string::npos) << l.errors;
        EXPECT_EQ(l.errors.find('\n'), l.errors.size() - 1) << l.errors;
        EXPECT_NE(l.errors.find("; every call fails with TWRC_FAILURE\n"), std::string::npos) << l.errors;
        for (TW_UINT16 msg : {MSG_OPENDS, MSG_CLOSEDS}) EXPECT_EQ(l.Call(DAT_IDENTITY, msg), TWRC_FAILURE);
    }
}

}  // namespace
