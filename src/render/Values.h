// The value helpers: one per kind of value the log prints, each turning a
// field of a copied structure into what its conversion in the log's format
// takes. A formatter is a list of its lines, each naming the kind of each
// value:
//
//   decimal          "%d"     Signed(v): the field's bits as a signed number of its width
//   unsigned         "%lu"    Unsigned(v)
//   handle           "<0x%08x>"  Handle(v): the low 32 bits of a handle or pointer
//   TW_FIX32         "%.3f"   Fix(v)
//   name from a table "%s"    Name(table, v).c_str(): the row's name, else ERROR!(n)
//   boolean          "%s"     Bool(v): "true" or "false"
//   text             "%s"     Text(field).c_str(): up to its NUL, never past its width
//
// (Flags are named by their bits where they are printed, TW_CAPEXT, through
// the same renderer.)
// Fields that print as the C types they are ("%d" of a TW_UINT16) need no
// helper. The copy itself: CopyIn.
#ifndef TRACELET_RENDER_VALUES_H
#define TRACELET_RENDER_VALUES_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <type_traits>

#include "tables/twaintbl.h"
#include "tracelet/twain.h"

// Size of the name buffer every lookup writes into.
constexpr size_t kNameSize = 64;

// The line end of the trace, the last "%s" of a line.
extern const char* const CRLF;

// Copy a structure out of memory the trace does not own, whatever its
// alignment; formatters print from the copy.
template <class T>
inline T CopyIn(const void* p) {
    T v;
    memcpy(&v, p, sizeof v);
    return v;
}

// --- decimal and unsigned ---------------------------------------------------
template <class T>
inline int Signed(T v) {
    static_assert(std::is_integral<T>::value && sizeof(T) <= 4, "a TWAIN integer");
    return static_cast<int>(static_cast<std::make_signed_t<T>>(v));
}
inline unsigned long Unsigned(TW_UINT32 v) { return v; }

// --- handle -------------------------------------------------------------------
inline unsigned int Handle(const void* p) {
    return static_cast<unsigned int>(reinterpret_cast<uintptr_t>(p) & 0xFFFFFFFFu);
}
inline unsigned int Handle(uintptr_t v) { return static_cast<unsigned int>(v & 0xFFFFFFFFu); }
template <class R, class... A>
inline unsigned int Handle(R (*f)(A...)) {
    return Handle(reinterpret_cast<uintptr_t>(f));
}

// --- TW_FIX32 -----------------------------------------------------------------
// Whole + Frac / 65536, exact in a double (the one conversion the tools use too).
inline double Fix(const TW_FIX32& f) { return TwainFix32Value(f); }
// The same from the raw little-endian 32-bit word (low half Whole, high half Frac).
inline double FixOfWord(uint32_t word) { return TwainFix32Value(TwainFix32OfWord(word)); }

// --- name from a table ----------------------------------------------------------
// The name of a value: the row's own text, or "ERROR!(n)" made for a miss.
class NameText {
public:
    NameText(const TwNameRow* table, size_t rows, uint64_t value);
    const char* c_str() const { return m_row ? m_row : m_miss; }

private:
    const char* m_row = nullptr;
    char m_miss[kNameSize];
};
template <size_t N>
inline NameText Name(const TwNameRow (&table)[N], uint64_t value) {
    return NameText(table, N, value);
}
// Name of `value` in a name table of `rows` rows (ERROR! row included) into
// `out` (at least 64 bytes): the first row that holds it, else "ERROR!(n)".
void ValToName(const TwNameRow* table, size_t rows, uint64_t value, char* out);
// The same without the ERROR! text: false (and `out` untouched) on a miss.
bool FindName(const TwNameRow* table, size_t rows, uint64_t value, char* out);
template <size_t N>
inline void ValToName(const TwNameRow (&table)[N], uint64_t value, char* out) {
    ValToName(table, N, value, out);
}
// Name of a capability id: its CAP name, else its ICAP name, else ERROR!(n).
void CapToName(TW_UINT16 cap, char* out);

// --- boolean ------------------------------------------------------------------
inline const char* Bool(unsigned v) { return v ? "true" : "false"; }

// --- text ---------------------------------------------------------------------
// Text of a fixed-width TWAIN text field (TW_STR32, TW_STR255 ...): up to its
// NUL and never past its declared width, always NUL-terminated here.
template <size_t N>
struct FieldText {
    char s[N + 1];
    explicit FieldText(const char (&field)[N]) {
        size_t n = strnlen(field, N);
        memcpy(s, field, n);
        s[n] = '\0';
    }
    FieldText(const char* field, size_t width) {
        size_t n = width < N ? width : N;
        n = field ? strnlen(field, n) : 0;
        if (n) memcpy(s, field, n);
        s[n] = '\0';
    }
    const char* c_str() const { return s; }
};
template <size_t N>
inline FieldText<N> Text(const char (&field)[N]) {
    return FieldText<N>(field);
}

#endif  // TRACELET_RENDER_VALUES_H
