#include "trace/names.hpp"

#include <string>
#include <unordered_map>

#include "trace/states.hpp"
#include "trace/text.hpp"

namespace tracelet::trace {

extern const char* const kBuiltinNameTables;  // generated from data/name-tables.tsv

namespace {

struct Tables {
    std::unordered_map<std::string_view, int> dat, msg;
    Tables() {
        for (std::string_view line : split(kBuiltinNameTables, '\n')) {
            auto cols = split(trim(line), '\t');
            if (cols.size() < 3 || cols[0].empty() || cols[0].front() == '#') continue;
            long long v = 0;
            if (!parse_int(cols[2], v)) continue;
            auto* map = cols[0] == "dat_macros" || cols[0] == "dat_nv_macros"   ? &dat
                        : cols[0] == "msg_macros" || cols[0] == "msg_nv_macros" ? &msg
                                                                                : nullptr;
            if (map) map->emplace(cols[1], static_cast<int>(v));  // the first row of a name wins
        }
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

int lookup(const std::unordered_map<std::string_view, int>& map, std::string_view name) {
    auto it = map.find(name);
    if (it != map.end()) return it->second;
    long long v = 0;
    if (starts_with(name, "ERROR!(") && name.back() == ')' && parse_int(name.substr(7, name.size() - 8), v))
        return static_cast<int>(static_cast<uint16_t>(v));
    return -1;
}

}  // namespace

int dat_code(std::string_view name) { return lookup(tables().dat, name); }
int msg_code(std::string_view name) { return lookup(tables().msg, name); }

logmodel::CallFacts call_facts(const Call& c) {
    logmodel::CallFacts f;
    int dat = dat_code(c.dat), msg = msg_code(c.msg);
    f.dat = static_cast<uint16_t>(dat < 0 ? 0xFFFF : dat);
    f.msg = static_cast<uint16_t>(msg < 0 ? 0xFFFF : msg);
    if (const Node* ev = c.block("TW_EVENT")) {
        const Field* m = ev->field("TWMessage");
        int em = m ? msg_code(m->raw) : -1;
        f.has_event = em >= 0;
        f.event_msg = static_cast<uint16_t>(em);
    }
    long long count = 0;
    if (int_field(c.block("TW_PENDINGXFERS"), "Count", count)) {
        f.has_count = true;
        f.count = static_cast<uint16_t>(count);
    }
    return f;
}

}  // namespace tracelet::trace
