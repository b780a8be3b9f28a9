#include "trace/check.hpp"

#include "trace/names.hpp"
#include "trace/text.hpp"
#include "tracelet/twain.h"

namespace tracelet::trace {

const std::vector<Rule>& check_rules() {
    static const std::vector<Rule> rules = {
        {"wrong-state", "a triplet must be sent only in the states the TWAIN standard allows for it"},
        {"dsm-only", "a triplet that the source manager consumes itself never reaches a data source"},
        {"event-state",
         "a source claims events (TWRC_DSEVENT) only in states 5 to 7, and signals MSG_XFERREADY (as an event or "
         "through the manager's entry) only in state 5"},
        {"memxfer-overrun", "DAT_IMAGEMEMXFER: BytesWritten must not exceed the buffer's TW_MEMORY Length"},
        {"memxfer-rows",
         "DAT_IMAGEMEMXFER: each strip starts at the rows already sent (YOffset), and the rows of all strips add up "
         "to TW_IMAGEINFO ImageLength"},
        {"endxfer-count",
         "DAT_PENDINGXFERS/MSG_ENDXFER: Count drops by one per transfer, never exceeds CAP_XFERCOUNT, and is -1 only "
         "when unknown"},
        {"no-status", "after TWRC_FAILURE the application asks DG_CONTROL/DAT_STATUS/MSG_GET for the condition code"},
        {"lying-count",
         "a capability's container holds what it claims: NumItems items, its own header, and the end of each text "
         "item, inside the block the source allocated for it"},
    };
    return rules;
}

Checker::Checker(Report report, const ValidStates& table)
    : report_(std::move(report)), table_(table), tracker_(logmodel::Reading::Standard, table) {}

void Checker::report(const std::string& rule, const Call& c, std::string message) {
    Finding f{rule, c.id(), c.file, c.line, c.triplet(), std::move(message)};
    report_(f);
}

void Checker::feed(const Call& c) {
    if (c.load != load_) {
        if (load_ >= 0)
            end_of_load(c.file != file_ ? "the data source was unloaded (the log file ends)"
                                        : "the data source was unloaded (it was loaded again)");
        load_ = c.load;
        file_ = c.file;
        pending_count_ = -2;
        xfer_count_ = -1;
        transfers_in_cycle_ = 0;
        image_ = Image();
    }
    ++calls_;
    SessionStates::Step s = tracker_.step(c);
    check_status(c);
    check_state(c, s);
    check_memxfer(c, s);
    check_endxfer(c, s);
    check_lying_count(c);
    if (s.before == 7 && s.after < 7) settle_image();
}

void Checker::finish() { end_of_load("the log ends"); }

void Checker::end_of_load(const std::string& why) {
    settle_image();
    if (pending_) {
        Finding f{"no-status", pending_->call, pending_->file, pending_->line, pending_->triplet,
                  pending_->triplet + " returned " + pending_->rc + " and " + why +
                      " without DG_CONTROL/DAT_STATUS/MSG_GET; the condition code was never read"};
        report_(f);
        pending_.reset();
    }
}

// --- no-status ----------------------------------------------------------------

void Checker::check_status(const Call& c) {
    if (c.claimed_event() || c.from_source()) return;  // the source's notifications do not answer for the application
    bool is_status = triplet_code(c.dg, c.dat, c.msg) == triplet_value(DG_CONTROL, DAT_STATUS, MSG_GET);
    if (pending_) {
        if (!is_status) {
            Finding f{"no-status", pending_->call, pending_->file, pending_->line, pending_->triplet,
                      pending_->triplet + " returned " + pending_->rc + " and the application went on with " + c.id() +
                          " " + c.triplet() +
                          " without DG_CONTROL/DAT_STATUS/MSG_GET; the condition code was never read"};
            report_(f);
        }
        pending_.reset();
    }
    if (c.failed() && !is_status) pending_ = Pending{c.id(), c.triplet(), c.rc, c.file, c.line};
}

// --- wrong-state, event-state -------------------------------------------------

void Checker::check_state(const Call& c, const SessionStates::Step& s) {
    if (c.claimed_event()) {
        const Node* ev = c.block("TW_EVENT");
        const Field* m = ev ? ev->field("TWMessage") : nullptr;
        std::string what = m ? m->raw : "an event";
        if (s.before < 5 || s.before > 7) {
            report("event-state", c,
                   "the source claimed " + what + " (" + c.rc + ") in state " + std::to_string(s.before) +
                       "; DAT_EVENT/MSG_PROCESSEVENT events are only processed in states 5 to 7");
        } else if (m && msg_code(m->raw) == MSG_XFERREADY && s.before != 5) {
            report("event-state", c,
                   "the source signalled MSG_XFERREADY in state " + std::to_string(s.before) +
                       "; a transfer is announced only in state 5, after the previous one was ended with MSG_ENDXFER");
        }
        return;
    }
    if (!c.has_triplet) return;
    const TripletStates* t = table_.find(c.dg, c.dat, c.msg);
    if (!t) return;
    if (c.from_source()) {
        // Sent while MSG_ENABLEDS was in flight: the enable completes first.
        int st = s.sent_in == 4 && s.after == 6 ? 5 : s.sent_in;
        if (!t->allows(st))
            report("event-state", c,
                   "the source sent " + c.msg + " in state " + std::to_string(st) +
                       "; the TWAIN standard allows it only in state" + (t->mask & (t->mask - 1) ? "s " : " ") +
                       describe_states(t->mask));
        return;
    }
    // Callback registration is left out: some source managers pass it on to
    // the source they hold open.
    if (t->sent_by == "app>dsm" && c.dat_value() != DAT_CALLBACK && c.dat_value() != DAT_CALLBACK2) {
        report("dsm-only", c,
               c.dg + "/" + c.dat + "/" + c.msg +
                   " reached the data source; the source manager answers it itself and never passes it on");
        return;
    }
    if (t->allows(s.sent_in)) return;
    std::string msg = c.dg + "/" + c.dat + "/" + c.msg + " sent in state " + std::to_string(s.sent_in) +
                      "; the TWAIN standard allows it only in state" + (t->mask & (t->mask - 1) ? "s " : " ") +
                      describe_states(t->mask);
    if (c.rc_value() == TWRC_SUCCESS)
        msg += " (the source accepted it with TWRC_SUCCESS; it should have failed with TWCC_SEQERROR)";
    else if (c.has_result)
        msg += " (the source answered " + c.rc + ")";
    report("wrong-state", c, std::move(msg));
}

// --- memxfer-overrun, memxfer-rows --------------------------------------------

void Checker::settle_image() {
    if (!image_.active) return;
    if (image_.done && image_.check_rows && image_.length > 0 && image_.rows != image_.length) {
        Finding f{"memxfer-rows", image_.done_call, image_.file, image_.line, image_.done_triplet,
                  "the image's memory buffers hold " + std::to_string(image_.rows) +
                      " rows but TW_IMAGEINFO ImageLength is " + std::to_string(image_.length)};
        report_(f);
    }
    image_ = Image();
}

void Checker::check_memxfer(const Call& c, const SessionStates::Step& s) {
    const long long dat = c.dat_value(), rc = c.rc_value();
    if (dat == DAT_IMAGEINFO && c.has_result && !c.failed()) {
        long long len = 0;
        if (int_field(c.block("TW_IMAGEINFO"), "ImageLength", len)) {
            last_image_length_ = len;
            if (image_.active) image_.length = len;  // asked again in state 7: the true length
        }
        return;
    }
    if (dat != DAT_IMAGEMEMXFER || c.msg_value() != MSG_GET || !c.has_result || c.failed()) return;
    const Node* x = c.block("TW_IMAGEMEMXFER");
    if (!x) return;

    long long written = 0, length = 0;
    const Node* mem = x->child("Memory");
    if (int_field(x, "BytesWritten", written) && int_field(mem, "Length", length) && written > length)
        report("memxfer-overrun", c,
               "BytesWritten " + std::to_string(written) + " is larger than the buffer it was written to (TW_MEMORY Length " +
                   std::to_string(length) + ")");

    if (s.before == 6 || !image_.active || image_.done) {
        settle_image();
        image_.active = true;
        image_.length = last_image_length_;
    }
    bool data = rc == TWRC_SUCCESS || rc == TWRC_XFERDONE;
    const Field* comp = x->field("Compression");
    if (comp && constant_value(comp->raw) != TWCP_NONE) image_.check_rows = false;
    long long rows = 0, xoff = 0, yoff = 0;
    if (data && int_field(x, "Rows", rows) && int_field(x, "XOffset", xoff) && xoff == 0) {
        if (image_.check_rows && int_field(x, "YOffset", yoff) && yoff != image_.rows)
            report("memxfer-rows", c,
                   "the buffer starts at YOffset " + std::to_string(yoff) + " but " + std::to_string(image_.rows) +
                       " rows were transferred before it");
        image_.rows += rows;
    }
    if (rc == TWRC_XFERDONE) {
        image_.done = true;
        image_.done_call = c.id();
        image_.done_triplet = c.triplet();
        image_.file = c.file;
        image_.line = c.line;
    } else if (rc == TWRC_CANCEL) {
        image_.check_rows = false;
    }
}

// --- lying-count ----------------------------------------------------------------

void Checker::check_lying_count(const Call& c) {
    if (c.lying_notes.empty()) return;
    const Node* cap = c.block("TW_CAPABILITY");
    const Field* id = cap ? cap->field("Cap") : nullptr;
    const std::string name = id ? id->raw : !c.cap.empty() ? c.cap : "a capability";
    for (const std::string& note : c.lying_notes)
        report("lying-count", c, "the container of " + name + " claims more than its block holds: " + note);
}

// --- endxfer-count --------------------------------------------------------------

void Checker::check_endxfer(const Call& c, const SessionStates::Step& s) {
    if (!c.has_result || c.failed()) return;
    const long long dat = c.dat_value(), msg = c.msg_value();
    if (msg == MSG_ENABLEDS || msg == MSG_ENABLEDSUIONLY) {
        pending_count_ = -2;
        transfers_in_cycle_ = 0;
        return;
    }
    if (dat == DAT_CAPABILITY && c.cap_value() == CAP_XFERCOUNT &&
        (msg == MSG_SET || msg == MSG_GET || msg == MSG_GETCURRENT || msg == MSG_RESET)) {
        const Node* cap = c.block("TW_CAPABILITY");
        long long v = 0;
        if (cap && int_field(cap->child("TW_ONEVALUE"), "Item", v)) xfer_count_ = v > 0 ? v : -1;
        return;
    }
    if (dat != DAT_PENDINGXFERS) return;
    long long count = 0;
    if (!int_field(c.block("TW_PENDINGXFERS"), "Count", count)) return;
    if (msg == MSG_GET) {
        if (s.before >= 5) pending_count_ = count;
        return;
    }
    if (msg == MSG_RESET) {
        pending_count_ = 0;
        return;
    }
    if (msg != MSG_ENDXFER) return;
    ++transfers_in_cycle_;
    if (count < -1) {
        report("endxfer-count", c,
               "MSG_ENDXFER returned Count " + std::to_string(count) +
                   "; Count is the number of transfers still pending, or -1 when the source cannot tell");
    } else if (pending_count_ >= 1 && count != pending_count_ - 1) {
        report("endxfer-count", c,
               "MSG_ENDXFER left Count at " + std::to_string(count) + " with " + std::to_string(pending_count_) +
                   " transfer" + (pending_count_ == 1 ? "" : "s") + " pending before it; it must take exactly one off (" +
                   std::to_string(pending_count_ - 1) + ")");
    } else if (xfer_count_ > 0 && count >= 0 && count > xfer_count_ - transfers_in_cycle_) {
        report("endxfer-count", c,
               "MSG_ENDXFER reports " + std::to_string(count) + " transfers still pending after " +
                   std::to_string(transfers_in_cycle_) + " of at most " + std::to_string(xfer_count_) +
                   " (CAP_XFERCOUNT); at most " + std::to_string(xfer_count_ - transfers_in_cycle_) + " may remain");
    }
    pending_count_ = count;
    if (count == 0) transfers_in_cycle_ = 0;
}

}  // namespace tracelet::trace
