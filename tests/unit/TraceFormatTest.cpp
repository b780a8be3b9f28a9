// The trace's own formatter against the C library's: for every format the
// trace uses and many values, the same text, the same length, the same cut
// when the room runs out.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <random>
#include <string>
#include <vector>

#include "ContainerBytes.h"
#include "analyzer/ParaAnalyze.h"
#include "tracelet/twain_nv.h"

#ifndef __clang__
#pragma GCC diagnostic ignored "-Wformat-truncation"  // texts cut by the room are what is compared
#endif

namespace {

// TraceFormatV against vsnprintf in a buffer of `size`: the same length, the
// same bytes, and nothing written past them.
void ExpectSame(size_t size, const char* format, ...) {
    char a[8192], b[8192];
    memset(a, 0x5A, sizeof a);
    memset(b, 0x5A, sizeof b);
    va_list args, copy;
    va_start(args, format);
    va_copy(copy, args);
    const int n = TraceFormatV(a, size, format, args), m = vsnprintf(b, size, format, copy);
    va_end(copy);
    va_end(args);
    EXPECT_EQ(n, m) << format;
    EXPECT_EQ(std::string(a, size + 1), std::string(b, size + 1)) << format;
}
// The same for the run-time formatter and the compiled one (TraceFormat with
// a literal format).
#define EXPECT_SAME(size, format, ...)                                                                          \
    do {                                                                                                        \
        ExpectSame(size, format, __VA_ARGS__);                                                                  \
        char ours[8192], library[8192];                                                                         \
        EXPECT_EQ(TraceFormat(ours, size, format, __VA_ARGS__), snprintf(library, size, format, __VA_ARGS__)) \
            << format;                                                                                          \
        if (size) {                                                                                             \
            EXPECT_STREQ(ours, library) << format;                                                              \
        }                                                                                                       \
    } while (0)

double Fix(int32_t word) { return Fix32ToDouble(static_cast<uint32_t>(word)); }

TEST(TraceFormat, EveryTw32FixedPointValueRoundsAsTheLibraryRoundsIt) {
    // Whole and Frac at their edges, and every tie between two thousandths
    // (a multiple of 4096 sixty-fourths-of-a-thousand) over a wide range.
    for (int whole : {-32768, -32767, -1000, -2, -1, 0, 1, 2, 299, 300, 32766, 32767})
        for (int frac : {0, 1, 2, 32, 33, 4095, 4096, 4097, 8191, 8192, 12288, 32767, 32768, 32769, 61439,
                         61440, 65534, 65535}) {
            const uint32_t word = (static_cast<uint32_t>(frac) << 16) | static_cast<uint16_t>(whole);
            EXPECT_SAME(64, "[%.3f]", Fix32ToDouble(word));
        }
    for (int64_t n = -(1ll << 31); n < (1ll << 31); n += 4096 * 37) {
        const double v = static_cast<double>(n) / 65536.0;
        EXPECT_SAME(64, "%.3f", v);
        EXPECT_SAME(64, "%.3f", v + 4096.0 / 65536.0);
    }
    std::mt19937 random(20261206);
    for (int i = 0; i < 200000; ++i) {
        const double v = Fix(static_cast<int32_t>(random()));
        EXPECT_SAME(64, "%.3f", v);
    }
}

TEST(TraceFormat, IntegersTextsAndOtherFloatingValuesWithWidthsZerosSignsAndLengths) {
    for (long long v : {0ll, 1ll, -1ll, 9ll, 10ll, 99ll, 100ll, 999ll, 1000ll, 99999ll, 100000ll, 2147483647ll,
                        -2147483648ll, 4294967295ll, 65535ll, -32768ll}) {
        const int i = static_cast<int>(v);
        const unsigned u = static_cast<unsigned>(i);
        const long l = static_cast<long>(v);
        EXPECT_SAME(64, "[%d] [%3d] [%05d] [%-4d] [%i]", i, i, i, i, i);
        EXPECT_SAME(64, "[%ld] [%05ld] [%lu] [%lld]", l, l, static_cast<unsigned long>(l), v);
        EXPECT_SAME(64, "[%u] [%x] [%02x] [%04x] [%08x] [%X] [%lx]", u, u, u, u, u, u, static_cast<unsigned long>(l));
    }
    for (double v : {0.1, -0.0, 1e300, 1.0 / 0.0, 0.0 / 0.0, 2.5}) EXPECT_SAME(64, "%.3f %.2f %f %.0f", v, v, v, v);
    EXPECT_SAME(2048, "%.900f", 1.0 / 3.0);
    EXPECT_SAME(64, "[%s]%s[%.31s] ", "TWRC_SUCCESS", "\r\n", "APPLICATION-TAG-LONGER-THAN-THIRTY-ONE");
    EXPECT_SAME(64, "[%-10s|%10s][%c%c]%%%s", "ab", "cd", 'x', 'y', "");
    const char* volatile noText = nullptr;  // hidden from the compiler's format checks
    EXPECT_SAME(64, "[%s][%.3s][%.6s]", noText, noText, noText);
}

TEST(TraceFormat, ATextThatDoesNotFitIsCutAndStillMeasuredWhole) {
    const char* volatile noText = nullptr;
    for (size_t size : {0, 1, 2, 5, 8, 12, 13, 30}) {
        EXPECT_SAME(size, "        Return Code = [%s]%s", "TWRC_SUCCESS", "\r\n");
        EXPECT_SAME(size, "[%s][%.3s][%-8s|%8s][%c]%%", noText, noText, "ab", "cd", 'x');
        EXPECT_SAME(size, "%05ld|%3d|%-4d|%u|%08x|%X|%lu|%lld|%.3f", -42L, -1, 7, 9u, 255u, 255u, 42UL, -5LL, -0.0);
    }
}

TEST(TraceFormat, FormatsOutsideItsVocabularyAreTheLibrarys) {
    ExpectSame(64, "%p %+d % d %#x %e %g", static_cast<void*>(nullptr), 5, 5, 255u, 1.5, 1.5);
    ExpectSame(64, "%*d %05s %hd %hhu %-40s|", 6, 42, "ab", 70000, 300, "Dev.cpp");
    // Ours first, then the library's from the first conversion it needs.
    ExpectSame(64, "[%d] %p [%s] %.3f", 7, static_cast<void*>(nullptr), "x", 1.5);
    ExpectSame(64, "%s%s%+d%s", "abc", "def", 9, "ghi");
    for (size_t size : {0, 3, 7, 9, 12}) ExpectSame(size, "%s %e %d", "abcdef", 2.5, 11);
}

// ---------------------------------------------------------------------------
// The compiled formats against the library: every structure's block, the
// triplet line and every container rendered both ways from the same bytes.

// What the analyzer writes for one call, rendered with the compiled formats
// and with every line through vsnprintf; both must be the same text.
void ExpectBothWays(TW_UINT16 dat, TW_UINT16 msg, void* data, TW_UINT16 rc, TW_IDENTITY* origin) {
    std::string text[2];
    for (int library = 0; library < 2; ++library) {
        CParaAnalyze::s_bRenderByLibrary = library;
        CParaAnalyze a;
        a.InitTwainStatus();
        a.m_lSequence = 99998;
        char buf[kLogTextSize + 1] = {};
        a.TripletAnalyze(origin, nullptr, DG_CONTROL, dat, msg, static_cast<char*>(data), buf, kLogTextSize);
        text[library] = buf + std::string("|");
        memset(buf, 0, sizeof buf);
        a.ParaAnalyze(origin, nullptr, DG_CONTROL, dat, msg, static_cast<char*>(data), rc, buf, kLogTextSize);
        text[library] += buf + std::string(a.OutputCut() ? "|cut" : "");
    }
    CParaAnalyze::s_bRenderByLibrary = false;
    ASSERT_EQ(text[0], text[1]) << "DAT " << dat << " MSG " << msg;
}

// Every data argument type the dispatch knows but DAT_CAPABILITY (whose
// handle random bytes cannot give), and some it does not know.
TEST(CompiledFormats, EveryBlockIsTheLibrarysTextByteForByte) {
    const TW_UINT16 msgs[] = {MSG_GET, MSG_OPENDSM, MSG_ENABLEDS, MSG_PROCESSEVENT, MSG_ENDXFER, 0x8003};
    std::mt19937 random(20261207);
    // Random bytes behind pData (texts without NUL, every TW_FIX32), as large
    // as the largest structure.
    std::vector<unsigned char> bytes(sizeof(TW_PALETTE8) + sizeof(TWNV_HARDWAREINFO));
    TW_IDENTITY origin;
    for (int round = 0; round < 40; ++round)
        for (unsigned dat = 0; dat < 0x800e; dat = dat == 0x12 ? 0x101 : dat == 0x10c ? 0x403 : dat == 0x403 ? 0x8000 : dat + 1) {
            if (dat == DAT_CAPABILITY) continue;
            for (unsigned char& b : bytes) b = static_cast<unsigned char>(random() % 4 ? random() : random() % 16);
            memcpy(&origin, bytes.data() + 7, sizeof origin);
            ExpectBothWays(static_cast<TW_UINT16>(dat), msgs[random() % 6], bytes.data(), random() % 10, &origin);
        }
}

TEST(CompiledFormats, EveryContainerAndItemTypeIsTheLibrarysTextByteForByte) {
    std::mt19937 random(7);
    for (TW_UINT16 conType : {TWON_ARRAY, TWON_ENUMERATION, TWON_ONEVALUE, TWON_RANGE})
        for (TW_UINT16 type = 0; type <= 14; ++type)
            for (TW_UINT16 cap : {ICAP_PIXELTYPE, ICAP_XRESOLUTION, CAP_SUPPORTEDCAPS, CAP_NV_VERSION, 0x8123, 0x1000}) {
                // Up to 40 items of the widest type, after the largest head.
                std::vector<unsigned char> block(sizeof(TW_ENUMERATION) + 40 * sizeof(TW_STR255));
                for (unsigned char& b : block) b = static_cast<unsigned char>(random() % 3 ? random() : 0);
                const TW_UINT32 count = static_cast<TW_UINT32>(random() % 40);
                memcpy(block.data(), &type, sizeof type);
                memcpy(block.data() + offsetof(TW_ARRAY, NumItems), &count, sizeof count);
                memcpy(block.data() + offsetof(TW_ENUMERATION, NumItems), &count, sizeof count);
                TW_CAPABILITY c{cap, conType, HandleOf(block)};
                ExpectBothWays(DAT_CAPABILITY, MSG_GET, &c, TWRC_SUCCESS, nullptr);
                TwainDisposeHandle(c.hContainer);
            }
}

}  // namespace
