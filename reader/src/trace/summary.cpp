#include "trace/summary.hpp"

#include <algorithm>
#include <filesystem>
#include <iomanip>

#include "trace/names.hpp"
#include "trace/session.hpp"
#include "trace/text.hpp"

namespace tracelet::trace {

namespace {

constexpr std::size_t kProblemsShown = 20;

std::string raw_of(const Node* n, std::string_view name) {
    if (!n) return "";
    const Field* f = n->field(name);
    return f ? f->raw : "";
}

std::string indent_text(const std::string& text, const std::string& pad) {
    std::string out;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t nl = text.find('\n', start);
        std::size_t end = nl == std::string::npos ? text.size() : nl;
        out += pad;
        out.append(text, start, end - start);
        out += '\n';
        start = end + 1;
    }
    return out;
}

}  // namespace

void Summary::file(int index, const std::string& name) {
    if (static_cast<std::size_t>(index) >= files_.size()) files_.resize(static_cast<std::size_t>(index) + 1);
    files_[static_cast<std::size_t>(index)] = {std::filesystem::path(name).filename().string(), 0};
    page_open_ = false;
}

void Summary::problem(Problem&& p) {
    ++problem_count_;
    if (problems_.size() < kProblemsShown) problems_.push_back(std::move(p));
}

void Summary::call(Call&& c) {
    SessionStates::Step s = tracker_.step(c);
    ++calls_;
    if (static_cast<std::size_t>(c.file) < files_.size()) ++files_[static_cast<std::size_t>(c.file)].second;
    if (c.claimed_event()) ++events_;
    if (c.from_source()) ++notifications_;
    if (static_cast<std::size_t>(c.load) >= loads_.size()) loads_.push_back(Load{c.file, c.line, 0});
    ++loads_.back().calls;
    if (c.overflow) ++overflows_;
    if (c.incomplete) ++incomplete_;

    std::string line = c.id() + " " + c.label() + " -> " +
                       (c.has_result ? c.rc : std::string("(no result)"));
    if (failure_waits_) {
        failures_.back().after = line;
        failure_waits_ = false;
    }

    Count& n = triplets_[(c.from_source() ? "[DS] " : "") + c.dg + "/" + c.dat + "/" + c.msg];
    ++n.calls;
    if (c.failed()) {
        ++n.failures;
        failures_.push_back(Failure{c.id(), previous_, c.text, "", s.before});
        failure_waits_ = true;
    }
    if (s.before != s.previous)
        timeline_.push_back(Change{c.id(),
                                   (s.inferred ? "transfer ready before " : "transfer ready (its notice written later) before ") +
                                       c.triplet(),
                                   s.previous, s.before, s.inferred});
    if (s.after != s.before) timeline_.push_back(Change{c.id(), c.label(), s.before, s.after, s.corrected});

    const long long dat = c.dat_value(), msg = c.msg_value(), rc = c.rc_value();
    if (dat == DAT_CAPABILITY && c.has_result) {
        Capability& cap = caps_[c.cap];
        ++cap.calls;
        const Node* b = c.block("TW_CAPABILITY");
        std::string value = capability_value(b);
        if (msg == MSG_SET) cap.sets.push_back(CapSet{c.id(), value, c.rc});
        bool negotiated = msg == MSG_SET || msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_RESET;
        if (negotiated && !c.failed() && !value.empty()) {
            cap.value = value;
            cap.container = container_type(b);
            cap.from_call = c.id() + " " + c.msg;
        }
    }

    if (dat == DAT_IMAGEINFO && c.has_result && !c.failed()) {
        const Node* ii = c.block("TW_IMAGEINFO");
        Page& target = page_open_ && s.before == 7 ? pages_.back() : info_;
        target.width = raw_of(ii, "ImageWidth");
        target.length = raw_of(ii, "ImageLength");
        target.pixel_type = raw_of(ii, "PixelType");
        target.bits = raw_of(ii, "BitsPerPixel");
        target.xres = raw_of(ii, "XResolution");
        target.compression = raw_of(ii, "Compression");
    }

    bool xfer = msg == MSG_GET && (dat == DAT_IMAGEMEMXFER || dat == DAT_IMAGENATIVEXFER || dat == DAT_IMAGEFILEXFER);
    if (xfer && c.has_result) {
        if (s.before == 6 || !page_open_) {
            Page p = info_;
            p.first_call = c.id();
            p.mechanism = dat == DAT_IMAGEMEMXFER ? "memory" : dat == DAT_IMAGENATIVEXFER ? "native" : "file";
            pages_.push_back(p);
            page_open_ = true;
        }
        Page& p = pages_.back();
        p.last_call = c.id();
        p.result = c.rc;
        if (dat == DAT_IMAGEMEMXFER) {
            long long written = 0;
            if (int_field(c.block("TW_IMAGEMEMXFER"), "BytesWritten", written) && !c.failed()) {
                ++p.buffers;
                p.bytes += written;
                p.min_buffer = p.min_buffer < 0 ? written : std::min(p.min_buffer, written);
                p.max_buffer = std::max(p.max_buffer, written);
            }
        } else if (dat == DAT_IMAGENATIVEXFER) {
            p.handle = raw_of(c.block("TW_UINT32"), "Item");
        }
    }
    // A page ends with its transfer: the last buffer, a cancel, MSG_ENDXFER.
    if ((xfer && (rc == TWRC_XFERDONE || rc == TWRC_CANCEL)) || dat == DAT_PENDINGXFERS ||
        (s.before == 7 && s.after < 7))
        page_open_ = false;

    previous_ = line;
}

