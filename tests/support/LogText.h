// Building and reading the expected text of trace blocks.
#ifndef TRACELET_TEST_LOGTEXT_H
#define TRACELET_TEST_LOGTEXT_H

#include <initializer_list>
#include <string>

#include "tracelet/twain.h"

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

inline TW_FIX32 Fix(TW_INT16 whole, TW_UINT16 frac = 0) {
    TW_FIX32 f;
    f.Whole = whole;
    f.Frac = frac;
    return f;
}

#endif  // TRACELET_TEST_LOGTEXT_H
