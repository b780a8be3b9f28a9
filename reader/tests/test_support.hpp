// Shared helpers of the reader tests: the test logs and the program itself.
#pragma once

#include <string>

namespace tracelet::trace::testing {

std::string data_path(const std::string& name);
std::string read_file(const std::string& path);

struct ProgramRun {
    int status = -1;
    std::string out;
};
// Runs tracelet-log with the given arguments (shell-quoted by the caller).
ProgramRun run_program(const std::string& args);
ProgramRun run_command(const std::string& command);  // any shell command, standard error included

bool chromium_installed();
// The page's DOM once its scripts ran in headless Chromium (status 0), with a
// browser profile in `profile`; `flags` go to chromium as they are.
ProgramRun headless_dom(const std::string& url, const std::string& profile, const std::string& flags = "");

}  // namespace tracelet::trace::testing
