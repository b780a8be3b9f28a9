// "watch": a live view of the newest load in a log folder, drawn from its
// flight record and the text log as the data source appends to both.
#pragma once

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "trace/model.hpp"
#include "trace/parser.hpp"
#include "trace/record.hpp"

namespace tracelet::trace {

struct WatchOptions {
    int64_t slow_ns = 5000000000;  // a call in flight longer than this is marked
};

// A load's files: its text log and its flight record ("" when it has none).
struct LoadFiles {
    std::string log, record;
    bool operator==(const LoadFiles& o) const { return log == o.log && record == o.record; }
};

// The newest load in a folder: the last log in session order and the last
// record beside it (a later load sharing the log file has the higher number).
std::optional<LoadFiles> newest_load(const std::string& folder);

// What the view knows of one load. refresh() reads what the data source has
// appended since the last call: the whole record (it is small and its
// slots change in place), the text log from where it was left.
class LoadView {
public:
    explicit LoadView(LoadFiles files);
    void refresh();
    std::vector<std::string> frame(int64_t now_ns, const WatchOptions& options) const;
    bool closed() const { return record_.header_ok && record_.closed; }
    const LoadFiles& files() const { return files_; }

private:
    // The current page as the text log shows it: a memory transfer's rows
    // against the length its DAT_IMAGEINFO announced.
    struct PageRows : Sink {
        bool open = false;
        long long length = -1, rows = 0;
        void call(Call&& c) override;
    };

    LoadFiles files_;
    FlightRecord record_;
    PageRows page_;
    Parser parser_;
    uint64_t log_read_ = 0;   // bytes of the text log fed to the parser
    uint64_t last_line_ = 0;  // where the last line starting with '[' (a call's, a message's) begins
    char last_byte_ = '\n';
    bool log_started_ = false;
};

// Draws frames of the newest load until a load seen running is unloaded
// cleanly (and no later load follows within a moment) or the user types q. once: one frame,
// plain text. Returns the exit status.
int run_watch(const std::string& folder, const WatchOptions& options, bool once, std::ostream& out);

}  // namespace tracelet::trace
