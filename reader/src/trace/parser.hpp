// Streaming reader of the trace log text.
//
// Feed it the bytes of one log file after another, in any chunk size; it hands
// each call to the sink as soon as the call's last line has been read, so only
// one call is held at a time.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "trace/model.hpp"

namespace tracelet::trace {

struct ParseOptions {
    bool keep_text = false;  // fill Call::text with the call's own lines
};

class Parser {
public:
    explicit Parser(Sink& sink, ParseOptions options = {});

    void begin_file(int index, const std::string& name);
    void feed(std::string_view bytes);
    void end_file();

    // Convenience for tests and small inputs: one file, all at once.
    static void parse_text(std::string_view text, Sink& sink, ParseOptions options = {});

private:
    void raw_line(std::string_view l, bool terminated);
    void line(std::string_view l, bool cut);
    void overflow();
    void triplet_line(std::string_view l);
    void logger_line(std::string_view l);
    void result_line(std::string_view rc);
    void dump_line(std::string_view l, int depth_of_call);
    bool lying_note(std::string_view rest);
    void header(std::string_view name, int indent);
    void close_node();
    void close_all();
    void start_call();
    void flush();
    void problem(std::string what, std::string_view text);
    void unknown(std::string what, std::string_view text);
    bool starts_trace_text(std::string_view l) const;
    void flush_message();

    Sink& sink_;
    ParseOptions opt_;
    int file_ = 0;
    std::size_t line_no_ = 0;
    std::string carry_;
    bool have_call_ = false;
    Call cur_;
    std::vector<Node*> stack_;
    bool blank_seen_ = false;
    bool label_before_ = false;  // the line before was a member label ("    Version         =")
    bool marker_open_ = false;
    long long last_seq_ = 0;
    int load_ = -1;           // loads of the source seen so far, from 0
    bool load_open_ = false;  // the current file's load has had a call
    std::optional<Message> message_;  // held while its text may go on over more lines
};

}  // namespace tracelet::trace
