// Small text helpers shared by the reader and the reports.
#pragma once

#include <charconv>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace tracelet::trace {

inline bool starts_with(std::string_view s, std::string_view p) {
    return s.size() >= p.size() && s.compare(0, p.size(), p) == 0;
}

inline std::string_view trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

// Whole text must be a decimal integer, optionally negative.
inline bool parse_int(std::string_view s, long long& out) {
    if (s.empty()) return false;
    const char* b = s.data();
    const char* e = b + s.size();
    auto r = std::from_chars(b, e, out);
    return r.ec == std::errc() && r.ptr == e;
}

// "0x1f" and the like.
inline bool parse_hex(std::string_view s, long long& out) {
    if (s.size() < 3 || s[0] != '0' || (s[1] != 'x' && s[1] != 'X')) return false;
    unsigned long long v = 0;
    const char* b = s.data() + 2;
    const char* e = s.data() + s.size();
    auto r = std::from_chars(b, e, v, 16);
    if (r.ec != std::errc() || r.ptr != e) return false;
    out = static_cast<long long>(v);
    return true;
}

// "-0.500", "300.000": digits, one point, digits.
inline bool parse_real(std::string_view s, double& out) {
    std::size_t i = 0;
    if (i < s.size() && s[i] == '-') ++i;
    std::size_t digits = 0, point = 0;
    for (; i < s.size(); ++i) {
        if (s[i] >= '0' && s[i] <= '9')
            ++digits;
        else if (s[i] == '.' && point == 0)
            ++point;
        else
            return false;
    }
    if (digits == 0 || point != 1) return false;
    auto r = std::from_chars(s.data(), s.data() + s.size(), out);
    return r.ec == std::errc();
}

inline std::vector<std::string_view> split(std::string_view s, char sep) {
    std::vector<std::string_view> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t p = s.find(sep, start);
        parts.push_back(s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start));
        if (p == std::string_view::npos) break;
        start = p + 1;
    }
    return parts;
}

inline std::string fmt_seq(long long seq) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%05lld", seq);
    return buf;
}

}  // namespace tracelet::trace
