// The render engine: the trace's own printf-style formatter and the
// analyzer's bounded appends into the log text buffer.
#include <limits.h>
#include <stdio.h>
#include <string.h>

#include <cmath>

#include "analyzer/ParaAnalyze.h"

// The printf-style functions themselves, not their compiled forms.
#undef AppendF
#undef TraceFormat

bool CParaAnalyze::s_bRenderByLibrary = false;

// ---------------------------------------------------------------------------
// Formatting
//
// The trace's formats use a small vocabulary: texts, decimals, hexadecimals
// with a width, and TW_FIX32 values with "%.3f". TraceFormatV renders that
// vocabulary itself, byte for byte as the C library's vsnprintf would (the
// tests compare the two), because the library's general formatter costs
// far more per line than the write of the line does. From the first
// conversion outside that vocabulary on, the rest of the format goes to
// vsnprintf.

namespace {

struct Conversion {
    bool left = false;     // '-'
    bool zero = false;     // '0'
    int width = 0;
    int precision = -1;
    int longs = 0;         // 'l' count
    char letter = 0;       // the conversion's letter
};

// Reads one conversion after its '%'; false for anything outside the
// vocabulary. `p` is left after the conversion character.
bool ParseConversion(const char*& p, Conversion& conv) {
    for (;; ++p) {
        if (*p == '-') conv.left = true;
        else if (*p == '0') conv.zero = true;
        else break;
    }
    while (*p >= '0' && *p <= '9') {
        conv.width = conv.width * 10 + (*p++ - '0');
        if (conv.width > 4096) return false;
    }
    if (*p == '.') {
        ++p;
        conv.precision = 0;
        while (*p >= '0' && *p <= '9') {
            conv.precision = conv.precision * 10 + (*p++ - '0');
            if (conv.precision > 4096) return false;
        }
    }
    while (*p == 'l') {
        ++conv.longs;
        ++p;
    }
    if (conv.longs > 2) return false;
    conv.letter = *p;
    switch (*p) {
        case 'd': case 'i': case 'u': case 'x': case 'X':
            if (conv.precision >= 0) return false;
            break;
        case 's':
            if (conv.longs || conv.zero) return false;
            break;
        case 'c':
            if (conv.longs || conv.zero || conv.precision >= 0) return false;
            break;
        case 'f':
            if (conv.longs || conv.width || conv.left || conv.zero) return false;
            break;
        case '%':
            if (conv.longs || conv.width || conv.left || conv.zero || conv.precision >= 0) return false;
            break;
        default:
            return false;
    }
    ++p;
    return true;
}

// The output: bytes past the room are counted, not stored.
struct Sink {
    char* out;
    size_t room;  // bytes that may hold text (the NUL comes after)
    size_t len;
    void Put(const char* s, size_t n) {
        if (len < room) {
            const size_t take = n < room - len ? n : room - len;
            memcpy(out + len, s, take);
        }
        len += n;
    }
    void Fill(char c, size_t n) {
        if (len < room) {
            const size_t take = n < room - len ? n : room - len;
            memset(out + len, c, take);
        }
        len += n;
    }
    // The library's text for a format and its arguments, appended.
    int Library(const char* format, va_list args) {
        const size_t left = len < room ? room - len : 0;
        char none;
        const int n = vsnprintf(len < room ? out + len : &none, len < room ? left + 1 : 0, format, args);
        if (n > 0) len += static_cast<size_t>(n);
        return n;
    }
    int LibraryValue(const char* format, ...) {
        va_list args;
        va_start(args, format);
        const int n = Library(format, args);
        va_end(args);
        return n;
    }
    void Padded(const Conversion& conv, const char* s, size_t n) {
        const size_t w = static_cast<size_t>(conv.width);
        if (!conv.left && w > n) Fill(' ', w - n);
        Put(s, n);
        if (conv.left && w > n) Fill(' ', w - n);
    }
};

void PutInteger(Sink& sink, const Conversion& conv, unsigned long long magnitude, bool negative) {
    char digits[32];
    size_t n = 0;
    const bool hex = conv.letter == 'x' || conv.letter == 'X';
    const char* alphabet = conv.letter == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
    do {
        digits[sizeof digits - 1 - n++] = alphabet[hex ? (magnitude & 15u) : (magnitude % 10u)];
        magnitude = hex ? magnitude >> 4 : magnitude / 10u;
    } while (magnitude);
    const size_t total = n + (negative ? 1 : 0);
    const size_t w = static_cast<size_t>(conv.width);
    if (conv.zero && !conv.left) {
        if (negative) sink.Put("-", 1);
        if (w > total) sink.Fill('0', w - total);
        sink.Put(digits + sizeof digits - n, n);
        return;
    }
    if (!conv.left && w > total) sink.Fill(' ', w - total);
    if (negative) sink.Put("-", 1);
    sink.Put(digits + sizeof digits - n, n);
    if (conv.left && w > total) sink.Fill(' ', w - total);
}

// "%.3f" of a value that is a whole number of 65536ths, written straight
// into the output when it fits (a copy through a scratch buffer costs more
// than the digits here).
bool PutFix3(Sink& sink, double v) {
    if (!trace_compile::IsFix(v)) return false;
    char scratch[trace_compile::kFixBound];
    sink.Put(scratch, static_cast<size_t>(trace_compile::PutFix3(scratch, v) - scratch));
    return true;
}

}  // namespace

