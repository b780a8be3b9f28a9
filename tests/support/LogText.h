// Building and reading the expected text of trace blocks.
#ifndef TRACELET_TEST_LOGTEXT_H
#define TRACELET_TEST_LOGTEXT_H

#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>

#include <initializer_list>
#include <string>

#include "tracelet/twain.h"

// printf-style formatting into a std::string, for building expected text.
inline std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
inline std::string Format(const char* format, ...) {
    char buffer[8192];
    va_list args;
    va_start(args, format);
    vsnprintf(buffer, sizeof buffer, format, args);
    va_end(args);
    return buffer;
}

// The lines, each with its CR LF.
inline std::string Lines(std::initializer_list<std::string> lines) {
    std::string text;
    for (const std::string& line : lines) text += line + "\r\n";
    return text;
}

// The line of `text` that starts with `prefix`, without its CR LF ("" for none).
inline std::string LineOf(const std::string& text, const std::string& prefix) {
    size_t at = text.find("\r\n" + prefix);
    at = text.compare(0, prefix.size(), prefix) == 0 ? 0 : (at == std::string::npos ? at : at + 2);
    return at == std::string::npos ? "" : text.substr(at, text.find("\r\n", at) - at);
}

// The four lines a capability's block starts with.
inline std::string CapabilityHead(const char* cap, const char* conType, TW_HANDLE h) {
    return Lines({"  TW_CAPABILITY = {", Format("    Cap        = [%s]", cap),
                  Format("    ConType    = [%s]", conType),
                  Format("    hContainer = <0x%08x>", static_cast<unsigned>(reinterpret_cast<uintptr_t>(h)))});
}

inline TW_FIX32 Fix(TW_INT16 whole, TW_UINT16 frac = 0) {
    TW_FIX32 f;
    f.Whole = whole;
    f.Frac = frac;
    return f;
}

#endif  // TRACELET_TEST_LOGTEXT_H
