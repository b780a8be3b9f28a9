// Reads of memory the trace does not own that cannot fault.
//
// A container behind a handle may be shorter than its counts say, and under
// the native layout its size cannot be known. Protection is per page, so a
// byte on a page that already gave a byte cannot fault: a reader takes the
// page of the block's first byte as readable (the block was handed over as
// one), and checks every further page once, before the first read that
// would cross into it, by copying one byte of it through the kernel
// (the platform's readable-memory probe), which reports an unreadable page
// instead of faulting. One check covers the pages the caller expects to
// read (up to 16), so a block pays for one system call at most in the
// common case, and nothing while its reads stay on pages already known.
//
// What a reader knows lives in the reader (on the caller's stack): no heap,
// no shared state but the process-wide note that the system refuses the
// call (a seccomp sandbox), after which reads are bounded as before: by the
// block's size where the layout knows it, else by the log text buffer.
#ifndef TRACELET_FOREIGNREADER_H
#define TRACELET_FOREIGNREADER_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

class ForeignReader {
public:
    // `block`: the first byte of a block the caller was handed; `blockBytes`:
    // the bytes it holds where known, SIZE_MAX where not.
    ForeignReader(const void* block, size_t blockBytes);
    // A reader that takes no page as readable before it checked it, the
    // first one included: for an address found inside a structure (a
    // buffer's pointer, a handle), which nothing vouches for.
    static ForeignReader Unvouched(const void* block, size_t blockBytes);

    // Bytes from `from` on, up to `n`, that may be read: fewer than `n` when
    // the block ends first or a page on the way cannot be read.
    size_t Readable(const void* from, size_t n) {
        const uintptr_t a = reinterpret_cast<uintptr_t>(from);
        if (a >= m_begin && a <= m_known && n <= m_known - a) return n;
        return Check(a, n);
    }
    // The reads to come will likely reach `n` bytes from `from`: a check
    // covers the pages up to there at once (and no further, since checking
    // a page the caller never reads can cost a page fault).
    void Expect(const void* from, size_t n) {
        const uintptr_t a = reinterpret_cast<uintptr_t>(from);
        m_expected = n > UINTPTR_MAX - a ? UINTPTR_MAX : a + n;
    }
    // Copies what Readable allows into `to`; returns the bytes copied.
    size_t Copy(void* to, const void* from, size_t n) {
        const size_t got = Readable(from, n);
        if (got) memcpy(to, from, got);
        return got;
    }
    // True when a read stopped at a page that cannot be read (not at the
    // end of the block).
    bool HitUnreadable() const { return m_cut; }
    // True once for the whole process, for the first reader that found the
    // check refused: that reader's caller writes the note.
    bool TakeRefusalNote() { return m_refused && FirstRefusalNote(); }
    // True when the system refused a check (reads are bounded as before).
    bool Refused() const { return m_refused; }

private:
    size_t Check(uintptr_t a, size_t n);
    static bool FirstRefusalNote();

    uintptr_t m_begin;  // first byte of the block
    uintptr_t m_end;    // one past its last byte (or the top of the address space)
    uintptr_t m_known;  // bytes below this (from m_begin) are known readable
    uintptr_t m_expected = 0;  // how far the reads to come will likely go
    bool m_unreadable = false;  // the page at m_known cannot be read
    bool m_cut = false;         // a read stopped there
    bool m_refused = false;
};

#endif  // TRACELET_FOREIGNREADER_H
