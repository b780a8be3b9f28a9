// "summary": what a session did, gathered in one pass over its calls.
#pragma once

#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "trace/model.hpp"
#include "trace/states.hpp"

namespace tracelet::trace {

class Summary : public Sink {
public:
    void file(int index, const std::string& name) override;
    void call(Call&& c) override;
    void message(Message&&) override { ++messages_; }
    void problem(Problem&& p) override;

    void print(std::ostream& out) const;

    struct CapSet {
        std::string call, value, rc;
    };
    struct Capability {
        std::string container, value, from_call;
        std::vector<CapSet> sets;
        std::size_t calls = 0;
    };
    struct Page {
        std::string first_call, last_call, mechanism, result;
        std::string width, length, pixel_type, bits, xres, compression;
        std::size_t buffers = 0;
        long long bytes = 0, min_buffer = -1, max_buffer = 0;
        std::string handle;
    };
    const std::map<std::string, Capability>& capabilities() const { return caps_; }
    const std::vector<Page>& pages() const { return pages_; }

private:
    struct Count {
        std::size_t calls = 0, failures = 0;
    };
    struct Change {
        std::string call, triplet;
        int from, to;
        bool inferred;
    };
    struct Load {
        int file;
        std::size_t line, calls;
    };
    struct Failure {
        std::string call, before, text, after;
        int state;
    };

    SessionStates tracker_;
    std::vector<std::pair<std::string, std::size_t>> files_;
    std::vector<Load> loads_;
    std::map<std::string, Count> triplets_;
    std::vector<Change> timeline_;
    std::vector<Failure> failures_;
    bool failure_waits_ = false;
    std::map<std::string, Capability> caps_;
    std::vector<Page> pages_;
    Page info_;  // TW_IMAGEINFO of the image to come
    bool page_open_ = false;
    std::string previous_;  // id, triplet and return code of the previous call
    std::size_t calls_ = 0, events_ = 0, notifications_ = 0, messages_ = 0, overflows_ = 0, incomplete_ = 0;
    std::vector<Problem> problems_;
    std::size_t problem_count_ = 0;
};

}  // namespace tracelet::trace
