#include "log/TwainLog.h"

#include <locale.h>
#include <stdio.h>
#include <string.h>
#include <time.h>

#include <boost/format.hpp>
#include <new>
#include <vector>

#include "log/TwainLogFile.h"
#include "platform/Platform.h"

namespace {

const char kPrefix[] = "[%s] %s from \"%s\" ";
const char kPrefixWithFile[] = "[%s] %s from \"%s\" (File: %-40s, Line: %4d) ";
const char kStamp[] = "%04d/%02d/%02d %02d:%02d:%02d.%03d";
const char kMessageLocale[] = "jpn";

// The part of a path after its last "/" or "\", whichever stands later;
// the whole path when it holds neither.
const char* BaseName(const char* path) {
    const char* slash = strrchr(path, '/');
    const char* backslash = strrchr(path, '\\');
    const char* last = slash > backslash ? slash : backslash;
    return last ? last + 1 : path;
}

// Gives the calling thread, for the life of one message, its own locale
// with the character classification of `name`, and puts the thread's
// previous locale back afterwards. The process's locale and every other
// thread's stay as they are. When the platform does not know the name
// nothing changes.
class CtypeLocaleScope {
public:
    explicit CtypeLocaleScope(const char* name) {
        // newlocale consumes its base: a copy of the thread's current locale.
        locale_t base = duplocale(uselocale(static_cast<locale_t>(0)));
        if (!base) return;
        m_locale = newlocale(LC_CTYPE_MASK, name, base);
        if (!m_locale) {
            freelocale(base);
            return;
        }
        m_previous = uselocale(m_locale);
    }
    ~CtypeLocaleScope() {
        if (!m_locale) return;
        uselocale(m_previous);
        freelocale(m_locale);
    }
    CtypeLocaleScope(const CtypeLocaleScope&) = delete;
    CtypeLocaleScope& operator=(const CtypeLocaleScope&) = delete;

private:
    locale_t m_locale = static_cast<locale_t>(0);
    locale_t m_previous = static_cast<locale_t>(0);
};

}  // namespace

CTwainLog::~CTwainLog() {}

void CTwainLog::Message(ENUM_LOG_LEVEL_TW::enumLogLevel_tw level, const char* component,
                        const char* file, int line, const char* format, ...) const {
    // Nothing of a message may escape to the caller, not even a failed
    // allocation: the message is dropped instead.
    try {
        CtypeLocaleScope locale(kMessageLocale);

        const std::string levelName = GetLevelName(level);
        const std::string stamp = GetHeader();
        const char* name = component ? component : "";

        std::string prefix;
        if (!file) {
            prefix = (boost::format(kPrefix) % stamp % levelName % name).str();
        } else {
            prefix = (boost::format(kPrefixWithFile) % stamp % levelName % name % BaseName(file) %
                      line)
                         .str();
        }

        va_list args;
        va_start(args, format);
        std::string text = FormatString(format, args);
        va_end(args);

        if (!text.empty() && text.back() != '\n') text += '\n';

        OutputDebugString(prefix.c_str());
        OutputDebugString(text.c_str());
    } catch (...) {
    }
}

void CTwainLog::OutputDebugString(const char* text) const {
    if (!text) return;
    WriteLogFile(reinterpret_cast<const unsigned char*>(text), strlen(text));
}

std::string CTwainLog::GetHeader() const {
    const time_t seconds = tracelet::platform::CalendarSeconds();
    struct tm local;
    memset(&local, 0, sizeof local);
    tracelet::platform::LocalTime(seconds, &local);
    // A second reading, as the log file's name takes it too.
    const int millis = RoundedMilliseconds(tracelet::platform::MicrosecondsOfSecond());

    char stamp[64];
    snprintf(stamp, sizeof stamp, kStamp, local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
             local.tm_hour, local.tm_min, local.tm_sec, millis);
    return stamp;
}

std::string CTwainLog::GetLevelName(ENUM_LOG_LEVEL_TW::enumLogLevel_tw level) const {
    switch (level) {
        case ENUM_LOG_LEVEL_TW::LOG_LEVEL_TRACE: return "TRACE";
        case ENUM_LOG_LEVEL_TW::LOG_LEVEL_INFO: return "INFO";
        case ENUM_LOG_LEVEL_TW::LOG_LEVEL_WARNING: return "WARNING";
        case ENUM_LOG_LEVEL_TW::LOG_LEVEL_ERROR: return "ERROR";
    }
    return "";
}

std::string CTwainLog::FormatString(const char* format, va_list args) const {
    if (!format) return "";
    try {
        std::vector<char> buffer;
        size_t size = kFirstFormatSize;
        for (int attempt = 0; attempt < kMaxFormatAttempts; ++attempt) {
            buffer.resize(size);
            va_list copy;
            va_copy(copy, args);
            const int n = vsnprintf(buffer.data(), size, format, copy);
            va_end(copy);
            if (n < 0) {
                size *= 2;  // the formatter failed: try a larger buffer
            } else if (static_cast<size_t>(n) >= size) {
                size = static_cast<size_t>(n) + 1;  // exactly the text and its NUL
            } else {
                return std::string(buffer.data(), static_cast<size_t>(n));
            }
        }
    } catch (const std::bad_alloc&) {
    }
    return "";
}
