// The levelled message logger: its prefix with and without a source file,
// the padding and separators, the line-end rule, the growth of its text
// buffer, and what it leaves untouched.
#include <gtest/gtest.h>
#include <locale.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>
#include <string>

#include "log/TwainLog.h"
#include "log/TwainLogFile.h"
#include "shell/Platform.h"

using namespace ENUM_LOG_LEVEL_TW;

namespace {

// The test clock: a local time and the microseconds of its second.
time_t g_seconds = 0;
long g_micros = 0;
time_t TestSeconds() { return g_seconds; }
long TestMicros() { return g_micros; }

time_t LocalTime(int year, int month, int day, int hour, int minute, int second) {
    struct tm t;
    memset(&t, 0, sizeof t);
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    t.tm_isdst = -1;
    return mktime(&t);
}

std::string ReadAll(FILE* f) {
    fflush(f);
    rewind(f);
    std::string text;
    char chunk[4096];
    size_t n;
    while ((n = fread(chunk, 1, sizeof chunk, f)) > 0) text.append(chunk, n);
    return text;
}

// Each test writes into a fresh log file at 09:45:02.0076 on 31 January 2024.
class TwainLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_seconds = LocalTime(2024, 1, 31, 9, 45, 2);
        g_micros = 7600;
        tracelet::platform::SetClockForTesting(TestSeconds, TestMicros);
        file_ = tmpfile();
        ASSERT_NE(file_, nullptr);
        g_pLogFile = file_;
    }
    void TearDown() override {
        g_pLogFile = nullptr;
        if (file_) fclose(file_);
        tracelet::platform::SetClockForTesting(nullptr, nullptr);
    }
    std::string Written() { return ReadAll(file_); }

    // FormatString with a variadic argument list built here.
    std::string Format(const char* format, ...) {
        va_list args;
        va_start(args, format);
        std::string text = log_.FormatString(format, args);
        va_end(args);
        return text;
    }

    CTwainLog log_;
    FILE* file_ = nullptr;
};

const char kStamp[] = "[2024/01/31 09:45:02.008]";

// One message each: level, component, source file and line, text; and what
// follows the time stamp in the log.
struct MessageCase {
    int level;
    const char* component;
    const char* file;
    int line;
    const char* text;
    std::string expected;
};

const std::string kPad(40, ' ');
const MessageCase kMessages[] = {
    {LOG_LEVEL_INFO, "Scanner", nullptr, 0, "opened 3", " INFO from \"Scanner\" opened 3\n"},
    {LOG_LEVEL_INFO, "Scanner", "src/io/Dev.cpp", 42, "opened",
     " INFO from \"Scanner\" (File: Dev.cpp" + kPad.substr(7) + ", Line:   42) opened\n"},
    {LOG_LEVEL_ERROR, "C", "/x/nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn", 123456, "e",
     " ERROR from \"C\" (File: nnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnnn, Line: 123456) e\n"},
    {LOG_LEVEL_TRACE, "C", "f.c", -7, "t", " TRACE from \"C\" (File: f.c" + kPad.substr(3) + ", Line:   -7) t\n"},
    {LOG_LEVEL_WARNING, "50%s", "d/%d.c", 1, "x",
     " WARNING from \"50%s\" (File: %d.c" + kPad.substr(4) + ", Line:    1) x\n"},
    {LOG_LEVEL_INFO, nullptr, "a\\b/c.cpp", 1, "x", " INFO from \"\" (File: c.cpp" + kPad.substr(5) + ", Line:    1) x\n"},
    {LOG_LEVEL_INFO, "C", "a/b\\d.cpp", 1, "x", " INFO from \"C\" (File: d.cpp" + kPad.substr(5) + ", Line:    1) x\n"},
    {LOG_LEVEL_INFO, "C", "dir/", 1, "x", " INFO from \"C\" (File: " + kPad + ", Line:    1) x\n"},
    {9, "Scanner", nullptr, 0, "x", "  from \"Scanner\" x\n"},
    {0, "Scanner", nullptr, 0, "x", "  from \"Scanner\" x\n"},
    {LOG_LEVEL_INFO, "C", nullptr, 0, "done\n", " INFO from \"C\" done\n"},
    {LOG_LEVEL_INFO, "C", nullptr, 0, "one\ntwo", " INFO from \"C\" one\ntwo\n"},
    {LOG_LEVEL_INFO, "C", nullptr, 0, "", " INFO from \"C\" "},
    {LOG_LEVEL_INFO, "Scanner", "a/b.c", 5, nullptr, " INFO from \"Scanner\" (File: b.c" + kPad.substr(3) + ", Line:    5) "},
};

