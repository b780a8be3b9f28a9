// The one renderer: a format and its values into the log text.
//
// Every format the trace writes is a string literal, the log's own text
// ("    Count = [%d]%s"). TRACE_APPEND hands the literal to a template as a
// type, so that its pieces (plain text, conversions with their flags,
// width and precision) are parsed by the compiler: a line then renders as
// copies of its plain text of known length and typed conversions of its
// values, with no scan of the format and no argument list at run time.
// The compiler also checks each format against its values as a printf
// format, and the text is the C library's, byte for byte (the tests
// compare the two).
//
// The vocabulary: %d %i %u %x %X with '-', '0', a width and 'l'/'ll'; %s
// with '-', a width and a precision; %c; %.3f of a TW_FIX32 value (a whole
// number of 65536ths: a value between them is rounded to the nearest); %%.
// A format outside it does not compile.
//
// A line is composed straight into the log text when its bound fits the
// room left; else piece by piece through bounded appends, cut at the
// buffer's end.
#ifndef TRACELET_RENDER_FORMAT_H
#define TRACELET_RENDER_FORMAT_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <cmath>
#include <utility>

#include "render/TextOut.h"

namespace tracelet {
namespace render {
namespace detail {

struct Conv {
    char letter = 0;
    bool left = false;
    bool zero = false;
    int width = 0;
    int precision = -1;
    int longs = 0;
};

struct Piece {
    size_t begin = 0, length = 0;  // plain text before the conversion, in Compiled::text
    Conv conv;
};

// A parsed format of N bytes (its NUL included).
template <size_t N>
struct Compiled {
    char text[N] = {};          // the plain text, "%%" made "%"
    Piece pieces[N / 2 + 1] = {};
    size_t count = 0;           // conversions
    size_t tailBegin = 0, tailLength = 0;
    bool ok = true;             // every conversion is in the vocabulary
    size_t plain = 0;           // bytes of plain text in all
};

template <size_t N>
constexpr Compiled<N> Parse(const char (&f)[N]) {
    Compiled<N> s;
    size_t at = 0, begin = 0;
    size_t i = 0;
    while (i + 1 < N && f[i]) {
        if (f[i] != '%') {
            s.text[at++] = f[i++];
            continue;
        }
        if (f[i + 1] == '%') {
            s.text[at++] = '%';
            i += 2;
            continue;
        }
        ++i;
        Conv c;
        for (;; ++i) {
            if (f[i] == '-') c.left = true;
            else if (f[i] == '0') c.zero = true;
            else break;
        }
        while (f[i] >= '0' && f[i] <= '9') c.width = c.width * 10 + (f[i++] - '0');
        if (f[i] == '.') {
            ++i;
            c.precision = 0;
            while (f[i] >= '0' && f[i] <= '9') c.precision = c.precision * 10 + (f[i++] - '0');
        }
        while (f[i] == 'l') {
            ++c.longs;
            ++i;
        }
        c.letter = f[i];
        switch (c.letter) {
            case 'd': case 'i': case 'u': case 'x': case 'X':
                if (c.precision >= 0 || c.longs > 2) s.ok = false;
                break;
            case 's':
                if (c.longs || c.zero) s.ok = false;
                break;
            case 'c':
                if (c.longs || c.zero || c.precision >= 0) s.ok = false;
                break;
            case 'f':
                if (c.longs || c.width || c.left || c.zero || c.precision != 3) s.ok = false;
                break;
            default:
                s.ok = false;
                break;
        }
        if (c.letter) ++i;
        s.pieces[s.count].begin = begin;
        s.pieces[s.count].length = at - begin;
        s.pieces[s.count].conv = c;
        ++s.count;
        begin = at;
    }
    s.tailBegin = begin;
    s.tailLength = at - begin;
    s.plain = at;
    return s;
}

// The parsed format of a format type (see TRACELET_FORMAT).
template <class F>
struct Parsed {
    static constexpr auto value = Parse(F::Get());
};

// --- Typed conversions, written where there is room for their bound ---------------

constexpr size_t kNumberBound = 24;  // digits of 64 bits, sign, prefix

// Digits of a value below 10^10.
inline size_t DecimalLength(uint64_t v) {
    return 1 + (v >= 10) + (v >= 100) + (v >= 1000) + (v >= 10000) + (v >= 100000) + (v >= 1000000) +
           (v >= 10000000) + (v >= 100000000) + (v >= 1000000000);
}

// The decimal digits of `v` (below 10^10), `n` of them, written backwards
// from o + n, two at a time; o + n.
inline char* PutDecimal(char* o, uint64_t v, size_t n) {
    static constexpr char kPairs[] =
        "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
        "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
        "8081828384858687888990919293949596979899";
    char* const end = o + n;
    char* p = end;
    while (v >= 100) {
        const size_t r = static_cast<size_t>(v % 100) * 2;
        v /= 100;
        p -= 2;
        p[0] = kPairs[r];
        p[1] = kPairs[r + 1];
    }
    if (v >= 10) {
        p[-2] = kPairs[v * 2];
        p[-1] = kPairs[v * 2 + 1];
    } else {
        p[-1] = static_cast<char>('0' + v);
    }
    return end;
}

// The three digits of every value below 1000, padded with zeros ("007")
// or with blanks ("  7", as "%3d" pads), each in four bytes.
struct Digits3 {
    char at[1000][4];
};
constexpr Digits3 MakeDigits3(char pad) {
    Digits3 d{};
    for (int v = 0; v < 1000; ++v) {
        d.at[v][0] = v >= 100 ? static_cast<char>('0' + v / 100) : pad;
        d.at[v][1] = v >= 10 ? static_cast<char>('0' + v / 10 % 10) : pad;
        d.at[v][2] = static_cast<char>('0' + v % 10);
    }
    return d;
}
inline constexpr Digits3 kZeroPadded3 = MakeDigits3('0');
inline constexpr Digits3 kBlankPadded3 = MakeDigits3(' ');

// The digits of `v` (below 1000), unpadded; one past them.
inline char* PutBelow1000(char* o, unsigned v) {
    if (v >= 100) {
        memcpy(o, kZeroPadded3.at[v], 3);
        return o + 3;
    }
    if (v >= 10) {
        memcpy(o, kZeroPadded3.at[v] + 1, 2);
        return o + 2;
    }
    *o = static_cast<char>('0' + v);
    return o + 1;
}

inline char* PutDigits(char* o, unsigned long long m, bool hex, bool upper, bool negative, const Conv& c) {
    char digits[24];
    size_t n = 0;
    const char* alphabet = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    if (hex) {
        do {
            digits[sizeof digits - 1 - n++] = alphabet[m & 15u];
            m >>= 4;
        } while (m);
    } else if (c.width == 3 && !c.left && !c.zero && !negative && m < 1000) {
        // A list line's index: one copy from the table.
        memcpy(o, kBlankPadded3.at[m], 3);
        return o + 3;
    } else if (m < 10000000000ull && !c.width) {
        // The common case: no padding, straight into the output.
        if (negative) *o++ = '-';
        return PutDecimal(o, m, DecimalLength(m));
    } else {
        do {
            digits[sizeof digits - 1 - n++] = static_cast<char>('0' + m % 10u);
            m /= 10u;
        } while (m);
    }
    const size_t total = n + (negative ? 1 : 0);
    const size_t w = static_cast<size_t>(c.width);
    const size_t pad = w > total ? w - total : 0;
    if (pad && !c.left && !c.zero) {
        memset(o, ' ', pad);
        o += pad;
    }
    if (negative) *o++ = '-';
    if (pad && !c.left && c.zero) {
        memset(o, '0', pad);
        o += pad;
    }
    memcpy(o, digits + sizeof digits - n, n);
    o += n;
    if (pad && c.left) {
        memset(o, ' ', pad);
        o += pad;
    }
    return o;
}

// "%.3f" of a whole number of 65536ths (as TW_FIX32 values are), rounded to
// nearest with ties to even as the C library rounds, for values whose
// IsFix is true; PutFix3 writes at most kFixBound bytes.
constexpr size_t kFixBound = 24;
inline bool IsFix(double v) {
    const double t = v * 65536.0;  // exact: a power of two
    return t <= 1e12 && t >= -1e12 && t == static_cast<double>(static_cast<long long>(t));
}
// The same from the value in 65536ths (negative: a "-" even for zero).
__attribute__((always_inline)) inline char* PutFix3Units(char* o, unsigned long long n, bool negative) {
    // v * 1000 = n * 1000 / 65536 = n * 125 / 8192
    const unsigned long long q = n * 125u;
    unsigned long long thousandths = q >> 13;
    const unsigned rest = static_cast<unsigned>(q & 8191u);
    if (rest > 4096u || (rest == 4096u && (thousandths & 1u))) ++thousandths;
    const unsigned long long whole = thousandths / 1000u;  // below 10^10: n is below 2^41
    const unsigned frac = static_cast<unsigned>(thousandths - whole * 1000u);
    if (negative) *o++ = '-';
    o = whole < 1000u ? PutBelow1000(o, static_cast<unsigned>(whole)) : PutDecimal(o, whole, DecimalLength(whole));
    o[0] = '.';
    memcpy(o + 1, kZeroPadded3.at[frac], 3);
    return o + 4;
}
__attribute__((always_inline)) inline char* PutFix3(char* o, double v) {
    const double scaled = v * 65536.0;  // exact: a power of two
    long long t = 0;
    if (scaled < 1e12 && scaled > -1e12) {  // false for a NaN
        t = static_cast<long long>(scaled);
        // A value between two 65536ths (none of the trace's) to the nearest.
        if (static_cast<double>(t) != scaled) t = std::llround(scaled);
    }
    const bool negative = t < 0 || (t == 0 && std::signbit(v));
    return PutFix3Units(o, negative ? 0ull - static_cast<unsigned long long>(t) : static_cast<unsigned long long>(t),
                        negative);
}

// What a conversion of an argument of type T needs before it is written.
template <class T>
struct Arg {
    explicit Arg(T v) : value(v) {}
    T value;
    const char* text = nullptr;  // a "%s" text as it is written
    size_t length = 0;           // its length
};

template <size_t I, class F, class T>
inline bool Measure(Arg<T>& a, size_t& bound) {
    constexpr Conv c = Parsed<F>::value.pieces[I].conv;
    if constexpr (c.letter == 's') {
        const char* s = a.value;
        size_t n;
        if (!s) {
            // As the C library does: "(null)", or nothing when the precision
            // leaves no room for it.
            s = c.precision < 0 || c.precision >= 6 ? "(null)" : "";
        }
        a.text = s;
        if constexpr (c.precision >= 0)
            n = strnlen(s, static_cast<size_t>(c.precision));
        else
            n = strlen(s);
        a.length = n;
        bound += n > static_cast<size_t>(c.width) ? n : static_cast<size_t>(c.width);
    } else if constexpr (c.letter == 'f') {
        bound += kFixBound;
    } else if constexpr (c.letter == 'c') {
        bound += 1 + static_cast<size_t>(c.width);
    } else {
        bound += kNumberBound + static_cast<size_t>(c.width);
    }
    return true;
}

// The conversion I of F of its value, without the plain text before it.
template <size_t I, class F, class T>
inline char* PutValue(char* o, const Arg<T>& a) {
    constexpr Conv c = Parsed<F>::value.pieces[I].conv;
    if constexpr (c.letter == 's') {
        const size_t w = static_cast<size_t>(c.width);
        const size_t pad = w > a.length ? w - a.length : 0;
        if (!c.left && pad) o = static_cast<char*>(memset(o, ' ', pad)) + pad;
        memcpy(o, a.text, a.length);
        o += a.length;
        if (c.left && pad) o = static_cast<char*>(memset(o, ' ', pad)) + pad;
    } else if constexpr (c.letter == 'f') {
        o = PutFix3(o, static_cast<double>(a.value));
    } else if constexpr (c.letter == 'c') {
        const size_t pad = static_cast<size_t>(c.width) > 1 ? static_cast<size_t>(c.width) - 1 : 0;
        if (!c.left && pad) o = static_cast<char*>(memset(o, ' ', pad)) + pad;
        *o++ = static_cast<char>(static_cast<int>(a.value));
        if (c.left && pad) o = static_cast<char*>(memset(o, ' ', pad)) + pad;
    } else if constexpr (c.letter == 'd' || c.letter == 'i') {
        // The argument as printf takes it after the default promotions.
        long long v;
        if constexpr (c.longs == 2) v = static_cast<long long>(a.value);
        else if constexpr (c.longs == 1) v = static_cast<long>(a.value);
        else v = static_cast<int>(a.value);
        const bool negative = v < 0;
        const unsigned long long m =
            negative ? 0ull - static_cast<unsigned long long>(v) : static_cast<unsigned long long>(v);
        o = PutDigits(o, m, false, false, negative, c);
    } else {
        unsigned long long v;
        if constexpr (c.longs == 2) v = static_cast<unsigned long long>(a.value);
        else if constexpr (c.longs == 1) v = static_cast<unsigned long>(a.value);
        else v = static_cast<unsigned>(a.value);
        o = PutDigits(o, v, c.letter != 'u', c.letter == 'X', false, c);
    }
    return o;
}

// The plain text before conversion I of F, then the conversion.
template <size_t I, class F, class T>
inline char* Put(char* o, const Arg<T>& a) {
    constexpr auto& compiled = Parsed<F>::value;
    constexpr size_t plain = compiled.pieces[I].length;
    if constexpr (plain > 0) {
        memcpy(o, compiled.text + compiled.pieces[I].begin, plain);
        o += plain;
    }
    return PutValue<I, F>(o, a);
}

// Renders the format F with its arguments into `out` when the whole text
// fits in `room` bytes: its length, else SIZE_MAX (nothing is then written
// that counts).
template <class F, class... A, size_t... I>
inline size_t Render(char* out, size_t room, std::index_sequence<I...>, Arg<A>... args) {
    constexpr auto& compiled = Parsed<F>::value;
    size_t bound = compiled.plain;
    if (!(Measure<I, F>(args, bound) && ...)) return SIZE_MAX;
    if (bound > room) return SIZE_MAX;
    char* o = out;
    ((o = Put<I, F>(o, args)), ...);
    if constexpr (compiled.tailLength > 0) {
        memcpy(o, compiled.text + compiled.tailBegin, compiled.tailLength);
        o += compiled.tailLength;
    }
    return static_cast<size_t>(o - out);
}

// Appends the format F with its values to `out` piece by piece, each cut
// at the buffer's end: the way of a line that may not fit.
template <size_t I, class F, class T>
inline void PutBounded(TextOut& out, const Arg<T>& a) {
    constexpr auto& compiled = Parsed<F>::value;
    constexpr Conv c = compiled.pieces[I].conv;
    out.Append(compiled.text + compiled.pieces[I].begin, compiled.pieces[I].length);
    if constexpr (c.letter == 's') {
        const size_t w = static_cast<size_t>(c.width);
        const size_t pad = w > a.length ? w - a.length : 0;
        for (size_t i = 0; !c.left && i < pad; ++i) out.Append(" ", 1);
        out.Append(a.text, a.length);
        for (size_t i = 0; c.left && i < pad; ++i) out.Append(" ", 1);
    } else {
        // The conversion alone, without the plain text before it.
        char one[kNumberBound + kFixBound + static_cast<size_t>(c.width) + 1];
        out.Append(one, static_cast<size_t>(PutValue<I, F>(one, a) - one));
    }
}

template <class F, class... A, size_t... I>
inline void RenderBounded(TextOut& out, std::index_sequence<I...>, Arg<A>... args) {
    constexpr auto& compiled = Parsed<F>::value;
    // Measuring sets each "%s" argument's text and length; the bound itself
    // is not needed when every piece is cut to the room left.
    [[maybe_unused]] size_t bound = 0;
    (Measure<I, F>(args, bound), ...);
    (PutBounded<I, F>(out, args), ...);
    out.Append(compiled.text + compiled.tailBegin, compiled.tailLength);
}

// Checked by the compiler as printf formats, in sizeof only: never called.
int CheckFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace detail

template <class F, class... A>
inline void TextOut::Put(F, size_t, A... args) {
    constexpr auto& compiled = detail::Parsed<F>::value;
    static_assert(compiled.ok, "a conversion outside the renderer's vocabulary");
    static_assert(compiled.count == sizeof...(A), "one value per conversion");
    if (!m_out) return;
    const size_t n = detail::Render<F>(End(), Room(), std::index_sequence_for<A...>{}, detail::Arg<A>(args)...);
    if (n != SIZE_MAX) {
        Advance(n);
        return;
    }
    detail::RenderBounded<F>(*this, std::index_sequence_for<A...>{}, detail::Arg<A>(args)...);
}

// The text of a format and its values into `out` (`size` bytes with the
// NUL), cut to fit; its length. Use TRACE_FORMAT_TO.
template <class F, class... A>
inline size_t FormatTo(char* out, size_t size, F format, size_t checked, A... args) {
    if (!out || !size) return 0;
    out[0] = '\0';
    TextOut text;
    text.Reset(out, size - 1);
    text.Put(format, checked, args...);
    return text.Length();
}

}  // namespace render
}  // namespace tracelet

// The format literal as a type that carries it.
#define TRACELET_FORMAT(literal)                                                  \
    [] {                                                                          \
        struct Format {                                                           \
            static constexpr decltype(auto) Get() { return (literal); }           \
        };                                                                        \
        return Format{};                                                          \
    }()

#define TRACELET_CHECKED(format, ...) sizeof(::tracelet::render::detail::CheckFormat(format, ##__VA_ARGS__))

// Appends a format and its values to a TextOut.
#define TRACE_APPEND(out, format, ...) \
    (out).Put(TRACELET_FORMAT(format), TRACELET_CHECKED(format, ##__VA_ARGS__), ##__VA_ARGS__)

// The text of a format and its values into a buffer of `size` bytes; its length.
#define TRACE_FORMAT_TO(buffer, size, format, ...)                                                              \
    ::tracelet::render::FormatTo(buffer, size, TRACELET_FORMAT(format), TRACELET_CHECKED(format, ##__VA_ARGS__), \
                                 ##__VA_ARGS__)

#endif  // TRACELET_RENDER_FORMAT_H
