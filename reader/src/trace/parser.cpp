#include "trace/parser.hpp"

#include <cstdio>
#include <cstring>

#include "trace/names.hpp"
#include "trace/text.hpp"
#include "tracelet/logmodel.h"

namespace tracelet::trace {

namespace {

using logmodel::kDuringPrefix;
using logmodel::kMarkerEnd;
using logmodel::kMarkerStart;
using logmodel::kOverflowNote;
using logmodel::kPDataPrefix;
using logmodel::kResultPrefix;
using logmodel::kStatePrefix;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// --- Node and Call helpers ----------------------------------------------------

const Field* Node::field(std::string_view name) const {
    for (const Field& f : fields)
        if (f.name == name) return &f;
    return nullptr;
}

const Node* Node::child(std::string_view name) const {
    for (const Field& f : fields)
        if (f.node && (f.name == name || f.node->type == name)) return f.node.get();
    return nullptr;
}

const Node* Call::block(std::string_view type) const {
    for (const Node& n : blocks)
        if (n.type == type) return &n;
    return nullptr;
}

std::string Call::triplet() const {
    std::string s = dg + "/" + dat + "/" + msg;
    if (has_triplet && dat_value() == DAT_CAPABILITY) s += " (" + cap + ")";
    return s;
}

std::string Call::label() const {
    if (claimed_event()) return "(claimed event) " + triplet();
    return from_source() ? "[DS] " + triplet() : triplet();
}

std::string Call::id() const {
    std::string s;
    if (load > 0) s = std::to_string(load + 1) + ":";
    if (seq >= 0) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%05lld", seq);
        return s + buf;
    }
    char buf[32];
    std::snprintf(buf, sizeof buf, "%05lld+ev", prev_seq);
    return s + buf;
}

// --- Parser -------------------------------------------------------------------

Parser::Parser(Sink& sink, ParseOptions options) : sink_(sink), opt_(options) {}

void Parser::parse_text(std::string_view text, Sink& sink, ParseOptions options) {
    Parser p(sink, options);
    p.begin_file(0, "");
    p.feed(text);
    p.end_file();
}

void Parser::begin_file(int index, const std::string& name) {
    file_ = index;
    line_no_ = 0;
    carry_.clear();
    last_seq_ = 0;
    load_open_ = false;
    sink_.file(index, name);
}

void Parser::feed(std::string_view bytes) {
    const char* p = bytes.data();
    const char* end = p + bytes.size();
    while (p < end) {
        const char* nl = static_cast<const char*>(std::memchr(p, '\n', static_cast<std::size_t>(end - p)));
        if (!nl) {
            carry_.append(p, end);
            return;
        }
        if (!carry_.empty()) {
            carry_.append(p, nl);
            raw_line(carry_, true);
            carry_.clear();
        } else {
            raw_line(std::string_view(p, static_cast<std::size_t>(nl - p)), true);
        }
        p = nl + 1;
    }
}

void Parser::end_file() {
    if (!carry_.empty()) {
        std::string last;
        last.swap(carry_);
        raw_line(last, false);
    }
    flush_message();
    flush();
}

void Parser::flush_message() {
    if (message_) {
        sink_.message(std::move(*message_));
        message_.reset();
    }
}

// The start of a triplet line, a result block, a marker block or a logger line.
bool Parser::starts_trace_text(std::string_view l) const {
    if (starts_with(l, kResultPrefix) || starts_with(l, kDuringPrefix) || starts_with(l, kMarkerStart) || starts_with(l, kMarkerEnd) ||
        starts_with(l, kStatePrefix))
        return true;
    if (l.size() < 3 || l[0] != '[' || !is_digit(l[1])) return false;
    std::size_t i = 1;
    while (i < l.size() && is_digit(l[i])) ++i;
    return i < l.size() && (l[i] == ']' || l[i] == '/');
}

// One physical line. The overflow note has no line end of its own, so the
// text written after it continues on its line: split the line there.
void Parser::raw_line(std::string_view l, bool terminated) {
    ++line_no_;
    for (;;) {
        std::size_t pos = l.find(kOverflowNote);
        if (pos == std::string_view::npos) {
            if (!l.empty() || terminated) line(l, !terminated);
            return;
        }
        std::string_view before = l.substr(0, pos);
        if (have_call_) cur_.overflow = true;
        if (!before.empty()) {
            // The first 5120 bytes of the result text: their last line is
            // whole only when the cut fell just after its CR.
            if (before.back() == '\r')
                line(before, false);
            else
                line(before, true);
        }
        overflow();
        l.remove_prefix(pos + kOverflowNote.size());
        if (l.empty()) return;
    }
}

void Parser::overflow() {
    if (have_call_) {
        cur_.overflow = true;
        if (opt_.keep_text) cur_.text.append(kOverflowNote).push_back('\n');
        close_all();
        problem("result text of " + cur_.id() + " cut at 5120 bytes", kOverflowNote);
    } else {
        problem("overflow note outside a call", kOverflowNote);
    }
}

void Parser::line(std::string_view l, bool cut) {
    bool had_cr = !l.empty() && l.back() == '\r';
    if (had_cr) l.remove_suffix(1);

    if (message_) {
        // The logger ends its lines with LF alone; a message whose text holds
        // line ends goes on over the next lines, which have no CR either.
        if (!had_cr && !cut && !starts_trace_text(l)) {
            message_->text.append("\n").append(l);
            return;
        }
        flush_message();
    }

    if (cut) {
        // A line without its end: the tail of a text cut at 5120 bytes, or the
        // last line of a file whose writer stopped in the middle of it.
        if (have_call_) {
            if (opt_.keep_text) cur_.text.append(l).push_back('\n');
            if (!cur_.overflow) cur_.incomplete = true;
        }
        if (!have_call_ || !cur_.overflow) problem("line cut off", l);
        return;
    }

    if (l.empty()) {
        if (have_call_ && cur_.has_result && !blank_seen_) {
            if (opt_.keep_text) cur_.text.push_back('\n');
            if (!stack_.empty()) {
                cur_.incomplete = true;
                problem("block not closed before the state line", l);
                close_all();
            }
            blank_seen_ = true;
        } else {
            unknown("stray empty line", l);
        }
        return;
    }

    switch (l.front()) {
    case '[':
        if (l.size() > 1 && is_digit(l[1])) {
            std::size_t i = 1;
            while (i < l.size() && is_digit(l[i])) ++i;
            if (i < l.size() && l[i] == ']') {
                triplet_line(l);
                return;
            }
            if (i < l.size() && l[i] == '/') {
                logger_line(l);
                return;
            }
        }
        break;
    case ' ':
        if (starts_with(l, kDuringPrefix) && l.back() == ']' && have_call_ && cur_.has_triplet && !cur_.has_result &&
            cur_.during.empty()) {
            cur_.during = std::string(l.substr(kDuringPrefix.size(), l.size() - kDuringPrefix.size() - 1));
            if (opt_.keep_text) cur_.text.append(l).push_back('\n');
            return;
        }
        if (starts_with(l, kResultPrefix) && l.back() == ']') {
            result_line(l.substr(kResultPrefix.size(), l.size() - kResultPrefix.size() - 1));
            if (opt_.keep_text) cur_.text.append(l).push_back('\n');
            return;
        }
        if (have_call_ && cur_.has_result && !blank_seen_) {
            if (opt_.keep_text) cur_.text.append(l).push_back('\n');
            dump_line(l, 0);
            return;
        }
        break;
    case '}':
        // TW_IMAGEMEMXFER closes its block with a brace at the start of the line.
        if (l == "}" && have_call_ && !stack_.empty()) {
            if (opt_.keep_text) cur_.text.append(l).push_back('\n');
            close_node();
            return;
        }
        break;
    case 'p':
        if (starts_with(l, kPDataPrefix) && l.back() == '>' && have_call_ && cur_.has_result && cur_.pdata.empty()) {
            cur_.pdata = std::string(l.substr(kPDataPrefix.size(), l.size() - kPDataPrefix.size() - 1));
            if (opt_.keep_text) cur_.text.append(l).push_back('\n');
            return;
        }
        break;
    case 'T':
        if (starts_with(l, kStatePrefix) && l.back() == ']') {
            long long v = 0;
            std::string_view num = l.substr(kStatePrefix.size(), l.size() - kStatePrefix.size() - 1);
            if (have_call_ && cur_.has_result && cur_.state_after < 0 && parse_int(num, v)) {
                if (!stack_.empty()) {
                    cur_.incomplete = true;
                    close_all();
                }
                cur_.state_after = static_cast<int>(v);
                blank_seen_ = true;
                if (opt_.keep_text) cur_.text.append(l).push_back('\n');
                return;
            }
            unknown(have_call_ && cur_.has_result ? "bad or repeated state line" : "state line outside a call", l);
            return;
        }
        break;
    case '*':
        if (l == kMarkerStart || l == kMarkerEnd) {
            bool start = l == kMarkerStart;
            if (have_call_ && cur_.has_result && !cur_.error_marker && start != marker_open_) {
                if (!stack_.empty()) close_all();
                blank_seen_ = true;
                marker_open_ = start;
                if (!start) cur_.error_marker = true;
                if (opt_.keep_text) cur_.text.append(l).push_back('\n');
                return;
            }
            unknown("error marker out of place", l);
            return;
        }
        break;
    default:
        break;
    }
    unknown("unknown line", l);
}

// "[00012] [APP] DG_CONTROL/DAT_CAPABILITY/MSG_GET (ICAP_XRESOLUTION)"
void Parser::triplet_line(std::string_view l) {
    std::size_t close = l.find(']');
    long long seq = 0;
    if (!parse_int(l.substr(1, close - 1), seq) || l.size() < close + 3 || l[close + 1] != ' ' || l[close + 2] != '[') {
        unknown("unknown line", l);
        return;
    }
    std::size_t tag_end = l.find("] ", close + 3);
    if (tag_end == std::string_view::npos) {
        unknown("triplet line without names", l);
        return;
    }
    std::string_view names = l.substr(tag_end + 2);
    std::size_t s1 = names.find('/');
    std::size_t s2 = s1 == std::string_view::npos ? s1 : names.find('/', s1 + 1);
    if (s2 == std::string_view::npos) {
        unknown("triplet line without DG/DAT/MSG", l);
        return;
    }
    flush();
    // Numbering starts again at 00001: the source was loaded again and
    // writes to the same file (two loads within one time stamp).
    if (seq == 1 && last_seq_ != 0) {
        load_open_ = false;
        last_seq_ = 0;
    }
    start_call();
    cur_.has_triplet = true;
    cur_.seq = seq;
    cur_.tag = std::string(l.substr(close + 3, tag_end - close - 3));
    cur_.dg = std::string(names.substr(0, s1));
    cur_.dat = std::string(names.substr(s1 + 1, s2 - s1 - 1));
    std::string_view rest = names.substr(s2 + 1);
    std::size_t sp = rest.find(" (");
    if (sp != std::string_view::npos && rest.back() == ')') {
        cur_.msg = std::string(rest.substr(0, sp));
        cur_.cap = std::string(rest.substr(sp + 2, rest.size() - sp - 3));
    } else {
        cur_.msg = std::string(rest);
    }
    if (opt_.keep_text) cur_.text.append(l).push_back('\n');

    if (last_seq_ != 0 && seq != last_seq_ + 1)
        problem("sequence number jumps from " + std::to_string(last_seq_) + " to " + std::to_string(seq), l);
    last_seq_ = seq;
}

// [2024/01/31 09:45:02.008] INFO from "Scanner" (File: Dev.cpp    , Line:   42) opened 3
void Parser::logger_line(std::string_view l) {
    std::size_t close = l.find("] ");
    std::size_t from = close == std::string_view::npos ? close : l.find(" from \"", close);
    std::size_t comp_end = from == std::string_view::npos ? from : l.find("\" ", from + 7);
    if (comp_end == std::string_view::npos) {
        unknown("unknown line", l);
        return;
    }
    Message m;
    m.file = file_;
    m.line = line_no_;
    m.time = std::string(l.substr(1, close - 1));
    m.level = std::string(l.substr(close + 2, from - close - 2));
    m.component = std::string(l.substr(from + 7, comp_end - from - 7));
    std::string_view rest = l.substr(comp_end + 2);
    if (starts_with(rest, "(File: ")) {
        std::size_t ln = rest.find(", Line: ");
        std::size_t pe = ln == std::string_view::npos ? ln : rest.find(") ", ln);
        if (pe != std::string_view::npos) {
            m.source_file = std::string(trim(rest.substr(7, ln - 7)));
            long long v = 0;
            if (parse_int(trim(rest.substr(ln + 8, pe - ln - 8)), v)) m.source_line = static_cast<int>(v);
            rest = rest.substr(pe + 2);
        }
    }
    // A message with no text leaves its prefix without a line end, so the
    // next trace text continues on the same line.
    if (starts_trace_text(rest)) {
        sink_.message(std::move(m));
        line(rest, false);
        return;
    }
    m.text = std::string(rest);
    message_ = std::move(m);
}

void Parser::result_line(std::string_view rc) {
    if (!(have_call_ && cur_.has_triplet && !cur_.has_result)) {
        // No triplet line of its own: an event the source claimed.
        flush();
        start_call();
        cur_.dg = name_of(NameKind::Dg, DG_CONTROL);
        cur_.dat = name_of(NameKind::Dat, DAT_EVENT);
        cur_.msg = name_of(NameKind::Msg, MSG_PROCESSEVENT);
        cur_.prev_seq = last_seq_;
    }
    cur_.has_result = true;
    cur_.rc = std::string(rc);
}

void Parser::dump_line(std::string_view l, int) {
    bool label_before = label_before_;
    label_before_ = false;
    std::size_t indent = 0;
    while (indent < l.size() && l[indent] == ' ') ++indent;
    std::string_view rest = l.substr(indent);
    if (rest.empty()) {
        unknown("blank line in a dump", l);
        return;
    }
    if (rest == "}") {
        if (stack_.empty()) {
            unknown("closing brace without a block", l);
            return;
        }
        close_node();
        return;
    }
    Node* top = stack_.empty() ? nullptr : stack_.back();
    if (top && top->item_list && is_digit(rest.front())) {
        std::size_t colon = rest.find(':');
        if (colon != std::string_view::npos) {
            top->items.emplace_back(rest.substr(colon + 1));
            return;
        }
    }
    std::size_t eq = rest.find('=');
    if (eq == std::string_view::npos) {
        if (lying_note(rest)) return;
        unknown("unknown line in a dump", l);
        return;
    }
    std::string_view name = trim(rest.substr(0, eq));
    std::string_view after = trim(rest.substr(eq + 1));
    if (name.empty()) {
        unknown("member line without a name", l);
        return;
    }
    if (after == "{") {
        label_before_ = label_before;
        header(name, static_cast<int>(indent));
        label_before_ = false;
        return;
    }
    if (!after.empty() && after.front() == '{') {
        if (after.back() == '}') {
            if (starts_with(name, "TW")) {
                // "  TW_PALETTE8 = { it does not display. }"
                header(name, static_cast<int>(indent));
                close_node();
                return;
            }
            if (!top) {
                unknown("value list outside a block", l);
                return;
            }
            top->fields.push_back(Field{std::string(name), std::string(after.substr(1, after.size() - 2)), '{', nullptr});
            return;
        }
        // "    QuantTable[0]   = {    TW_MEMORY = {": a label whose brace is
        // never closed, with the member's block header on the same line.
        if (!top) {
            unknown("label outside a block", l);
            return;
        }
        top->fields.push_back(Field{std::string(name), std::string(), ' ', nullptr});
        label_before_ = true;
        std::string_view inner = after.substr(1);
        std::size_t lead = 0;
        while (lead < inner.size() && inner[lead] == ' ') ++lead;
        std::string_view inner_name = inner.substr(lead);
        std::size_t eq2 = inner_name.find('=');
        if (eq2 != std::string_view::npos && trim(inner_name.substr(eq2 + 1)) == "{") {
            header(trim(inner_name.substr(0, eq2)), static_cast<int>(lead));
            label_before_ = false;
            return;
        }
        label_before_ = false;
        unknown("label followed by something other than a block", l);
        return;
    }
    if (!top) {
        unknown("member line outside a block", l);
        return;
    }
    if (after.empty()) {
        // "    Version         =": the member's own block follows on the next line.
        top->fields.push_back(Field{std::string(name), std::string(), ' ', nullptr});
        label_before_ = true;
        return;
    }
    char open = after.front();
    char close = after.back();
    if (after.size() >= 2 && ((open == '[' && close == ']') || (open == '<' && close == '>'))) {
        top->fields.push_back(Field{std::string(name), std::string(after.substr(1, after.size() - 2)), open, nullptr});
        return;
    }
    unknown("member value without brackets", l);
}

// "!!! NumItems 5 but the container holds 2 items !!!" and its two kin:
// kept with the call.
bool Parser::lying_note(std::string_view rest) {
    constexpr std::string_view open = "!!! ", close = " !!!";
    if (!have_call_ || rest.size() < open.size() + close.size() || !starts_with(rest, open) ||
        rest.substr(rest.size() - close.size()) != close)
        return false;
    std::string_view note = rest.substr(open.size(), rest.size() - open.size() - close.size());
    auto ends_with = [&](std::string_view tail) {
        return note.size() >= tail.size() && note.substr(note.size() - tail.size()) == tail;
    };
    const bool count = starts_with(note, logmodel::kCountNoteStart) && note.find(logmodel::kCountNoteMiddle) != std::string_view::npos;
    const bool header = starts_with(note, logmodel::kShortHeaderNoteStart) && ends_with(logmodel::kShortHeaderNoteEnd);
    const bool no_end = starts_with(note, "item ") && ends_with(logmodel::kNoEndNoteEnd);
    if (!count && !header && !no_end) return false;
    cur_.lying_notes.emplace_back(note);
    return true;
}

void Parser::header(std::string_view name, int indent) {
    auto node = std::make_unique<Node>();
    node->type = std::string(name);
    node->indent = indent;
    node->item_list = name == "ItemList";
    Node* raw = node.get();
    if (stack_.empty()) {
        cur_.blocks.push_back(std::move(*node));
        raw = &cur_.blocks.back();
    } else {
        Node* top = stack_.back();
        if (label_before_ && !top->fields.empty() && top->fields.back().delim == ' ' && !top->fields.back().node)
            top->fields.back().node = std::move(node);  // under the label of the line before
        else
            top->fields.push_back(Field{raw->type, std::string(), ' ', std::move(node)});
    }
    stack_.push_back(raw);
}

void Parser::close_node() {
    Node* n = stack_.back();
    stack_.pop_back();
    n->closed = true;
    // Every item but the last carries a comma.
    if (n->item_list && n->items.size() > 1)
        for (std::size_t i = 0; i + 1 < n->items.size(); ++i)
            if (!n->items[i].empty() && n->items[i].back() == ',') n->items[i].pop_back();
}

void Parser::close_all() {
    while (!stack_.empty()) {
        Node* n = stack_.back();
        close_node();
        n->closed = false;
    }
}

void Parser::start_call() {
    if (!load_open_) {
        ++load_;
        load_open_ = true;
    }
    cur_ = Call();
    cur_.file = file_;
    cur_.load = load_;
    cur_.line = line_no_;
    have_call_ = true;
    blank_seen_ = false;
    marker_open_ = false;
    label_before_ = false;
    stack_.clear();
}

void Parser::flush() {
    if (!have_call_) return;
    std::string missing;
    if (!stack_.empty() && !cur_.overflow) missing = "its structure block is not closed";
    close_all();
    if (!cur_.has_result)
        missing = "it has no result block";
    else if (cur_.overflow)
        ;
    else if (cur_.failed() && !cur_.error_marker)
        missing = "its error marker block is missing";
    else if (!cur_.failed() && cur_.state_after < 0 && missing.empty())
        missing = "it has no state line";
    if (!missing.empty()) {
        cur_.incomplete = true;
        Problem p{cur_.file, cur_.line, "call " + cur_.id() + " stops short: " + missing, cur_.triplet()};
        sink_.problem(std::move(p));
    } else if (cur_.incomplete && !cur_.overflow) {
        Problem p{cur_.file, cur_.line, "call " + cur_.id() + " is damaged", cur_.triplet()};
        sink_.problem(std::move(p));
    }
    have_call_ = false;
    sink_.call(std::move(cur_));
    cur_ = Call();
}

void Parser::problem(std::string what, std::string_view text) {
    constexpr std::size_t kMax = 200;
    Problem p{file_, line_no_, std::move(what), std::string(text.substr(0, kMax))};
    sink_.problem(std::move(p));
}

void Parser::unknown(std::string what, std::string_view text) {
    if (have_call_) {
        ++cur_.unknown_lines;
        if (opt_.keep_text) cur_.text.append(text).push_back('\n');
    }
    problem(std::move(what), text);
}

}  // namespace tracelet::trace