TEST_F(TwainLogTest, EachMessageIsItsPrefixAndTextWithOneLineEnd) {
    for (const MessageCase& m : kMessages) {
        ASSERT_EQ(ftruncate(fileno(file_), 0), 0);
        rewind(file_);
        if (m.text)
            log_.Message(static_cast<enumLogLevel_tw>(m.level), m.component, m.file, m.line, "%s", m.text);
        else
            log_.Message(static_cast<enumLogLevel_tw>(m.level), m.component, m.file, m.line, m.text);
        EXPECT_EQ(Written(), kStamp + m.expected) << m.expected;
    }
}

TEST_F(TwainLogTest, ConsecutiveMessagesFollowEachOther) {
    log_.Message(LOG_LEVEL_INFO, "A", nullptr, 0, "first");
    g_micros = 1000;
    log_.Message(LOG_LEVEL_ERROR, "B", nullptr, 0, "second %s", "x");
    EXPECT_EQ(Written(), std::string(kStamp) + " INFO from \"A\" first\n" +
                             "[2024/01/31 09:45:02.001] ERROR from \"B\" second x\n");
}

TEST_F(TwainLogTest, HeaderIsLocalTimeWithRoundedMillisecondsInTheSameSecond) {
    const std::pair<long, const char*> cases[] = {
        {0, "2024/01/31 09:45:02.000"},      {499, "2024/01/31 09:45:02.000"},
        {500, "2024/01/31 09:45:02.001"},    {123456, "2024/01/31 09:45:02.123"},
        {999500, "2024/01/31 09:45:02.1000"}, {999999, "2024/01/31 09:45:02.1000"}};
    for (const auto& c : cases) {
        g_micros = c.first;
        EXPECT_EQ(log_.GetHeader(), c.second) << c.first;
    }
    g_seconds = LocalTime(2005, 3, 4, 0, 6, 7);
    g_micros = 9000;
    EXPECT_EQ(log_.GetHeader(), "2005/03/04 00:06:07.009");
}

TEST_F(TwainLogTest, TextsAroundTheBufferSizesComeOutWholeAndFromTheFirstArgument) {
    for (size_t n : {98u, 99u, 100u, 101u, 199u, 200u, 5000u, 70000u}) {
        const std::string text(n, 'x');
        EXPECT_EQ(Format("%s", text.c_str()), text) << n;
    }
    const std::string a(60, 'a'), b(70, 'b');
    EXPECT_EQ(Format("%s|%d|%s|%d", a.c_str(), 7, b.c_str(), -8), a + "|7|" + b + "|-8");
    EXPECT_EQ(Format(static_cast<const char*>(nullptr)), "");
}

TEST_F(TwainLogTest, FormatterThatKeepsFailingGivesAnEmptyStringAfterTheBound) {
    // In the C locale a non-ASCII wide character cannot be converted:
    // vsnprintf fails at every size, and the retries stop.
    const char* ctype = setlocale(LC_CTYPE, nullptr);
    if (!ctype || (strcmp(ctype, "C") != 0 && strcmp(ctype, "POSIX") != 0))
        GTEST_SKIP() << "needs the C character locale";
    const wchar_t wide[] = {0xE9, 0};
    EXPECT_EQ(Format("before %ls after", wide), "");
}

// ---------------------------------------------------------------------------
// Where the text goes

TEST_F(TwainLogTest, DebugStringsAreWrittenAsTheyAreAndNothingWithoutALogFile) {
    g_pLogFile = nullptr;
    log_.Message(LOG_LEVEL_INFO, "C", "f.c", 1, "lost %d", 1);
    log_.OutputDebugString("lost too");
    g_pLogFile = file_;
    log_.OutputDebugString("no line end, 100% as is");
    log_.OutputDebugString(nullptr);
    EXPECT_EQ(Written(), "no line end, 100% as is");
}

TEST_F(TwainLogTest, EachMessageReachesTheFileBeforeMessageReturns) {
    char path[] = "/tmp/tracelet-twainlog-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    FILE* own = fopen(path, "a");
    ASSERT_NE(own, nullptr);
    g_pLogFile = own;
    log_.Message(LOG_LEVEL_INFO, "Scanner", nullptr, 0, "opened %d", 3);
    // Read through another stream, without flushing ours.
    std::ifstream in(path, std::ios::binary);
    std::stringstream seen;
    seen << in.rdbuf();
    g_pLogFile = file_;
    fclose(own);
    unlink(path);
    EXPECT_EQ(seen.str(), std::string(kStamp) + " INFO from \"Scanner\" opened 3\n");
}

// ---------------------------------------------------------------------------
// The character locale

TEST_F(TwainLogTest, MessageLeavesTheCharacterLocaleAsItFoundIt) {
    const std::string before = setlocale(LC_CTYPE, nullptr);
    const std::string numeric = setlocale(LC_NUMERIC, nullptr);
    log_.Message(LOG_LEVEL_INFO, "C", nullptr, 0, "%.3f", 2.5);
    EXPECT_EQ(setlocale(LC_CTYPE, nullptr), before);
    EXPECT_EQ(setlocale(LC_NUMERIC, nullptr), numeric);
    EXPECT_EQ(Written(), std::string(kStamp) + " INFO from \"C\" 2.500\n");
}

