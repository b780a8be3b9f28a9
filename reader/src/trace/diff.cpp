#include "trace/diff.hpp"

#include <algorithm>
#include <cstdint>
#include <unordered_map>

#include "trace/names.hpp"
#include "trace/text.hpp"

namespace tracelet::trace {

namespace {

// The same value, printed the same way, as a name and its ERROR!(n) text, or
// as two numbers.
bool same_value(std::string_view a, std::string_view b) {
    if (same_constant(a, b)) return true;
    long long va = 0, vb = 0;
    return (parse_int(a, va) || parse_hex(a, va)) && (parse_int(b, vb) || parse_hex(b, vb)) && va == vb;
}

// A part of a call's identity by value, or as printed where no table knows it.
std::string part_key(long long value, std::string_view printed) {
    return value >= 0 ? std::to_string(value) : "?" + std::string(printed);
}

// What identifies a call when the two lists are matched: its triplet (and
// capability) by value, or the message of a claimed event.
std::string key(const Call& c) {
    std::string k = c.from_source() ? "[DS] " : "";
    if (!c.has_triplet) {
        const Node* ev = c.block("TW_EVENT");
        const Field* m = ev ? ev->field("TWMessage") : nullptr;
        return k + "event " + (m ? part_key(msg_code(m->raw), m->raw) : std::string());
    }
    k += part_key(c.dg_value(), c.dg) + "/" + part_key(c.dat_value(), c.dat) + "/" + part_key(c.msg_value(), c.msg);
    if (!c.cap.empty()) k += " " + part_key(c.cap_value(), c.cap);
    return k;
}

bool ignored(const Node& owner, const Field& f) {
    if (f.delim == '<') return true;  // handles and addresses differ from run to run
    return f.name == "Id" && (owner.type == "TW_IDENTITY" || owner.type == "pOrigin:TW_IDENTITY");
}

std::string shown(const Field& f) {
    switch (f.delim) {
    case '[': return "[" + f.raw + "]";
    case '{': return "{" + f.raw + "}";
    case '<': return "<" + f.raw + ">";
    default: return f.node ? "{block " + f.node->type + "}" : "(label)";
    }
}

void compare_nodes(const Node& a, const Node& b, const std::string& path, std::vector<FieldDiff>& out) {
    if (a.type != b.type) {
        out.push_back({path, a.type, b.type});
        return;
    }
    if (a.item_list) {
        std::size_t n = std::max(a.items.size(), b.items.size());
        for (std::size_t i = 0; i < n; ++i) {
            std::string va = i < a.items.size() ? a.items[i] : "(absent)";
            std::string vb = i < b.items.size() ? b.items[i] : "(absent)";
            if (!same_value(va, vb)) out.push_back({path + "[" + std::to_string(i) + "]", va, vb});
        }
        return;
    }
    std::vector<bool> used(b.fields.size(), false);
    for (const Field& fa : a.fields) {
        const Field* fb = nullptr;
        for (std::size_t j = 0; j < b.fields.size(); ++j)
            if (!used[j] && b.fields[j].name == fa.name) {
                used[j] = true;
                fb = &b.fields[j];
                break;
            }
        std::string p = path + "." + fa.name;
        if (!fb) {
            if (!ignored(a, fa)) out.push_back({p, shown(fa), "(absent)"});
            continue;
        }
        if (fa.node && fb->node) {
            compare_nodes(*fa.node, *fb->node, p, out);
        } else if (fa.node || fb->node) {
            out.push_back({p, shown(fa), shown(*fb)});
        } else if (!ignored(a, fa) && (fa.delim != fb->delim || !same_value(fa.raw, fb->raw))) {
            out.push_back({p, shown(fa), shown(*fb)});
        }
    }
    for (std::size_t j = 0; j < b.fields.size(); ++j)
        if (!used[j] && !ignored(b, b.fields[j])) out.push_back({path + "." + b.fields[j].name, "(absent)", shown(b.fields[j])});
}

std::string describe(const Call& c) {
    return c.label() + " -> " + (c.has_result ? c.rc : std::string("(no result)"));
}

// A call's transition as its session's reading gives it: the state it was
// sent in and the state after it.
std::string transition(const SessionStates::Step& s) {
    return std::to_string(s.sent_in) + " -> " + std::to_string(s.after) + (s.inferred || s.corrected ? " (inferred)" : "");
}

bool moves(const SessionStates::Step& s) { return s.previous != s.after || s.before != s.previous; }

// Adds the state differences to the matched calls (see align()).
void compare_states(const Session& sa, const Session& sb, std::vector<Aligned>& steps) {
    if (sa.steps.size() != sa.calls.size() || sb.steps.size() != sb.calls.size()) return;
    bool opened = false;  // by a call only one side has; closed when the states meet again
    for (Aligned& st : steps) {
        if (st.kind == Aligned::OnlyA || st.kind == Aligned::OnlyB) {
            opened = opened || moves(st.kind == Aligned::OnlyA ? sa.steps[st.a] : sb.steps[st.b]);
            continue;
        }
        const SessionStates::Step &x = sa.steps[st.a], &y = sb.steps[st.b];
        if (x.sent_in == y.sent_in && x.after == y.after) {
            opened = false;
        } else if (!opened) {
            st.diffs.insert(st.diffs.begin(), FieldDiff{"TWAIN state", transition(x), transition(y)});
            st.kind = Aligned::Changed;
        }
    }
}

}  // namespace

std::vector<FieldDiff> compare_calls(const Call& a, const Call& b) {
    std::vector<FieldDiff> out;
    if (key(a) != key(b)) out.push_back({"triplet", a.label(), b.label()});
    if (a.has_result != b.has_result || a.rc_value() != b.rc_value() || (a.rc_value() < 0 && a.rc != b.rc)) out.push_back({"Return Code", a.rc, b.rc});
    if (a.error_marker != b.error_marker)
        out.push_back({"error marker", a.error_marker ? "yes" : "no", b.error_marker ? "yes" : "no"});
    if (a.overflow != b.overflow) out.push_back({"text cut at 5120 bytes", a.overflow ? "yes" : "no", b.overflow ? "yes" : "no"});
    // A trace that did not know a call's structure (an older version, a
    // triplet new to it) prints pData's address and nothing under it: that
    // says how it was printed, not what the call held.
    auto unprinted = [](const Call& c) {
        long long address = 0;
        return c.blocks.empty() && parse_hex(c.pdata, address) && address != 0;
    };
    if (unprinted(a) != unprinted(b)) return out;
    std::size_t n = std::max(a.blocks.size(), b.blocks.size());
    for (std::size_t i = 0; i < n; ++i) {
        if (i >= a.blocks.size())
            out.push_back({b.blocks[i].type, "(absent)", "{block}"});
        else if (i >= b.blocks.size())
            out.push_back({a.blocks[i].type, "{block}", "(absent)"});
        else
            compare_nodes(a.blocks[i], b.blocks[i], a.blocks[i].type, out);
    }
    return out;
}

std::vector<Aligned> align(const Session& sa, const Session& sb, std::size_t window) {
    const auto& A = sa.calls;
    const auto& B = sb.calls;
    // Keys as small numbers, and where each key stands in either list.
    std::unordered_map<std::string, int> ids;
    std::vector<int> ka, kb;
    ka.reserve(A.size());
    kb.reserve(B.size());
    for (const Call& c : A) ka.push_back(ids.emplace(key(c), static_cast<int>(ids.size())).first->second);
    for (const Call& c : B) kb.push_back(ids.emplace(key(c), static_cast<int>(ids.size())).first->second);
    std::vector<std::vector<std::size_t>> in_a(ids.size()), in_b(ids.size());
    for (std::size_t i = 0; i < ka.size(); ++i) in_a[static_cast<std::size_t>(ka[i])].push_back(i);
    for (std::size_t j = 0; j < kb.size(); ++j) in_b[static_cast<std::size_t>(kb[j])].push_back(j);
    auto next_at = [](const std::vector<std::size_t>& positions, std::size_t from) {
        auto it = std::lower_bound(positions.begin(), positions.end(), from);
        return it == positions.end() ? SIZE_MAX : *it;
    };
    auto matched = [&](std::size_t i, std::size_t j) {
        Aligned st{Aligned::Same, i, j, compare_calls(A[i], B[j])};
        if (!st.diffs.empty()) st.kind = Aligned::Changed;
        return st;
    };

    std::vector<Aligned> out;
    std::size_t i = 0, j = 0;
    while (i < A.size() || j < B.size()) {
        if (i < A.size() && j < B.size() && ka[i] == kb[j]) {
            out.push_back(matched(i++, j++));
            continue;
        }
        if (i >= A.size()) {
            out.push_back({Aligned::OnlyB, i, j++, {}});
            continue;
        }
        if (j >= B.size()) {
            out.push_back({Aligned::OnlyA, i++, j, {}});
            continue;
        }
        // The nearest point where the two lists meet again: the fewest
        // calls skipped on both sides together, within the window.
        std::size_t best = SIZE_MAX, skip_a = 0, skip_b = 0;
        for (std::size_t da = 0; da <= window && i + da < A.size() && da < best; ++da) {
            std::size_t p = next_at(in_b[static_cast<std::size_t>(ka[i + da])], j);
            if (p != SIZE_MAX && p - j <= window && da + (p - j) < best) best = da + (p - j), skip_a = da, skip_b = p - j;
        }
        for (std::size_t db = 0; db <= window && j + db < B.size() && db < best; ++db) {
            std::size_t p = next_at(in_a[static_cast<std::size_t>(kb[j + db])], i);
            if (p != SIZE_MAX && p - i <= window && db + (p - i) < best) best = db + (p - i), skip_a = p - i, skip_b = db;
        }
        if (best == SIZE_MAX) {  // nothing in reach: take the pair as changed
            Aligned st = matched(i++, j++);
            st.kind = Aligned::Changed;
            out.push_back(std::move(st));
            continue;
        }
        for (std::size_t k = 0; k < skip_a; ++k) out.push_back({Aligned::OnlyA, i++, j, {}});
        for (std::size_t k = 0; k < skip_b; ++k) out.push_back({Aligned::OnlyB, i, j++, {}});
    }
    compare_states(sa, sb, out);
    return out;
}

void write_step(const Session& sa, const Session& sb, const Aligned& s, std::ostream& out, bool detail) {
    const Call* a = s.kind == Aligned::OnlyB ? nullptr : &sa.calls[s.a];
    const Call* b = s.kind == Aligned::OnlyA ? nullptr : &sb.calls[s.b];
    switch (s.kind) {
    case Aligned::Same:
        out << "  = A " << a->id() << " / B " << b->id() << "  " << describe(*a) << '\n';
        break;
    case Aligned::Changed: {
        const std::vector<FieldDiff>& diffs = s.diffs;
        out << "  ! A " << a->id() << " / B " << b->id() << "  " << describe(*a) << '\n';
        std::size_t shown = 0;
        for (const FieldDiff& d : diffs) {
            if (!detail && shown == 3) {
                out << "      ... " << diffs.size() - shown << " more fields\n";
                break;
            }
            out << "      " << d.path << ": A " << d.a << "  B " << d.b << '\n';
            ++shown;
        }
        break;
    }
    case Aligned::OnlyA:
        out << "  - A " << a->id() << "  " << describe(*a) << "   (not in B)\n";
        break;
    case Aligned::OnlyB:
        out << "  + B " << b->id() << "  " << describe(*b) << "   (not in A)\n";
        break;
    }
}

std::size_t diff_sessions(const Session& sa, const Session& sb, std::ostream& out, const DiffOptions& options) {
    std::vector<Aligned> steps = align(sa, sb);
    std::size_t first = steps.size();
    std::size_t changed = 0, only_a = 0, only_b = 0;
    for (std::size_t k = 0; k < steps.size(); ++k) {
        switch (steps[k].kind) {
        case Aligned::Same: continue;
        case Aligned::Changed: ++changed; break;
        case Aligned::OnlyA: ++only_a; break;
        case Aligned::OnlyB: ++only_b; break;
        }
        if (first == steps.size()) first = k;
    }
    std::size_t total = changed + only_a + only_b;
    out << "A: " << sa.calls.size() << " calls, B: " << sb.calls.size() << " calls (compared by value; addresses, "
        << "handles, identity Ids, sequence numbers and times ignored)\n";
    if (total == 0) {
        out << "The sessions do not differ.\n";
        return 0;
    }

    auto print_step = [&](const Aligned& s, bool detail) { write_step(sa, sb, s, out, detail); };

    out << "\nFirst divergence:\n";
    std::size_t from = first >= options.context ? first - options.context : 0;
    for (std::size_t k = from; k < first; ++k) print_step(steps[k], false);
    // The divergence itself: the changed pair, or the whole run of calls
    // that only one side has.
    std::size_t k = first;
    print_step(steps[k], true);
    std::size_t shown_extra = 0;
    if (steps[k].kind != Aligned::Changed) {
        while (k + 1 < steps.size() && steps[k + 1].kind == steps[first].kind && shown_extra < 10) {
            print_step(steps[++k], true);
            ++shown_extra;
        }
    }
    if (k + 1 < steps.size()) print_step(steps[k + 1], true);  // the block after it

    std::size_t further = total - 1 - shown_extra;
    if (k + 1 < steps.size() && steps[k + 1].kind != Aligned::Same) --further;
    out << "\nFurther differences: " << further << " (in all " << changed << " changed calls, " << only_a
        << " only in A, " << only_b << " only in B)\n";
    if (options.all) {
        out << "\nAll differences:\n";
        for (const Aligned& s : steps)
            if (s.kind != Aligned::Same) print_step(s, true);
    }
    return total;
}

}  // namespace tracelet::trace
