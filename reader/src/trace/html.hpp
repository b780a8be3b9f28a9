// "html": one self-contained page for a person to read a session in a browser.
#pragma once

#include <ostream>
#include <string>

#include "trace/record.hpp"
#include "trace/session.hpp"

namespace tracelet::trace {

std::string html_escape(std::string_view s);
// A JSON string literal that can stand inside a <script> element.
std::string script_json_string(std::string_view s);

// With the session's flight records, the page also places the calls on a
// time axis (`now_ns`: this machine's monotonic clock, for a host that still runs).
void write_html(const Session& s, std::ostream& out, const std::string& title, const SessionTimes* times = nullptr,
                int64_t now_ns = 0);

}  // namespace tracelet::trace
