#include "Script.h"

#include <exception>
#include <unordered_map>

#include "trace/record.hpp"

namespace tracelet {
namespace playback {

Script ScriptFrom(const trace::FlightRecord& record) {
    Script script;
    std::unordered_map<uint32_t, std::size_t> byId;  // the record's call id -> index in script.calls
    bool ended = false;
    for (std::size_t i = 0; i < record.calls.size(); ++i) {
        const trace::TimedCall& c = record.calls[i];
        if (ended) {
            script.cut += c.from_source ? 0 : 1;
            continue;
        }
        if (c.from_source) {
            const Notice notice{c.dg, c.dat, c.msg};
            const auto inside = c.during_id ? byId.find(c.during_id) : byId.end();
            if (inside != byId.end())
                script.calls[inside->second].inside.push_back(notice);
            else if (!script.calls.empty())
                script.calls.back().after.push_back(notice);
            continue;
        }
        // Nothing recorded says what the source answered to a call that
        // never returned, nor which calls would have followed.
        if (!c.ended() || c.rc < 0) {
            ended = true;
            ++script.cut;
            continue;
        }
        RecordedCall call;
        call.dg = c.dg;
        call.dat = c.dat;
        call.msg = c.msg;
        call.cap = c.cap;
        call.rc = static_cast<uint16_t>(c.rc);
        byId[c.id] = script.calls.size();
        script.calls.push_back(call);
    }
    return script;
}

std::string CallText(uint32_t dg, uint16_t dat, uint16_t msg, int cap) {
    trace::TimedCall c;
    c.dg = dg;
    c.dat = dat;
    c.msg = msg;
    c.cap = cap;
    return trace::triplet_text(c);
}

LoadedScript LoadScript(const std::string& path, bool macosAbi) {
    LoadedScript loaded;
    try {
        loaded.record = trace::last_load_record({path});
    } catch (const std::exception& e) {
        loaded.problem = "recording \"" + path + "\" cannot be played: " + e.what();
        return loaded;
    }
    const trace::FlightRecord record = trace::read_flight_record(loaded.record);
    const std::string name = "recording \"" + loaded.record + "\"";
    if (!record.header_ok) {
        loaded.problem = name + " is damaged: " + (record.problems.empty() ? "its header cannot be read"
                                                                            : record.problems.front());
        return loaded;
    }
    if (record.macos_abi != macosAbi) {
        loaded.problem = name + " was made with the " + (record.macos_abi ? "macos" : "native") +
                         " TWAIN layout; this companion is built for the " + (macosAbi ? "macos" : "native") +
                         " layout";
        return loaded;
    }
    loaded.script = ScriptFrom(record);
    if (loaded.script.calls.empty()) loaded.problem = name + " holds no application call that returned";
    return loaded;
}

}  // namespace playback
}  // namespace tracelet
