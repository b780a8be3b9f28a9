// Writes synthetic trace logs in the data source's exact text format, for the
// benchmark and for tests that need long sessions.
#pragma once

#include <cstddef>
#include <string>

namespace tracelet::trace {

struct GeneratorOptions {
    std::size_t calls = 1000;        // stop once at least this many calls are written
    std::size_t buffers_per_page = 8;
    bool native = false;             // native transfers instead of memory transfers
};

// A well-formed session: open, negotiation, then enable/transfer/disable cycles
// with one page each, then close. Every line ends with CR LF.
std::string generate_session(const GeneratorOptions& options);

}  // namespace tracelet::trace
