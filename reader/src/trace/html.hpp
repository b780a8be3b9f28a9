// "html": one self-contained page for a person to read a session in a browser.
#pragma once

#include <ostream>
#include <string>

#include "trace/session.hpp"

namespace tracelet::trace {

std::string html_escape(std::string_view s);
// A JSON string literal that can stand inside a <script> element.
std::string script_json_string(std::string_view s);

void write_html(const Session& s, std::ostream& out, const std::string& title);

}  // namespace tracelet::trace