int TraceFormatV(char* out, size_t size, const char* format, va_list args) {
    if (CParaAnalyze::s_bRenderByLibrary) return vsnprintf(out, size, format, args);
    if (!format) return -1;
    Sink sink{out, size ? size - 1 : 0, 0};
    for (const char* p = format;;) {
        const char* percent = strchrnul(p, '%');
        if (percent != p) sink.Put(p, static_cast<size_t>(percent - p));
        if (!*percent) break;
        p = percent + 1;
        Conversion conv;
        if (!ParseConversion(p, conv)) {
            // The rest of the format, from this conversion on, with the
            // arguments not yet taken: printf renders a format piece by
            // piece, so the text is the library's own.
            const int rest = sink.Library(percent, args);
            if (rest < 0) return -1;
            break;
        }
        switch (conv.letter) {
            case 'd':
            case 'i': {
                long long v = conv.longs == 2 ? va_arg(args, long long)
                              : conv.longs == 1 ? va_arg(args, long)
                                                : va_arg(args, int);
                const bool negative = v < 0;
                const unsigned long long m =
                    negative ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
                PutInteger(sink, conv, m, negative);
                break;
            }
            case 'u':
            case 'x':
            case 'X': {
                unsigned long long v = conv.longs == 2 ? va_arg(args, unsigned long long)
                                       : conv.longs == 1 ? va_arg(args, unsigned long)
                                                         : va_arg(args, unsigned);
                PutInteger(sink, conv, v, false);
                break;
            }
            case 's': {
                const char* s = va_arg(args, const char*);
                size_t n;
                if (!s) {
                    // As the C library does: "(null)", or nothing when the
                    // precision leaves no room for it.
                    s = conv.precision < 0 || conv.precision >= 6 ? "(null)" : "";
                    n = strlen(s);
                } else {
                    n = conv.precision < 0 ? strlen(s) : strnlen(s, static_cast<size_t>(conv.precision));
                }
                sink.Padded(conv, s, n);
                break;
            }
            case 'c': {
                const char c = static_cast<char>(va_arg(args, int));
                sink.Padded(conv, &c, 1);
                break;
            }
            case 'f': {
                const double v = va_arg(args, double);
                if (conv.precision == 3 && PutFix3(sink, v)) break;
                char one[16];
                snprintf(one, sizeof one, "%%.%df", conv.precision < 0 ? 6 : conv.precision);
                if (sink.LibraryValue(one, v) < 0) return -1;
                break;
            }
            case '%':
                sink.Put("%", 1);
                break;
        }
    }
    if (size) out[sink.len < size ? sink.len : size - 1] = '\0';
    return sink.len > static_cast<size_t>(INT_MAX) ? -1 : static_cast<int>(sink.len);
}

int TraceFormat(char* out, size_t size, const char* format, ...) {
    va_list args;
    va_start(args, format);
    const int n = TraceFormatV(out, size, format, args);
    va_end(args);
    return n;
}

// ---------------------------------------------------------------------------
// Output

void CParaAnalyze::SetOutput(char* pOutput, size_t nSize) {
    m_pOutput = pOutput;
    m_nOutputSize = pOutput ? nSize : 0;
    m_nOutputLen = pOutput ? strnlen(pOutput, nSize) : 0;
    if (pOutput) pOutput[m_nOutputLen] = '\0';
    m_bOutputCut = false;
}

void CParaAnalyze::Append(const char* text) {
    if (!text || !*text) return;
    if (!m_pOutput) return;
    const size_t room = m_nOutputSize - m_nOutputLen;
    Append(text, strnlen(text, room + 1));
}

void CParaAnalyze::Append(const char* text, size_t length) {
    if (!text || !length || !m_pOutput) return;
    size_t room = m_nOutputSize - m_nOutputLen;
    size_t n = length;
    if (n > room) {
        n = room;
        m_bOutputCut = true;
    }
    memcpy(m_pOutput + m_nOutputLen, text, n);
    m_nOutputLen += n;
    m_pOutput[m_nOutputLen] = '\0';
}

void CParaAnalyze::AppendV(const char* format, va_list args) {
    if (!m_pOutput || !format) return;
    size_t room = m_nOutputSize - m_nOutputLen;
    int n = TraceFormatV(m_pOutput + m_nOutputLen, room + 1, format, args);
    if (n < 0) {
        m_pOutput[m_nOutputLen] = '\0';
        return;
    }
    if (static_cast<size_t>(n) > room) {
        m_bOutputCut = true;
        m_nOutputLen = m_nOutputSize;
    } else {
        m_nOutputLen += static_cast<size_t>(n);
    }
}

void CParaAnalyze::AppendF(const char* format, ...) {
    va_list args;
    va_start(args, format);
    AppendV(format, args);
    va_end(args);
}
