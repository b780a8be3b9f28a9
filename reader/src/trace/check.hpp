// TWAIN conformance checks over a session, one call at a time.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "trace/model.hpp"
#include "trace/states.hpp"

namespace tracelet::trace {

struct Rule {
    const char* id;
    const char* title;  // the rule, as a TWAIN developer would state it
};

// All rules, in the order they are listed by "check --rules".
const std::vector<Rule>& check_rules();

struct Finding {
    std::string rule;     // Rule::id
    std::string call;     // Call::id() of the call the finding is about
    int file = 0;
    std::size_t line = 0;
    std::string triplet;
    std::string message;
};

// Feed calls in log order, then finish(). Findings are reported through the
// callback as soon as they are known; memory stays bounded whatever the
// length of the session.
class Checker {
public:
    using Report = std::function<void(const Finding&)>;
    explicit Checker(Report report, const ValidStates& table = ValidStates::builtin());

    void feed(const Call& c);
    void finish();
    std::size_t calls() const { return calls_; }

private:
    struct Pending {  // a failed call still waiting for DAT_STATUS
        std::string call, triplet, rc;
        int file = 0;
        std::size_t line = 0;
    };
    struct Image {  // the memory transfer of the current image
        bool active = false;
        bool done = false;  // TWRC_XFERDONE seen
        bool check_rows = true;
        long long rows = 0;
        long long length = 0;  // ImageLength of the last TW_IMAGEINFO
        std::string done_call, done_triplet;
        int file = 0;
        std::size_t line = 0;
    };

    void report(const std::string& rule, const Call& c, std::string message);
    void check_status(const Call& c);
    void check_state(const Call& c, const SessionStates::Step& s);
    void check_memxfer(const Call& c, const SessionStates::Step& s);
    void check_endxfer(const Call& c, const SessionStates::Step& s);
    void check_lying_count(const Call& c);
    void end_of_load(const std::string& why);
    void settle_image();

    Report report_;
    const ValidStates& table_;
    SessionStates tracker_;
    std::optional<Pending> pending_;
    Image image_;
    long long last_image_length_ = 0;
    long long pending_count_ = -2;  // -2: not known
    long long xfer_count_ = -1;     // CAP_XFERCOUNT as negotiated; -1: any number
    long long transfers_in_cycle_ = 0;
    int file_ = -1;
    int load_ = -1;
    std::size_t calls_ = 0;
};

}  // namespace tracelet::trace