// Makes "jpn" a locale the C library knows for the length of a test: a copy
// of the C library's own UTF-8 character data under that name, found through
// LOCPATH.
// glibc's newlocale keeps the search list it builds from LOCPATH, which the
// jpn locale below is found through: a leak of the C library, not of the
// logger, which frees every locale it makes.
extern "C" const char* __lsan_default_suppressions() { return "leak:__argz_add_sep\n"; }

class JpnLocale {
public:
    JpnLocale() {
        const char* source = "/usr/lib/locale/C.utf8/LC_CTYPE";
        if (access(source, R_OK) != 0) return;
        char dir[] = "/tmp/tracelet-locale-XXXXXX";
        if (!mkdtemp(dir)) return;
        root_ = dir;
        mkdir((root_ + "/jpn").c_str(), 0755);
        std::ifstream in(source, std::ios::binary);
        std::ofstream out(root_ + "/jpn/LC_CTYPE", std::ios::binary);
        out << in.rdbuf();
        out.close();
        setenv("LOCPATH", root_.c_str(), 1);
        const char* before = setlocale(LC_CTYPE, nullptr);
        before_ = before ? before : "C";
        ok_ = setlocale(LC_CTYPE, "jpn") != nullptr;
        setlocale(LC_CTYPE, before_.c_str());
    }
    ~JpnLocale() {
        unsetenv("LOCPATH");
        if (root_.empty()) return;
        unlink((root_ + "/jpn/LC_CTYPE").c_str());
        rmdir((root_ + "/jpn").c_str());
        rmdir(root_.c_str());
    }
    bool ok() const { return ok_; }

private:
    std::string root_, before_;
    bool ok_ = false;
};

TEST_F(TwainLogTest, MessageTextIsFormattedInTheJpnLocaleWhichIsThenPutBack) {
    const char* ctype = setlocale(LC_CTYPE, nullptr);
    if (!ctype || strcmp(ctype, "C") != 0) GTEST_SKIP() << "needs the C character locale";
    JpnLocale jpn;
    if (!jpn.ok()) GTEST_SKIP() << "cannot make a jpn locale here";

    const wchar_t wide[] = {0xE9, 't', 0xE9, 0};  // converts only under the jpn locale
    log_.Message(LOG_LEVEL_INFO, "C", nullptr, 0, "%ls", wide);
    EXPECT_STREQ(setlocale(LC_CTYPE, nullptr), "C");
    EXPECT_EQ(Written(), std::string(kStamp) + " INFO from \"C\" \xC3\xA9t\xC3\xA9\n");
    // Outside a message the same text still cannot be converted.
    EXPECT_EQ(Format("%ls", wide), "");
}

// ---------------------------------------------------------------------------
// Life cycle with the log file

TEST(TwainLogLifeCycle, SetUpCreatesTheLoggerOnTheLogFileAndCleanUpDeletesIt) {
    const std::string folder = TRACELET_UNIT_LOG_DIR;
    // Make the folder (and its parents) exist, empty.
    std::string partial;
    for (size_t at = 1; at != std::string::npos;) {
        at = folder.find('/', at + 1);
        partial = folder.substr(0, at);
        mkdir(partial.c_str(), 0777);
    }
    ASSERT_EQ(access(folder.c_str(), F_OK), 0);
    ASSERT_EQ(g_pLogFile, nullptr);
    ASSERT_EQ(g_pcTwainLog, nullptr);
    const int32_t state = g_cParaAnalyze.GetTwainStatus();

    const std::string path = folder + "/Twainlog_20240131_094502_0008.txt";
    unlink(path.c_str());  // opened for appending: start from nothing

    g_seconds = LocalTime(2024, 1, 31, 9, 45, 2);
    g_micros = 7600;
    tracelet::platform::SetClockForTesting(TestSeconds, TestMicros);
    setupTwainLog();
    ASSERT_NE(g_pcTwainLog, nullptr);
    ASSERT_NE(g_pLogFile, nullptr);
    g_pcTwainLog->Message(LOG_LEVEL_WARNING, "Setup", "x/y/z.cpp", 7, "ready");
    cleanupTwainLog();
    tracelet::platform::SetClockForTesting(nullptr, nullptr);
    g_cParaAnalyze.SetTwainStatus(state);
    EXPECT_EQ(g_pcTwainLog, nullptr);
    EXPECT_EQ(g_pLogFile, nullptr);

    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path.c_str());
    EXPECT_EQ(text.str(), std::string(kStamp) + " WARNING from \"Setup\" (File: z.cpp" +
                              std::string(35, ' ') + ", Line:    7) ready\n");
}

}  // namespace
