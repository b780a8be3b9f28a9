// The trace's own formatter against the C library's: for every format the
// trace uses and many values, the same text, the same length, the same cut
// when the room runs out.
#include <gtest/gtest.h>

#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <random>
#include <string>

#include "analyzer/ParaAnalyze.h"

namespace {

// Both renderings of one format and its arguments, in a buffer of `size`.
struct Both {
    std::string ours, library;
    int ourLength = 0, libraryLength = 0;
};

Both Render(size_t size, const char* format, ...) {
    char a[8192], b[8192];
    memset(a, 0x5A, sizeof a);
    memset(b, 0x5A, sizeof b);
    va_list args, copy;
    va_start(args, format);
    va_copy(copy, args);
    Both r;
    r.ourLength = TraceFormatV(a, size, format, args);
    r.libraryLength = vsnprintf(b, size, format, copy);
    va_end(copy);
    va_end(args);
    r.ours.assign(a, size + 1);
    r.library.assign(b, size + 1);
    return r;
}

#define EXPECT_SAME(size, ...)                                      \
    do {                                                            \
        const Both r = Render(size, __VA_ARGS__);                   \
        EXPECT_EQ(r.ourLength, r.libraryLength) << #__VA_ARGS__;    \
        EXPECT_EQ(r.ours, r.library) << #__VA_ARGS__;               \
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
        const Both r = Render(64, "%.3f", v);
        ASSERT_EQ(r.ours, r.library) << v;
    }
}

TEST(TraceFormat, OtherFloatingValuesAndPrecisionsGoTheLibrarysWay) {
    EXPECT_SAME(64, "%.3f", 0.1);
    EXPECT_SAME(64, "%.3f", -0.0);
    EXPECT_SAME(64, "%.3f", 1e300);
    EXPECT_SAME(64, "%.3f", 1.0 / 0.0);
    EXPECT_SAME(64, "%.3f", 0.0 / 0.0);
    EXPECT_SAME(64, "%.2f", 2.5);
    EXPECT_SAME(64, "%f", 2.5);
    EXPECT_SAME(64, "%.0f", 2.5);
    EXPECT_SAME(2048, "%.900f", 1.0 / 3.0);
}

TEST(TraceFormat, IntegersWithWidthsZerosSignsAndLengths) {
    const long long values[] = {0, 1, -1, 9, 10, 99, 100, 999, 1000, 99999, 100000, 2147483647,
                                -2147483647 - 1, 4294967295ll, 65535, -32768};
    for (long long v : values) {
        const int i = static_cast<int>(v);
        const long l = static_cast<long>(v);
        EXPECT_SAME(64, "[%d] [%3d] [%05d] [%-4d] [%i]", i, i, i, i, i);
        EXPECT_SAME(64, "[%ld] [%05ld] [%lu] [%lld]", l, l, static_cast<unsigned long>(l), v);
        EXPECT_SAME(64, "[%u] [%x] [%02x] [%04x] [%08x] [%X] [%lx]", static_cast<unsigned>(i),
                    static_cast<unsigned>(i), static_cast<unsigned>(i), static_cast<unsigned>(i),
                    static_cast<unsigned>(i), static_cast<unsigned>(i), static_cast<unsigned long>(l));
    }
}

TEST(TraceFormat, TextsWithPrecisionAndWidthAndTheNullText) {
    EXPECT_SAME(64, "[%s]%s", "TWRC_SUCCESS", "\r\n");
    EXPECT_SAME(64, "[%.31s] ", "APPLICATION-TAG-LONGER-THAN-THIRTY-ONE");
    EXPECT_SAME(64, "[%-10s|%10s]", "ab", "cd");
    EXPECT_SAME(64, "[%c%c]%%", 'x', 'y');
    EXPECT_SAME(64, "[%s]", static_cast<const char*>(nullptr));
    EXPECT_SAME(64, "[%.3s]", static_cast<const char*>(nullptr));
    EXPECT_SAME(64, "[%.6s]", static_cast<const char*>(nullptr));
    EXPECT_SAME(64, "%s", "");
}

TEST(TraceFormat, ATextThatDoesNotFitIsCutAndStillMeasuredWhole) {
    for (size_t size : {0, 1, 2, 5, 8, 12, 13, 30})
        EXPECT_SAME(size, "        Return Code = [%s]%s", "TWRC_SUCCESS", "\r\n");
    EXPECT_SAME(7, "%05ld:%.3f", 42L, 1.5);
}

TEST(TraceFormat, FormatsOutsideItsVocabularyAreTheLibrarys) {
    EXPECT_SAME(64, "%p", static_cast<void*>(nullptr));
    EXPECT_SAME(64, "%+d % d %#x %e %g", 5, 5, 255u, 1.5, 1.5);
    EXPECT_SAME(64, "%*d", 6, 42);
    EXPECT_SAME(64, "%05s", "ab");
    EXPECT_SAME(64, "%hd %hhu", 70000, 300);
    EXPECT_SAME(64, "%-40s|", "Dev.cpp");
    // Ours first, then the library's from the first conversion it needs.
    EXPECT_SAME(64, "[%d] %p [%s] %.3f", 7, static_cast<void*>(nullptr), "x", 1.5);
    EXPECT_SAME(64, "%s%s%+d%s", "abc", "def", 9, "ghi");
    for (size_t size : {0, 3, 7, 9, 12})
        EXPECT_SAME(size, "%s %e %d", "abcdef", 2.5, 11);
}

}  // namespace
