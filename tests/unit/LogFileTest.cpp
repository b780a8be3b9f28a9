// The log file: switched on by the log folder, named after the local time
// of the load, flushed on every write; and the folder-creation helper.
#include <gtest/gtest.h>

#include <dirent.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "log/TwainLogFile.h"
#include "shell/Platform.h"

namespace {

const std::string kFolder = TRACELET_UNIT_LOG_DIR;

time_t g_seconds;
long g_micros;
time_t FakeSeconds() { return g_seconds; }
long FakeMicros() { return g_micros; }

// 31 January 2024, 09:45:02 in the test's time zone.
time_t LocalTime(int year, int mon, int day, int h, int m, int s) {
    struct tm t = {};
    t.tm_year = year - 1900;
    t.tm_mon = mon - 1;
    t.tm_mday = day;
    t.tm_hour = h;
    t.tm_min = m;
    t.tm_sec = s;
    t.tm_isdst = -1;
    return mktime(&t);
}

std::vector<std::string> Files() {
    std::vector<std::string> names;
    if (DIR* d = opendir(kFolder.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') names.push_back(e->d_name);
        closedir(d);
    }
    return names;
}

void RemoveFolder() {
    for (auto& n : Files()) unlink((kFolder + "/" + n).c_str());
    rmdir(kFolder.c_str());
}

void MakeFolder() {
    std::string partial;
    std::stringstream ss(kFolder);
    std::string piece;
    while (std::getline(ss, piece, '/')) {
        partial += piece + "/";
        mkdir(partial.c_str(), 0777);
    }
}

struct LogFile : ::testing::Test {
    void SetUp() override {
        cleanupTwainLog();
        RemoveFolder();
        g_cParaAnalyze.SetTwainStatus(0);
        tracelet::platform::SetClockForTesting(FakeSeconds, FakeMicros);
    }
    void TearDown() override {
        cleanupTwainLog();
        tracelet::platform::SetClockForTesting(nullptr, nullptr);
        RemoveFolder();
    }
};

TEST_F(LogFile, IsNamedAfterTheLoadTimeWithRoundedMilliseconds) {
    char name[256];
    const time_t t = LocalTime(2024, 1, 31, 9, 45, 2);
    MakeLogFileName(t, 7800, name, sizeof name);
    EXPECT_STREQ(name, "Twainlog_20240131_094502_0008.txt");
    MakeLogFileName(t, 7499, name, sizeof name);
    EXPECT_STREQ(name, "Twainlog_20240131_094502_0007.txt");
    MakeLogFileName(t, 999499, name, sizeof name);
    EXPECT_STREQ(name, "Twainlog_20240131_094502_0999.txt");
    // Rounded up to 1000, in the stamp of the same second.
    MakeLogFileName(t, 999500, name, sizeof name);
    EXPECT_STREQ(name, "Twainlog_20240131_094502_1000.txt");
    MakeLogFileName(t, 0, name, sizeof name);
    EXPECT_STREQ(name, "Twainlog_20240131_094502_0000.txt");
}

TEST_F(LogFile, OpensInTheLogFolderOnlyWhenItExists) {
    g_seconds = LocalTime(2024, 1, 31, 9, 45, 2);
    g_micros = 7800;
    setupTwainLog();
    EXPECT_EQ(g_pLogFile, nullptr);
    EXPECT_EQ(g_pcTwainLog, nullptr);
    EXPECT_EQ(g_cParaAnalyze.GetTwainStatus(), 0);
    EXPECT_TRUE(Files().empty());

    MakeFolder();
    setupTwainLog();
    ASSERT_NE(g_pLogFile, nullptr);
    EXPECT_NE(g_pcTwainLog, nullptr);
    EXPECT_EQ(g_cParaAnalyze.GetTwainStatus(), 3);
    EXPECT_EQ(Files(), std::vector<std::string>{"Twainlog_20240131_094502_0008.txt"});
}

TEST_F(LogFile, EveryWriteIsOnDiskAtOnceAndCleanUpSaysSo) {
    MakeFolder();
    g_seconds = LocalTime(2024, 2, 29, 23, 59, 59);
    g_micros = 1;
    setupTwainLog();
    ASSERT_NE(g_pLogFile, nullptr);
    const unsigned char text[] = "line one\r\n";
    WriteLogFile(nullptr, 10);  // no bytes: nothing written
    WriteLogFile(text, 10);
    std::ifstream in(kFolder + "/Twainlog_20240229_235959_0000.txt", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "line one\r\n");

    testing::internal::CaptureStderr();
    cleanupTwainLog();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Close Log File.\n");
    EXPECT_EQ(g_pLogFile, nullptr);
    EXPECT_EQ(g_pcTwainLog, nullptr);
    EXPECT_EQ(g_cParaAnalyze.GetTwainStatus(), 3);  // clean-up leaves the state alone

    testing::internal::CaptureStderr();
    cleanupTwainLog();
    WriteLogFile(text, 10);  // no file: nothing happens
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
}

TEST_F(LogFile, ASecondSetUpKeepsTheOpenFileAndAnEarlierFileIsAppendedTo) {
    MakeFolder();
    g_seconds = LocalTime(2024, 1, 31, 9, 45, 2);
    g_micros = 8000;
    {
        std::ofstream earlier(kFolder + "/Twainlog_20240131_094502_0008.txt", std::ios::binary);
        earlier << "earlier\r\n";
    }
    setupTwainLog();
    FILE* first = g_pLogFile;
    CTwainLog* firstLog = g_pcTwainLog;
    ASSERT_NE(first, nullptr);
    g_micros = 500000;
    setupTwainLog();
    EXPECT_EQ(g_pLogFile, first);
    EXPECT_NE(g_pcTwainLog, nullptr);
    (void)firstLog;
    const unsigned char text[] = "later\r\n";
    WriteLogFile(text, 7);
    EXPECT_EQ(Files().size(), 1u);
    std::ifstream in(kFolder + "/Twainlog_20240131_094502_0008.txt", std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    EXPECT_EQ(ss.str(), "earlier\r\nlater\r\n");
}

TEST_F(LogFile, SomethingThatIsNotAFolderAtTheLogPathGivesNoFileButTheState) {
    std::string parent = kFolder.substr(0, kFolder.rfind('/'));
    MakeFolder();
    rmdir(kFolder.c_str());
    { std::ofstream plain(kFolder); }
    setupTwainLog();
    EXPECT_EQ(g_pLogFile, nullptr);
    EXPECT_NE(g_pcTwainLog, nullptr);
    EXPECT_EQ(g_cParaAnalyze.GetTwainStatus(), 3);
    unlink(kFolder.c_str());
}

struct TempFolder : ::testing::Test {
    std::string parent;
    void SetUp() override {
        char tmpl[] = "/tmp/tracelet-folderXXXXXX";
        parent = mkdtemp(tmpl);
    }
    void TearDown() override {
        rmdir((parent + "/NUVEXScanTwainLog").c_str());
        rmdir(parent.c_str());
    }
};

TEST_F(TempFolder, CreatesTheDebugFolderInsideAnExistingParent) {
    std::vector<char> path(parent.begin(), parent.end());
    path.push_back('\0');
    EXPECT_EQ(CreateVLTempDirectory(path.data()), 0);
    struct stat st;
    ASSERT_EQ(stat((parent + "/NUVEXScanTwainLog").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(CreateVLTempDirectory(path.data()), -48);  // already there
}

TEST_F(TempFolder, RefusesNullAndOverlongParentsAndReportsAMissingOne) {
    EXPECT_EQ(CreateVLTempDirectory(nullptr), -50);
    std::string longPath(256, 'a');
    EXPECT_EQ(CreateVLTempDirectory(&longPath[0]), -50);
    std::string missing = parent + "/absent";
    testing::internal::CaptureStderr();
    EXPECT_EQ(CreateVLTempDirectory(&missing[0]), -43);
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Output debug image data file is put in: " + missing + " ");
}

}  // namespace
