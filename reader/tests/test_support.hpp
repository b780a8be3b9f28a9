// Shared helpers of the reader tests: the test logs and the program itself.
#pragma once

#include <string>
#include <vector>

#include "trace/session.hpp"

namespace tracelet::trace::testing {

std::string data_path(const std::string& name);
std::string read_file(const std::string& path);
Session load(const std::string& name);  // a file under tests/data, text kept

// Turns LF line ends into CR LF, as the data source writes them.
std::string crlf(const std::string& lf_text);

struct ProgramRun {
    int status = -1;
    std::string out;
};
// Runs tracelet-log with the given arguments (shell-quoted by the caller).
ProgramRun run_program(const std::string& args);
ProgramRun run_command(const std::string& command);  // any shell command, standard error included

const Call* find_call(const Session& s, const std::string& id);

}  // namespace tracelet::trace::testing
