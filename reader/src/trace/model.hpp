// What a trace log holds once it is read: calls with their dumped structures,
// the levelled logger's messages, and the lines that could not be placed.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tracelet::trace {

struct Node;

// One member line of a block, or a nested block hanging under a member label.
//   "    Count = [1]"            name "Count", delim '[', raw "1"
//   "    hParent = <0x00000000>" name "hParent", delim '<', raw "0x00000000"
//   "    BitsPerSamples[] = {8,0,0,0,0,0,0,0}"  delim '{', raw "8,0,0,0,0,0,0,0"
//   "    Memory       =" + "    TW_MEMORY = {" ...  name "Memory", node set
struct Field {
    std::string name;
    std::string raw;
    char delim = '[';
    std::unique_ptr<Node> node;
};

// A structure block ("  TW_CAPABILITY = {" ... "  }") or an item list
// ("      ItemList = {" ... "      }").
struct Node {
    std::string type;
    std::vector<Field> fields;
    std::vector<std::string> items;  // item list entries, index prefix and comma removed
    bool item_list = false;
    bool closed = false;
    int indent = 0;

    const Field* field(std::string_view name) const;
    const Node* child(std::string_view name) const;  // nested block by member label or type
};

// One call of the data source's entry point as the log shows it.
struct Call {
    int file = 0;             // index of the log file in the session, from 0
    int load = 0;             // index of the source's load in the session, from 0
    std::size_t line = 0;     // line of the call's first text in that file, from 1
    long long seq = -1;       // sequence number of the triplet line; -1 when it has none
    long long prev_seq = 0;   // for an event: the number of the triplet line before it
    std::string tag;          // source tag of the triplet line: "APP", or "DS" for the source's own call
    std::string during;       // [DS] block: the application call in flight on its thread ("DG/DAT/MSG")
    std::string dg, dat, msg, cap;
    bool has_triplet = false;
    bool has_result = false;
    std::string rc;           // return code name as printed ("TWRC_SUCCESS", "ERROR!(32769)")
    std::string pdata;        // "0x0bf3a1d0"
    std::vector<Node> blocks; // depth-1 structure blocks, in order
    int state_after = -1;     // "TWAIN Status = [n]"; -1 when the call has no state line
    bool error_marker = false;     // "*** Inspect Error Status Start/End ***" followed
    bool overflow = false;         // result text cut at 5120 bytes ("Size of CAP_xxx too long")
    bool incomplete = false;       // text stops before the call is complete (crash, damage)
    int unknown_lines = 0;         // lines inside the call that could not be read
    std::vector<std::string> lying_notes;  // a container's notes that its counts claim more than its block holds,
                                           // the text between "!!! " and " !!!"
    std::string text;              // the call's log text, LF line ends (only when asked for)

    // A result block with no triplet line: an event the source claimed in
    // DAT_EVENT/MSG_PROCESSEVENT (TWRC_DSEVENT).
    bool claimed_event() const { return has_result && !has_triplet; }
    // The values of the names, whatever name or "ERROR!(n)" text the log
    // printed; -1 for a text no table knows (names.cpp).
    long long dg_value() const;
    long long dat_value() const;
    long long msg_value() const;
    long long cap_value() const;
    long long rc_value() const;
    bool failed() const;  // TWRC_FAILURE
    // A call the source made through the manager's entry (a notification).
    bool from_source() const { return tag == "DS"; }
    // ... sent while the application's MSG_ENABLEDS had not returned yet.
    bool during_enable() const;
    const Node* block(std::string_view type) const;
    std::string triplet() const;  // "DG/DAT/MSG (CAP)" as in the log
    std::string label() const;    // the triplet, "[DS] " or "(claimed event) " in front where it applies
    std::string id() const;       // "00012", "2:00012" in a later load, "00012+ev" for an event after 00012
};

// A line of the levelled logger:
//   [2024/01/31 09:45:02.008] INFO from "Scanner" opened 3
//   [2024/01/31 09:45:02.008] INFO from "Scanner" (File: Dev.cpp   ..., Line:   42) opened 3
struct Message {
    int file = 0;
    std::size_t line = 0;
    std::string time, level, component, source_file;
    int source_line = -1;
    std::string text;
};

// A line that is neither a call's text nor a logger message, or a call that
// stops short. Never fatal: the reader goes on with the next line.
struct Problem {
    int file = 0;
    std::size_t line = 0;
    std::string what;
    std::string text;  // the offending line, cut to a readable length
};

// Receives what the parser reads, in log order (a call is handed over once
// its last line has been seen, so problems inside it come first).
class Sink {
public:
    virtual ~Sink() = default;
    virtual void file(int /*index*/, const std::string& /*name*/) {}
    virtual void call(Call&& c) = 0;
    virtual void message(Message&&) {}
    virtual void problem(Problem&&) {}
};

}  // namespace tracelet::trace
