// Keeps a whole session in memory, for the reports that need to look at all
// of it at once (diff, html).
#pragma once

#include <string>
#include <vector>

#include "trace/model.hpp"
#include "trace/parser.hpp"
#include "trace/states.hpp"

namespace tracelet::trace {

struct Session : Sink {
    std::vector<std::string> files;
    std::vector<Call> calls;
    std::vector<SessionStates::Step> steps;  // one per call
    std::vector<Message> messages;
    std::vector<Problem> problems;

    void file(int index, const std::string& name) override;
    void call(Call&& c) override;
    void message(Message&& m) override { messages.push_back(std::move(m)); }
    void problem(Problem&& p) override { problems.push_back(std::move(p)); }

    static Session load(const std::vector<std::string>& paths, ParseOptions options = {true});
    static Session from_text(std::string_view text, ParseOptions options = {true});

private:
    SessionStates tracker_;
};

// What a page or report about the session is called: the source's
// ProductName and the local time of its first load (from the log file's name),
// with the count of files and loads:
//   "TWAIN2 Software Scanner, 2026-12-07 23:37:53 (2 files, 3 loads)"
// Either part is left out when the log does not show it.
std::string session_title(const Session& s);

// The value a capability call shows: the one value, the current item of an
// enumeration or range, or the items of an array.
std::string capability_value(const Node* capability);
std::string container_type(const Node* capability);

// "[ICAP_XRESOLUTION] 300.000" style one-line description of a block's values,
// used where a report needs a short form.
std::string short_text(const Node& n);

}  // namespace tracelet::trace
