// The log text of a call as it is composed: a bounded buffer that text is
// appended to. An append that does not fit is cut at the buffer's end, and
// the buffer remembers that text was dropped (the caller then writes the
// overflow note). Formatted lines are appended with TRACE_APPEND (Format.h).
#ifndef TRACELET_RENDER_TEXTOUT_H
#define TRACELET_RENDER_TEXTOUT_H

#include <stddef.h>
#include <string.h>

namespace tracelet {
namespace render {

class TextOut {
public:
    constexpr TextOut() = default;

    // Points at a buffer of `size` + 1 bytes holding a NUL-terminated text
    // (usually empty) that further text is appended to; null: no output.
    void Reset(char* buffer, size_t size) {
        m_out = buffer;
        m_size = buffer ? size : 0;
        m_len = buffer ? strnlen(buffer, size) : 0;
        if (buffer) buffer[m_len] = '\0';
        m_cut = false;
    }
    // Appends `length` bytes of text (holding no NUL), or as many as fit.
    void Append(const char* text, size_t length) {
        if (!text || !length || !m_out) return;
        size_t n = length;
        if (n > m_size - m_len) {
            n = m_size - m_len;
            m_cut = true;
        }
        memcpy(m_out + m_len, text, n);
        m_len += n;
        m_out[m_len] = '\0';
    }
    // Appends a NUL-terminated text, or as much of it as fits.
    void Append(const char* text) {
        if (!text || !m_out) return;
        Append(text, strnlen(text, m_size - m_len + 1));
    }

    // Appends a format and its values (Format.h; use TRACE_APPEND).
    template <class F, class... A>
    void Put(F, size_t, A... args);

    // Direct composition: the room left at End(), then Advance over what
    // was written there (at most the room).
    char* End() const { return m_out + m_len; }
    size_t Room() const { return m_size - m_len; }
    void Advance(size_t n) {
        m_len += n;
        m_out[m_len] = '\0';
    }
    void MarkCut() { m_cut = true; }

    bool HasBuffer() const { return m_out != nullptr; }
    // True when an append had to drop text because the buffer was full.
    bool Cut() const { return m_cut; }
    // True when no further byte fits.
    bool Full() const { return m_len >= m_size; }
    size_t Length() const { return m_len; }

private:
    char* m_out = nullptr;
    size_t m_size = 0;  // text bytes the buffer holds
    size_t m_len = 0;   // text bytes in it now
    bool m_cut = false;
};

}  // namespace render
}  // namespace tracelet

#endif  // TRACELET_RENDER_TEXTOUT_H
