// CTwainLog: levelled, time-stamped messages written into the trace log.
//
// One instance lives while the log is set up (created by setupTwainLog,
// deleted by cleanupTwainLog). It has no state of its own: every operation
// writes through the process-wide log file g_pLogFile and writes nothing
// while no log file is open. The triplet trace does not go through it.
//
// A message is one prefix and one text:
//   [2024/01/31 09:45:02.008] INFO from "Scanner" opened 3\n
//   [2024/01/31 09:45:02.008] INFO from "Scanner" (File: Dev.cpp<33 blanks>, Line:   42) opened 3\n
// Lines end with "\n" only, unlike the CR LF of the triplet trace.
#ifndef TRACELET_TWAINLOG_H
#define TRACELET_TWAINLOG_H

#include <stdarg.h>
#include <stddef.h>

#include <string>

namespace ENUM_LOG_LEVEL_TW {
// Any int is a valid value; those outside 1 to 4 have the empty name.
enum enumLogLevel_tw : int {
    LOG_LEVEL_TRACE = 1,
    LOG_LEVEL_INFO = 2,
    LOG_LEVEL_WARNING = 3,
    LOG_LEVEL_ERROR = 4,
};
}  // namespace ENUM_LOG_LEVEL_TW

class CTwainLog {
public:
    // At most this many vsnprintf attempts per FormatString; see there.
    static constexpr int kMaxFormatAttempts = 12;
    // The first attempt's buffer, in characters.
    static constexpr size_t kFirstFormatSize = 100;

    virtual ~CTwainLog();

    // Writes the prefix (time stamp, level name, component, and the base
    // name of `file` with `line` when `file` is not null), then the text of
    // `format` and its arguments, with "\n" added unless the text is empty
    // or already ends with one. A null `format` gives an empty text: only
    // the prefix is written. A null `component` prints as an empty name.
    //
    // The calling thread's character-classification locale is "jpn" while
    // the text is formatted and written (when the platform knows that name)
    // and is put back to what it was before on return; the process's locale
    // and the host's other threads never see the change.
    void Message(ENUM_LOG_LEVEL_TW::enumLogLevel_tw level, const char* component, const char* file,
                 int line, const char* format, ...) const __attribute__((format(printf, 6, 7)));

    // Writes the text's bytes to the log file and flushes it; nothing when
    // no log file is open or the text is null.
    void OutputDebugString(const char* text) const;

    // Local time "YYYY/MM/DD hh:mm:ss.mmm" from the platform clock: whole
    // seconds and the microseconds of the second are two separate readings;
    // the milliseconds are rounded to the nearest, halves up (0 to 1000, so
    // 1000 prints with four digits).
    std::string GetHeader() const;

    // "TRACE", "INFO", "WARNING", "ERROR" for 1 to 4; "" for anything else.
    std::string GetLevelName(ENUM_LOG_LEVEL_TW::enumLogLevel_tw level) const;

    // The text of `format` and `args` (left untouched: each attempt works on
    // its own copy). A null format gives "". The first attempt formats into
    // kFirstFormatSize characters; a text that does not fit is formatted
    // again into exactly its length plus one; a failed attempt (a negative
    // result) doubles the buffer. After kMaxFormatAttempts attempts without
    // a whole text, or when memory runs out, the result is "".
    std::string FormatString(const char* format, va_list args) const;
};

#endif  // TRACELET_TWAINLOG_H
