#include "test_support.hpp"

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace tracelet::trace::testing {

std::string data_path(const std::string& name) { return std::string(TRACELET_LOG_TEST_DATA) + "/" + name; }

std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    if (!f) throw std::runtime_error("cannot read " + path);
    return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

ProgramRun run_program(const std::string& args) { return run_command(std::string(TRACELET_LOG_PROGRAM) + " " + args); }

ProgramRun run_command(const std::string& command) {
    ProgramRun r;
    std::string cmd = command + " 2>&1";
    FILE* p = popen(cmd.c_str(), "r");
    if (!p) return r;
    std::array<char, 4096> buf;
    std::size_t n;
    while ((n = std::fread(buf.data(), 1, buf.size(), p)) > 0) r.out.append(buf.data(), n);
    int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    return r;
}

bool chromium_installed() { return run_command("command -v chromium").status == 0; }

ProgramRun headless_dom(const std::string& url, const std::string& profile, const std::string& flags) {
    return run_command("timeout 180 chromium --headless --no-sandbox --disable-gpu --disable-quic --no-first-run "
                       "--disable-background-networking --disable-component-update --disable-sync --user-data-dir='" +
                       profile + "' " + flags + " --dump-dom '" + url + "' 2>/dev/null");
}

}  // namespace tracelet::trace::testing
