// JSON Lines export: one object per call, the dumped structures as nested
// objects with typed values.
#pragma once

#include <nlohmann/json.hpp>
#include <ostream>
#include <string>
#include <vector>

#include "trace/model.hpp"
#include "trace/record.hpp"
#include "trace/states.hpp"

namespace tracelet::trace {

using Json = nlohmann::ordered_json;

// A member's text as a JSON value: numbers as numbers (decimal, hexadecimal,
// fixed point), true/false as booleans, lists of numbers as arrays, handles
// and addresses as "0x..." strings, names and texts as strings.
Json typed_value(std::string_view raw, bool text = false);

Json node_json(const Node& n, const Call& c);
Json call_json(const Call& c, const SessionStates::Step& step, const std::string& file_name);

// Adds the call's "start" (local time), "duration_ms" and "thread" from its
// flight record; nothing when the record has no entry for it.
void add_call_times(Json& j, const SessionTimes& times, const Call& c);

// Writes one line per call as the calls arrive; holds nothing but the file
// names. Logger messages are written as {"message": ...} objects when asked.
class JsonLinesWriter : public Sink {
public:
    JsonLinesWriter(std::ostream& out, bool with_messages) : out_(out), messages_(with_messages) {}
    void file(int index, const std::string& name) override;
    void call(Call&& c) override;
    void message(Message&& m) override;
    std::size_t calls() const { return calls_; }
    void set_times(const SessionTimes* times) { times_ = times; }

private:
    void write(const Json& j);
    const SessionTimes* times_ = nullptr;
    std::ostream& out_;
    bool messages_;
    SessionStates tracker_;
    std::vector<std::string> files_;
    std::size_t calls_ = 0;
};

}  // namespace tracelet::trace
