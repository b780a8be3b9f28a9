#include "trace/session.hpp"

#include <filesystem>

#include "trace/reader.hpp"
#include "tracelet/twain.h"
#include "trace/text.hpp"

namespace tracelet::trace {

void Session::file(int index, const std::string& name) {
    if (static_cast<std::size_t>(index) >= files.size()) files.resize(static_cast<std::size_t>(index) + 1);
    files[static_cast<std::size_t>(index)] = std::filesystem::path(name).filename().string();
}

void Session::call(Call&& c) {
    steps.push_back(tracker_.step(c));
    calls.push_back(std::move(c));
}

Session Session::load(const std::vector<std::string>& paths, ParseOptions options) {
    Session s;
    read_session(session_files(paths), s, options);
    return s;
}

Session Session::from_text(std::string_view text, ParseOptions options) {
    Session s;
    Parser::parse_text(text, s, options);
    return s;
}

namespace {

// "Twainlog_20261207_233753_0515.txt" -> "2026-12-07 23:37:53".
std::string load_time(const std::string& file_name) {
    if (!is_log_file_name(file_name)) return "";
    const std::string d = file_name.substr(9, 8), t = file_name.substr(18, 6);
    return d.substr(0, 4) + "-" + d.substr(4, 2) + "-" + d.substr(6, 2) + " " + t.substr(0, 2) + ":" + t.substr(2, 2) +
           ":" + t.substr(4, 2);
}

std::string product_name(const Session& s) {
    for (const Call& c : s.calls) {
        if (!c.has_result || c.failed() || c.dat_value() != DAT_IDENTITY) continue;
        const Field* name = nullptr;
        if (const Node* id = c.block("TW_IDENTITY")) name = id->field("ProductName");
        if (name && !name->raw.empty()) return name->raw;
    }
    return "";
}

std::string counted(std::size_t n, const char* what) {
    return std::to_string(n) + " " + what + (n == 1 ? "" : "s");
}

}  // namespace

std::string session_title(const Session& s) {
    std::string title = product_name(s);
    const std::size_t first_file = s.calls.empty() ? 0 : static_cast<std::size_t>(s.calls.front().file);
    const std::string time = first_file < s.files.size() ? load_time(s.files[first_file]) : "";
    if (!time.empty()) title += (title.empty() ? "" : ", ") + time;
    if (title.empty()) title = "TWAIN session";
    const std::size_t loads = s.calls.empty() ? 0 : static_cast<std::size_t>(s.calls.back().load) + 1;
    return title + " (" + counted(s.files.size(), "file") + ", " + counted(loads, "load") + ")";
}

namespace {

const Node* container_of(const Node* cap) {
    if (!cap) return nullptr;
    for (const Field& f : cap->fields)
        if (f.node && starts_with(f.node->type, "TW_")) return f.node.get();
    return nullptr;
}

}  // namespace

std::string container_type(const Node* capability) {
    if (!capability) return "";
    const Field* t = capability->field("ConType");
    return t ? t->raw : "";
}

std::string capability_value(const Node* capability) {
    const Node* c = container_of(capability);
    if (!c) return "";
    auto raw = [c](std::string_view name) -> std::string {
        const Field* f = c->field(name);
        return f ? f->raw : "";
    };
    const Node* list = c->child("ItemList");
    if (c->type == "TW_ONEVALUE") return raw("Item");
    if (c->type == "TW_RANGE")
        return raw("CurrentValue") + " (range " + raw("MinValue") + ".." + raw("MaxValue") + " step " + raw("StepSize") + ")";
    if (c->type == "TW_ENUMERATION") {
        long long idx = -1;
        std::string cur = "?";
        if (list && parse_int(raw("CurrentIndex"), idx) && idx >= 0 && static_cast<std::size_t>(idx) < list->items.size())
            cur = list->items[static_cast<std::size_t>(idx)];
        return cur + " (of " + std::to_string(list ? list->items.size() : 0) + ")";
    }
    if (c->type == "TW_ARRAY" && list) {
        std::string s;
        for (std::size_t i = 0; i < list->items.size(); ++i) {
            if (i) s += ", ";
            if (s.size() > 60) {
                s += "... (" + std::to_string(list->items.size()) + " items)";
                break;
            }
            s += list->items[i];
        }
        return "{" + s + "}";
    }
    return "";
}

std::string short_text(const Node& n) {
    std::string s;
    for (const Field& f : n.fields) {
        if (!s.empty()) s += ", ";
        if (f.node)
            s += f.name + "={" + short_text(*f.node) + "}";
        else
            s += f.name + "=" + f.raw;
    }
    if (n.item_list) {
        for (std::size_t i = 0; i < n.items.size(); ++i) s += (i ? "," : "") + n.items[i];
    }
    return s;
}

}  // namespace tracelet::trace
