#include "ChildRun.h"

#include <signal.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <thread>

#include "trace/reader.hpp"

namespace fs = std::filesystem;

namespace session {

std::string Stamp(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[64];
    std::strftime(text, sizeof text, format, &local);
    return text;
}

std::vector<std::string> FilesIn(const std::string& dir) {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(dir, ec))
        if (e.is_regular_file(ec)) names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

Ending WatchChild(pid_t child, int timeoutSeconds) {
    Ending e;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    int status = 0;
    for (;;) {
        const pid_t done = waitpid(child, &status, WNOHANG);
        if (done == child) break;
        if (done < 0) {
            e.code = -1;
            return e;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            e.kind = Ending::Hung;
            return e;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    if (WIFSIGNALED(status)) {
        e.kind = Ending::Crashed;
        e.code = WTERMSIG(status);
    } else {
        e.code = WEXITSTATUS(status);
    }
    return e;
}

std::vector<std::string> TakeNewTrace(const std::string& logDir, const std::vector<std::string>& before,
                                      const std::string& outDir) {
    std::vector<std::string> logs;
    std::error_code ec;
    for (const std::string& name : FilesIn(logDir)) {
        if (std::binary_search(before.begin(), before.end(), name)) continue;
        const fs::path from = fs::path(logDir) / name, to = fs::path(outDir) / name;
        fs::rename(from, to, ec);
        if (ec) {
            fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec);
            fs::remove(from, ec);
        }
        if (tracelet::trace::is_log_file_name(name)) logs.push_back(to.string());
    }
    std::sort(logs.begin(), logs.end());
    return logs;
}

std::string SeqText(long long seq) {
    char text[32];
    std::snprintf(text, sizeof text, "[%05lld]", seq);
    return text;
}

}  // namespace session
