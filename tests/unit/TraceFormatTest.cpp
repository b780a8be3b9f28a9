// The renderer against the C library's printf: for every kind of format
// the trace uses and many values, the same text, and the same cut when the
// room runs out.
#include <gtest/gtest.h>

#include <stdio.h>
#include <string.h>

#include <random>
#include <string>

#include "render/Format.h"
#include "render/Values.h"

#ifndef __clang__
#pragma GCC diagnostic ignored "-Wformat-truncation"  // texts cut by the room are what is compared
#endif

namespace {

// The renderer and snprintf in a buffer of `size`: the same bytes, and
// nothing written past them.
#define EXPECT_SAME(size, format, ...)                                                 \
    do {                                                                               \
        char ours[8192], library[8192];                                                \
        memset(ours, 0x5A, sizeof ours);                                               \
        memset(library, 0x5A, sizeof library);                                         \
        const size_t n = TRACE_FORMAT_TO(ours, size, format, __VA_ARGS__);             \
        const int m = snprintf(library, size, format, __VA_ARGS__);                    \
        if (size) {                                                                    \
            EXPECT_EQ(n, static_cast<size_t>(m) < (size) ? static_cast<size_t>(m) : (size) - 1) << format; \
        }                                                                              \
        EXPECT_EQ(std::string(ours, (size) + 1), std::string(library, (size) + 1)) << format; \
    } while (0)

TEST(TraceFormat, EveryTw32FixedPointValueRoundsAsTheLibraryRoundsIt) {
    // Whole and Frac at their edges, and every tie between two thousandths
    // (a multiple of 4096 sixty-fourths-of-a-thousand) over a wide range.
    for (int whole : {-32768, -32767, -1000, -2, -1, 0, 1, 2, 299, 300, 32766, 32767})
        for (int frac : {0, 1, 2, 32, 33, 4095, 4096, 4097, 8191, 8192, 12288, 32767, 32768, 32769, 61439,
                         61440, 65534, 65535}) {
            const uint32_t word = (static_cast<uint32_t>(frac) << 16) | static_cast<uint16_t>(whole);
            EXPECT_SAME(64, "[%.3f]", FixOfWord(word));
        }
    for (int64_t n = -(1ll << 31); n < (1ll << 31); n += 4096 * 37) {
        const double v = static_cast<double>(n) / 65536.0;
        EXPECT_SAME(64, "%.3f|%.3f", v, v + 4096.0 / 65536.0);
    }
    std::mt19937 random(20261206);
    for (int i = 0; i < 200000; ++i) {
        const double v = FixOfWord(static_cast<uint32_t>(random()));  // once: the macro reads its values twice
        EXPECT_SAME(64, "%.3f", v);
    }
}

TEST(TraceFormat, IntegersAndTextsWithWidthsZerosSignsAndLengths) {
    for (long long v : {0ll, 1ll, -1ll, 9ll, 10ll, 99ll, 100ll, 999ll, 1000ll, 99999ll, 100000ll, 2147483647ll,
                        -2147483648ll, 4294967295ll, 65535ll, -32768ll}) {
        const int i = static_cast<int>(v);
        const unsigned u = static_cast<unsigned>(i);
        const long l = static_cast<long>(v);
        EXPECT_SAME(64, "[%d] [%3d] [%05d] [%-4d] [%i]", i, i, i, i, i);
        EXPECT_SAME(64, "[%ld] [%05ld] [%lu] [%lld]", l, l, static_cast<unsigned long>(l), v);
        EXPECT_SAME(64, "[%u] [%x] [%02x] [%04x] [%08x] [%X] [%lx]", u, u, u, u, u, u, static_cast<unsigned long>(l));
    }
    for (double v : {-0.0, 2.5, -32768.0, 32767.99998474121}) EXPECT_SAME(64, "%.3f|%.3f", v, -v);
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
    // A line longer than any room it is cut to: the renderer composes it
    // piece by piece, and the piece that crosses the end is cut.
    const std::string longText(300, 't');
    for (size_t size : {1, 40, 100, 250, 301, 320, 340})
        EXPECT_SAME(size, "      Item     = [%s]%s|%-40s|%8d|%.3f", longText.c_str(), "\r\n", "Dev.cpp", -77, -1.5);
}

TEST(TraceFormat, AppendsCutAtTheBufferEndAndSaySo) {
    // Appends of formatted lines and of texts up to the buffer's end: the
    // text is the first bytes of the whole, and the cut is noted once it
    // happened, whether the line fitted whole or not.
    std::string whole;
    char buffer[65];
    buffer[0] = '\0';
    tracelet::render::TextOut out;
    out.Reset(buffer, 64);
    for (int i = 0; i < 9; ++i) {
        TRACE_APPEND(out, "    Count = [%d]%s", i * 1111, "\r\n");
        char line[64];
        snprintf(line, sizeof line, "    Count = [%d]\r\n", i * 1111);
        whole += line;
        EXPECT_EQ(out.Cut(), whole.size() > 64) << i;
        EXPECT_EQ(std::string(buffer), whole.substr(0, 64)) << i;
    }
    EXPECT_TRUE(out.Full());
    out.Append("more");
    EXPECT_EQ(out.Length(), 64u);
}

}  // namespace