void Summary::print(std::ostream& out) const {
    std::size_t failures = failures_.size();
    out << "Session: " << files_.size() << " file" << (files_.size() == 1 ? "" : "s") << ", " << loads_.size()
        << " load" << (loads_.size() == 1 ? "" : "s") << ", " << calls_ << " calls (" << events_ << " claimed events, "
        << notifications_ << " source notifications), " << failures << " failure" << (failures == 1 ? "" : "s") << ", "
        << pages_.size() << " transfer" << (pages_.size() == 1 ? "" : "s") << ", " << messages_ << " logger messages, "
        << problem_count_ << " unreadable or damaged lines\n";
    for (std::size_t i = 0; i < files_.size(); ++i)
        out << "  file " << i + 1 << ": " << files_[i].first << " (" << files_[i].second << " calls)\n";
    if (loads_.size() > files_.size())
        for (std::size_t i = 0; i < loads_.size(); ++i)
            out << "  load " << i + 1 << ": file " << loads_[i].file + 1 << " from line " << loads_[i].line << " ("
                << loads_[i].calls << " calls)\n";

    out << "\nCalls per triplet:\n";
    std::vector<std::pair<std::string, Count>> rows(triplets_.begin(), triplets_.end());
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second.calls > b.second.calls; });
    for (const auto& [name, n] : rows) {
        out << "  " << std::setw(7) << n.calls << "  " << name;
        if (n.failures) out << "  (" << n.failures << " failed)";
        out << '\n';
    }

    out << "\nState timeline (state before -> after, from the start state 3 of each load; \"inferred\" where the "
           "log shows no notification):\n";
    if (timeline_.empty()) out << "  (no change)\n";
    for (const Change& ch : timeline_)
        out << "  " << std::setw(9) << std::left << ch.call << std::right << " " << ch.from << " -> " << ch.to << "  "
            << ch.triplet << (ch.inferred ? "  (inferred)" : "") << '\n';

    out << "\nFailures:\n";
    if (failures_.empty()) out << "  (none)\n";
    for (const Failure& f : failures_) {
        out << "  " << f.call << " in state " << f.state << ":\n";
        if (!f.before.empty()) out << "    before: " << f.before << '\n';
        out << indent_text(f.text, "    | ");
        out << "    after:  " << (f.after.empty() ? std::string("(end of log)") : f.after) << '\n';
    }

    out << "\nCapabilities (last value negotiated, every MSG_SET):\n";
    if (caps_.empty()) out << "  (none)\n";
    for (const auto& [name, cap] : caps_) {
        out << "  " << std::setw(22) << std::left << name << std::right << " " << std::setw(16) << std::left
            << (cap.container.empty() ? "-" : cap.container) << std::right << " "
            << (cap.value.empty() ? std::string("-") : cap.value);
        if (!cap.from_call.empty()) out << "   [" << cap.from_call << "]";
        out << '\n';
        for (const CapSet& set : cap.sets)
            out << "      MSG_SET " << set.call << ": " << (set.value.empty() ? std::string("-") : set.value) << " -> "
                << set.rc << '\n';
    }

    out << "\nTransfers:\n";
    if (pages_.empty()) out << "  (none)\n";
    for (std::size_t i = 0; i < pages_.size(); ++i) {
        const Page& p = pages_[i];
        out << "  page " << i + 1 << ": " << p.mechanism << " transfer " << p.first_call;
        if (p.last_call != p.first_call) out << ".." << p.last_call;
        out << " -> " << p.result << '\n';
        if (!p.width.empty())
            out << "    image " << p.width << " x " << p.length << ", " << p.pixel_type << ", " << p.bits
                << " bits per pixel, " << p.xres << " dpi, " << p.compression << '\n';
        if (p.mechanism == "memory")
            out << "    " << p.buffers << " buffers, " << p.bytes << " bytes (buffers of " << std::max(p.min_buffer, 0LL)
                << " to " << p.max_buffer << " bytes)\n";
        if (p.mechanism == "native") out << "    image handle <" << p.handle << ">\n";
    }

    if (overflows_ || incomplete_ || problem_count_) {
        out << "\nLog problems:\n";
        if (overflows_) out << "  " << overflows_ << " result text(s) cut at 5120 bytes (Size of CAP_xxx too long)\n";
        if (incomplete_) out << "  " << incomplete_ << " call(s) incomplete\n";
        for (const Problem& p : problems_)
            out << "  file " << p.file + 1 << " line " << p.line << ": " << p.what
                << (p.text.empty() ? std::string() : ": " + p.text) << '\n';
        if (problem_count_ > problems_.size()) out << "  ... " << problem_count_ - problems_.size() << " more\n";
    }
}

}  // namespace tracelet::trace
