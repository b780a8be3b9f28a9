#include "trace/names.hpp"

#include "trace/states.hpp"
#include "tracelet/twain.h"

namespace tracelet::trace {

long long code(NameKind kind, std::string_view name) {
    auto v = twnames::Value(kind, name);
    if (!v) return -1;
    // A triplet's DAT and MSG, a capability and a code are 16-bit; an
    // "ERROR!(n)" of one of them is read the same way.
    return kind == NameKind::Dg ? static_cast<long long>(*v) : static_cast<long long>(static_cast<std::uint16_t>(*v));
}

long long dg_code(std::string_view name) { return code(NameKind::Dg, name); }
long long dat_code(std::string_view name) { return code(NameKind::Dat, name); }
long long msg_code(std::string_view name) { return code(NameKind::Msg, name); }
long long cap_code(std::string_view name) { return code(NameKind::Cap, name); }
long long rc_code(std::string_view name) { return code(NameKind::Rc, name); }
long long cc_code(std::string_view name) { return code(NameKind::Cc, name); }

long long triplet_code(std::string_view dg, std::string_view dat, std::string_view msg) {
    long long g = dg_code(dg), d = dat_code(dat), m = msg_code(msg);
    if (g < 0 || d < 0 || m < 0) return -1;
    return triplet_value(static_cast<std::uint32_t>(g), static_cast<std::uint16_t>(d), static_cast<std::uint16_t>(m));
}

long long triplet_code(std::string_view text) {
    std::size_t a = text.find('/');
    std::size_t b = a == std::string_view::npos ? a : text.find('/', a + 1);
    if (b == std::string_view::npos) return -1;
    return triplet_code(text.substr(0, a), text.substr(a + 1, b - a - 1), text.substr(b + 1));
}

std::optional<long long> constant_value(std::string_view name) {
    auto v = twnames::ConstantValue(name);
    if (!v) return std::nullopt;
    return static_cast<long long>(*v);
}

bool same_constant(std::string_view a, std::string_view b) {
    if (a == b) return true;
    auto va = constant_value(a), vb = constant_value(b);
    return va && vb && *va == *vb;
}

std::string name_of(NameKind kind, std::uint32_t value) { return twnames::NameOrError(kind, value); }

std::string_view constant_name(std::string_view table, long long value) {
    return twnames::NameIn(table, static_cast<std::uint64_t>(value));
}

long long Call::dg_value() const { return dg_code(dg); }
long long Call::dat_value() const { return dat_code(dat); }
long long Call::msg_value() const { return msg_code(msg); }
long long Call::cap_value() const { return cap_code(cap); }
long long Call::rc_value() const { return rc_code(rc); }
bool Call::failed() const { return rc_value() == TWRC_FAILURE; }
bool Call::during_enable() const {
    return triplet_code(during) == triplet_value(DG_CONTROL, DAT_USERINTERFACE, MSG_ENABLEDS);
}

logmodel::CallFacts call_facts(const Call& c) {
    logmodel::CallFacts f;
    long long dat = c.dat_value(), msg = c.msg_value();
    f.dat = static_cast<uint16_t>(dat < 0 ? 0xFFFF : dat);
    f.msg = static_cast<uint16_t>(msg < 0 ? 0xFFFF : msg);
    if (const Node* ev = c.block("TW_EVENT")) {
        const Field* m = ev->field("TWMessage");
        long long em = m ? msg_code(m->raw) : -1;
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
