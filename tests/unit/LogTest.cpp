// The log file and the levelled message logger: the file named after the
// local time of the load, switched on by the log folder, flushed on every
// write; each message's prefix, padding and line end; the bounded growth of
// the text buffer; the character locale; and the folder-creation helper.
#include <gtest/gtest.h>
#include <dirent.h>
#include <locale.h>
#include <stdarg.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "analyzer/ParaAnalyze.h"
#include "log/TwainLog.h"
#include "log/TwainLogFile.h"
#include "platform/Platform.h"

using namespace ENUM_LOG_LEVEL_TW;

namespace {

const std::string kFolder = TRACELET_UNIT_LOG_DIR;
const std::string kName = "Twainlog_20240131_094502_0008.txt";  // 09:45:02.0076 on 31 January 2024
const char kStamp[] = "[2024/01/31 09:45:02.008]";

time_t g_seconds = 0;
long g_micros = 0;
time_t TestSeconds() { return g_seconds; }
long TestMicros() { return g_micros; }

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm t = {second, minute, hour, day, month - 1, year - 1900, 0, 0, -1, 0, nullptr};
    return mktime(&t);
}

std::string Contents(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void RemoveFolder() {  // with whatever files a test left in it
    if (DIR* d = opendir(kFolder.c_str())) {
        while (dirent* e = readdir(d))
            if (e->d_name[0] != '.') unlink((kFolder + "/" + e->d_name).c_str());
        closedir(d);
    }
    if (rmdir(kFolder.c_str()) != 0) unlink(kFolder.c_str());
}

void MakeFolder() {
    for (size_t at = kFolder.find('/', 1); at != std::string::npos; at = kFolder.find('/', at + 1))
        mkdir(kFolder.substr(0, at).c_str(), 0777);
    mkdir(kFolder.c_str(), 0777);
}

// Each test starts without a log, at 09:45:02.0076 on 31 January 2024.
struct Log : ::testing::Test {
    void SetUp() override {
        cleanupTwainLog();
        RemoveFolder();
        g_cParaAnalyze.SetTwainStatus(0);
        g_seconds = LocalTime(2024, 1, 31, 9, 45, 2);
        g_micros = 7600;
        tracelet::platform::SetClockForTesting(TestSeconds, TestMicros);
    }
    void TearDown() override {
        cleanupTwainLog();
        tracelet::platform::SetClockForTesting(nullptr, nullptr);
        RemoveFolder();
    }
    // What the log file holds now, read through a stream of its own.
    std::string Written() { return Contents(kFolder + "/" + kName); }
    // FormatString with a variadic argument list built here.
    std::string Format(const char* format, ...) {
        va_list args;
        va_start(args, format);
        std::string text = CTwainLog().FormatString(format, args);
        va_end(args);
        return text;
    }
};

TEST_F(Log, OpensOnlyInAnExistingFolderAndAlwaysMovesTheStateToThree) {
    setupTwainLog();
    EXPECT_EQ(g_pLogFile, nullptr);
    EXPECT_EQ(g_pcTwainLog, nullptr);
    EXPECT_EQ(g_cParaAnalyze.GetTwainStatus(), 0);

    MakeFolder();
    rmdir(kFolder.c_str());
    { std::ofstream plain(kFolder); }  // not a folder: a logger, no file
    setupTwainLog();
    EXPECT_EQ(g_pLogFile, nullptr);
    EXPECT_NE(g_pcTwainLog, nullptr);
    EXPECT_EQ(g_cParaAnalyze.GetTwainStatus(), 3);
    cleanupTwainLog();
    RemoveFolder();

    MakeFolder();
    g_cParaAnalyze.SetTwainStatus(0);
    { std::ofstream earlier(kFolder + "/" + kName, std::ios::binary); earlier << "earlier\r\n"; }
    setupTwainLog();
    FILE* first = g_pLogFile;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(g_cParaAnalyze.GetTwainStatus(), 3);
    g_micros = 500000;
    setupTwainLog();  // keeps the open file
    EXPECT_EQ(g_pLogFile, first);
    const unsigned char text[] = "line one\r\n";
    WriteLogFile(nullptr, 10);  // no bytes: nothing written
    WriteLogFile(text, 10);
    EXPECT_EQ(Written(), "earlier\r\nline one\r\n");  // appended, on disk at once

    testing::internal::CaptureStderr();
    cleanupTwainLog();
    cleanupTwainLog();
    WriteLogFile(text, 10);  // no file: nothing happens
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Close Log File.\n");
    EXPECT_EQ(g_pLogFile, nullptr);
    EXPECT_EQ(g_pcTwainLog, nullptr);
    EXPECT_EQ(g_cParaAnalyze.GetTwainStatus(), 3);  // clean-up leaves the state alone
}

// One message each: level, component, source file and line, text; and what
// follows the time stamp in the log.
const std::string kPad(40, ' ');
const struct {
    int level;
    const char *component, *file;
    int line;
    const char* text;
    std::string expected;
} kMessages[] = {
    {LOG_LEVEL_INFO, "Scanner", nullptr, 0, "opened 3", " INFO from \"Scanner\" opened 3\n"},
    {LOG_LEVEL_INFO, "Scanner", "src/io/Dev.cpp", 42, "opened",
     " INFO from \"Scanner\" (File: Dev.cpp" + kPad.substr(7) + ", Line:   42) opened\n"},
    {LOG_LEVEL_ERROR, "C", "/x/nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", 123456, "e",
     " ERROR from \"C\" (File: nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn, Line: 123456) e\n"},
    {LOG_LEVEL_TRACE, "C", "f.c", -7, "t", " TRACE from \"C\" (File: f.c" + kPad.substr(3) + ", Line:   -7) t\n"},
    {LOG_LEVEL_WARNING, "50%s", "d/%d.c", 1, "x", " WARNING from \"50%s\" (File: %d.c" + kPad.substr(4) + ", Line:    1) x\n"},
    {LOG_LEVEL_INFO, nullptr, "a\\b/c.cpp", 1, "x", " INFO from \"\" (File: c.cpp" + kPad.substr(5) + ", Line:    1) x\n"},
    {LOG_LEVEL_INFO, "C", "a/b\\d.cpp", 1, "x", " INFO from \"C\" (File: d.cpp" + kPad.substr(5) + ", Line:    1) x\n"},
    {LOG_LEVEL_INFO, "C", "dir/", 1, "x", " INFO from \"C\" (File: " + kPad + ", Line:    1) x\n"},
    {9, "Scanner", nullptr, 0, "x", "  from \"Scanner\" x\n"},  // no such level
    {LOG_LEVEL_INFO, "C", nullptr, 0, "done\n", " INFO from \"C\" done\n"},
    {LOG_LEVEL_INFO, "C", nullptr, 0, "one\ntwo", " INFO from \"C\" one\ntwo\n"},
    {LOG_LEVEL_INFO, "C", nullptr, 0, "", " INFO from \"C\" "},
    {LOG_LEVEL_INFO, "Scanner", "a/b.c", 5, nullptr, " INFO from \"Scanner\" (File: b.c" + kPad.substr(3) + ", Line:    5) "},
};

TEST_F(Log, EachMessageIsItsPrefixAndTextWithOneLineEnd) {
    MakeFolder();
    setupTwainLog();
    size_t written = 0;
    for (const auto& m : kMessages) {
        if (m.text)
            g_pcTwainLog->Message(static_cast<enumLogLevel_tw>(m.level), m.component, m.file, m.line, "%s", m.text);
        else
            g_pcTwainLog->Message(static_cast<enumLogLevel_tw>(m.level), m.component, m.file, m.line, m.text);
        EXPECT_EQ(Written().substr(written), kStamp + m.expected);
        written = Written().size();
    }
    // Debug strings go as they are; nothing at all without a log file.
    g_pcTwainLog->OutputDebugString("no line end, 100% as is");
    g_pcTwainLog->OutputDebugString(nullptr);
    FILE* file = g_pLogFile;
    g_pLogFile = nullptr;
    g_pcTwainLog->Message(LOG_LEVEL_INFO, "C", "f.c", 1, "lost %d", 1);
    g_pcTwainLog->OutputDebugString("lost too");
    g_pLogFile = file;
    EXPECT_EQ(Written().substr(written), "no line end, 100% as is");
}

TEST_F(Log, TheFileNameAndTheStampAreLocalTimeWithRoundedMillisecondsInTheSameSecond) {
    const std::pair<long, const char*> rows[] = {{0, "000"},      {499, "000"},     {500, "001"},     {7499, "007"},
                                                 {123456, "123"}, {999499, "999"},  {999500, "1000"}};
    for (const auto& r : rows) {
        g_micros = r.first;
        char name[256];
        MakeLogFileName(g_seconds, r.first, name, sizeof name);
        EXPECT_EQ(std::string(name), std::string("Twainlog_20240131_094502_") + (r.second[3] ? "" : "0") + r.second + ".txt");
        EXPECT_EQ(CTwainLog().GetHeader(), std::string("2024/01/31 09:45:02.") + r.second) << r.first;
    }
    g_seconds = LocalTime(2005, 3, 4, 0, 6, 7);
    g_micros = 9000;
    EXPECT_EQ(CTwainLog().GetHeader(), "2005/03/04 00:06:07.009");
}

TEST_F(Log, TextsAroundTheBufferSizesComeOutWholeAndAFormatterThatKeepsFailingGivesNone) {
    for (size_t n : {98u, 99u, 100u, 101u, 199u, 200u, 5000u, 70000u}) {
        const std::string text(n, 'x');
        EXPECT_EQ(Format("%s", text.c_str()), text) << n;
    }
    const std::string a(60, 'a'), b(70, 'b');
    EXPECT_EQ(Format("%s|%d|%s|%d", a.c_str(), 7, b.c_str(), -8), a + "|7|" + b + "|-8");
    EXPECT_EQ(Format(static_cast<const char*>(nullptr)), "");
    // In the C locale a non-ASCII wide character cannot be converted:
    // vsnprintf fails at every size, and the retries stop.
    if (strcmp(setlocale(LC_CTYPE, nullptr), "C") != 0) GTEST_SKIP() << "needs the C character locale";
    const wchar_t wide[] = {0xE9, 0};
    EXPECT_EQ(Format("before %ls after", wide), "");
}

// glibc's newlocale keeps the search list it builds from LOCPATH, which the
// jpn locale below is found through: a leak of the C library, not of the
// logger, which frees every locale it makes.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

// Messages are formatted in the "jpn" locale, which is then put back: here a
// copy of the C library's own UTF-8 character data under that name.
TEST_F(Log, MessageTextIsFormattedInTheJpnLocaleWhichIsThenPutBack) {
    const char* source = "/usr/lib/locale/C.utf8/LC_CTYPE";
    char dir[] = "/tmp/tracelet-locale-XXXXXX";
    if (strcmp(setlocale(LC_CTYPE, nullptr), "C") != 0 || access(source, R_OK) != 0 || !mkdtemp(dir))
        GTEST_SKIP() << "needs the C character locale and the C library's UTF-8 data";
    const std::string root = dir;
    mkdir((root + "/jpn").c_str(), 0755);
    std::ofstream(root + "/jpn/LC_CTYPE", std::ios::binary) << Contents(source);
    setenv("LOCPATH", root.c_str(), 1);
    MakeFolder();
    setupTwainLog();
    const std::string numeric = setlocale(LC_NUMERIC, nullptr);
    const wchar_t wide[] = {0xE9, 't', 0xE9, 0};  // converts only under the jpn locale
    g_pcTwainLog->Message(LOG_LEVEL_INFO, "C", nullptr, 0, "%ls %.3f", wide, 2.5);
    unsetenv("LOCPATH");
    unlink((root + "/jpn/LC_CTYPE").c_str());
    rmdir((root + "/jpn").c_str());
    rmdir(root.c_str());
    EXPECT_STREQ(setlocale(LC_CTYPE, nullptr), "C");
    EXPECT_EQ(setlocale(LC_NUMERIC, nullptr), numeric);
    EXPECT_EQ(Written(), std::string(kStamp) + " INFO from \"C\" \xC3\xA9t\xC3\xA9 2.500\n");
}

TEST(TempFolder, CreatesTheDebugFolderInsideAnExistingParentOnly) {
    char tmpl[] = "/tmp/tracelet-folderXXXXXX";
    const std::string parent = mkdtemp(tmpl), folder = parent + "/NUVEXScanTwainLog", missing = parent + "/absent";
    EXPECT_EQ(CreateVLTempDirectory(&std::string(parent)[0]), 0);
    struct stat st;
    EXPECT_TRUE(stat(folder.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
    EXPECT_EQ(CreateVLTempDirectory(&std::string(parent)[0]), -48);  // already there
    EXPECT_EQ(CreateVLTempDirectory(nullptr), -50);
    EXPECT_EQ(CreateVLTempDirectory(&std::string(256, 'a')[0]), -50);  // longer than a path may be
    testing::internal::CaptureStderr();
    EXPECT_EQ(CreateVLTempDirectory(&std::string(missing)[0]), -43);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Output debug image data file is put in: " + missing + " ");
    rmdir(folder.c_str());
    rmdir(parent.c_str());
}

}  // namespace
