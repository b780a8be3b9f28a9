#include "trace/json.hpp"

#include <filesystem>

#include "trace/text.hpp"

namespace tracelet::trace {

namespace {

// Members that hold free text, whatever it looks like.
bool is_text_member(std::string_view name) {
    static constexpr std::string_view kText[] = {"Manufacturer", "ProductFamily", "ProductName",   "Info",
                                                 "FileName",     "ModelName",     "ProfileNameFB", "ProfileNameTPU",
                                                 "ROMVersion"};
    for (std::string_view t : kText)
        if (t == name) return true;
    return false;
}

// Members of TW_ONEVALUE and TW_RANGE that hold an item of the container's type.
bool is_item_member(std::string_view name) {
    return name == "Item" || name == "MinValue" || name == "MaxValue" || name == "StepSize" || name == "DefaultValue" ||
           name == "CurrentValue";
}

bool scalar_number(std::string_view s, Json& out) {
    long long i = 0;
    double d = 0;
    if (parse_int(s, i)) {
        out = i;
        return true;
    }
    if (parse_hex(s, i)) {
        out = i;
        return true;
    }
    if (parse_real(s, d)) {
        out = d;
        return true;
    }
    return false;
}

// Items of a container are texts when the container says so.
bool items_are_text(const Node& container, const Call& c) {
    const Field* t = container.field("ItemType");
    if (t && starts_with(t->raw, "TWTY_STR")) return true;
    return c.cap == "CAP_NV_VERSION";  // "1.2" is a version, not a number
}

Json node_json_in(const Node& n, const Call& c, const Node* container) {
    if (n.item_list) {
        Json arr = Json::array();
        bool text = container && items_are_text(*container, c);
        for (const std::string& item : n.items) arr.push_back(typed_value(item, text));
        return arr;
    }
    Json obj = Json::object();
    for (const Field& f : n.fields) {
        if (f.node) {
            obj[f.name] = node_json_in(*f.node, c, &n);
        } else if (f.delim == '<') {
            obj[f.name] = "0x" + std::string(starts_with(f.raw, "0x") ? f.raw.substr(2) : f.raw);
        } else if (f.delim == '{') {
            Json arr = Json::array();
            for (std::string_view part : split(f.raw, ',')) arr.push_back(typed_value(trim(part)));
            obj[f.name] = std::move(arr);
        } else if (f.delim == ' ') {
            obj[f.name] = nullptr;  // a label whose block never came
        } else {
            bool text = is_text_member(f.name) || (is_item_member(f.name) && items_are_text(n, c));
            obj[f.name] = typed_value(f.raw, text);
        }
    }
    return obj;
}

}  // namespace

Json typed_value(std::string_view raw, bool text) {
    if (text) return std::string(raw);
    if (raw == "true") return true;
    if (raw == "false") return false;
    Json v;
    if (scalar_number(raw, v)) return v;
    if (raw.find(',') != std::string_view::npos) {
        Json arr = Json::array();
        for (std::string_view part : split(raw, ',')) {
            Json e;
            if (!scalar_number(part, e)) return std::string(raw);
            arr.push_back(std::move(e));
        }
        return arr;
    }
    return std::string(raw);
}

Json node_json(const Node& n, const Call& c) { return node_json_in(n, c, nullptr); }

Json call_json(const Call& c, const SessionStates::Step& step, const std::string& file_name) {
    Json j = Json::object();
    j["file"] = file_name;
    j["line"] = c.line;
    j["load"] = c.load + 1;
    j["seq"] = c.seq >= 0 ? Json(c.seq) : Json(nullptr);
    j["event"] = c.claimed_event();
    j["source"] = c.from_source();
    j["during"] = c.during.empty() ? Json(nullptr) : Json(c.during);
    j["dg"] = c.dg;
    j["dat"] = c.dat;
    j["msg"] = c.msg;
    j["cap"] = c.dat == "DAT_CAPABILITY" && c.has_triplet ? Json(c.cap) : Json(nullptr);
    j["rc"] = c.has_result ? Json(c.rc) : Json(nullptr);
    j["pData"] = c.has_result ? Json("0x" + (starts_with(c.pdata, "0x") ? c.pdata.substr(2) : c.pdata)) : Json(nullptr);
    j["state_before"] = step.before;
    j["state_after"] = step.after;
    j["state_line"] = c.state_after >= 0 ? Json(c.state_after) : Json(nullptr);
    // The states differ from the log's lines: restored where the log shows no notification.
    j["state_inferred"] = step.inferred || step.corrected;
    j["failed"] = c.failed();
    j["overflow"] = c.overflow;
    j["incomplete"] = c.incomplete;
    Json data = Json::object();
    for (const Node& n : c.blocks) data[n.type] = node_json(n, c);
    j["data"] = std::move(data);
    return j;
}

void JsonLinesWriter::file(int index, const std::string& name) {
    if (static_cast<std::size_t>(index) >= files_.size()) files_.resize(static_cast<std::size_t>(index) + 1);
    files_[static_cast<std::size_t>(index)] = std::filesystem::path(name).filename().string();
}

void JsonLinesWriter::call(Call&& c) {
    SessionStates::Step step = tracker_.step(c);
    const std::string& name = static_cast<std::size_t>(c.file) < files_.size() ? files_[static_cast<std::size_t>(c.file)] : std::string();
    Json j = call_json(c, step, name);
    if (times_) add_call_times(j, *times_, c);
    write(j);
    ++calls_;
}

void JsonLinesWriter::message(Message&& m) {
    if (!messages_) return;
    Json j = Json::object();
    j["file"] = static_cast<std::size_t>(m.file) < files_.size() ? files_[static_cast<std::size_t>(m.file)] : std::string();
    j["line"] = m.line;
    Json msg = Json::object();
    msg["time"] = m.time;
    msg["level"] = m.level;
    msg["component"] = m.component;
    if (!m.source_file.empty()) {
        msg["source_file"] = m.source_file;
        msg["source_line"] = m.source_line;
    }
    msg["text"] = m.text;
    j["message"] = std::move(msg);
    write(j);
}

void JsonLinesWriter::write(const Json& j) {
    // Straight into the stream; bytes that are not UTF-8 (a vendor text in
    // another encoding) are replaced rather than refused.
    nlohmann::detail::serializer<Json> s(nlohmann::detail::output_adapter<char>(out_), ' ',
                                         Json::error_handler_t::replace);
    s.dump(j, false, false, 0);
    out_.put('\n');
}

}  // namespace tracelet::trace
