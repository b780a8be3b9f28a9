#include "trace/reader.hpp"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

namespace fs = std::filesystem;

namespace tracelet::trace {

bool is_log_file_name(const std::string& name) {
    // Twainlog_ + 8 digits + _ + 6 digits + _ + at least 4 digits + .txt
    const std::string prefix = "Twainlog_";
    const std::string suffix = ".txt";
    if (name.size() < prefix.size() + 8 + 1 + 6 + 1 + 4 + suffix.size()) return false;
    if (name.compare(0, prefix.size(), prefix) != 0) return false;
    if (name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    std::string stamp = name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
    for (std::size_t i = 0; i < stamp.size(); ++i) {
        bool sep = i == 8 || i == 15;
        if (sep ? stamp[i] != '_' : (stamp[i] < '0' || stamp[i] > '9')) return false;
    }
    return true;
}

namespace {

// Orders by the stamp; the millisecond field may have more than four digits
// (it reaches 1000), so compare it as a number.
bool stamp_less(const std::string& a, const std::string& b) {
    std::string na = fs::path(a).filename().string();
    std::string nb = fs::path(b).filename().string();
    int c = na.compare(9, 15, nb, 9, 15);
    if (c != 0) return c < 0;
    auto ms = [](const std::string& n) { return std::stol(n.substr(25, n.size() - 29)); };
    return ms(na) < ms(nb);
}

}  // namespace

std::vector<std::string> session_files(const std::vector<std::string>& paths) {
    std::vector<std::string> out;
    for (const std::string& p : paths) {
        std::error_code ec;
        if (fs::is_directory(p, ec)) {
            std::vector<std::string> logs;
            for (const auto& e : fs::directory_iterator(p, ec))
                if (e.is_regular_file() && is_log_file_name(e.path().filename().string()))
                    logs.push_back(e.path().string());
            if (logs.empty()) throw std::runtime_error("no Twainlog_*.txt file in folder " + p);
            std::sort(logs.begin(), logs.end(), stamp_less);
            out.insert(out.end(), logs.begin(), logs.end());
        } else if (fs::exists(p, ec)) {
            out.push_back(p);
        } else {
            throw std::runtime_error("no such file: " + p);
        }
    }
    // Several stamped files named one by one: put them in time order.
    bool all_stamped = std::all_of(out.begin(), out.end(),
                                   [](const std::string& f) { return is_log_file_name(fs::path(f).filename().string()); });
    if (all_stamped) std::stable_sort(out.begin(), out.end(), stamp_less);
    return out;
}

void read_session(const std::vector<std::string>& files, Sink& sink, ParseOptions options) {
    Parser parser(sink, options);
    std::vector<char> buf(1 << 20);
    for (std::size_t i = 0; i < files.size(); ++i) {
        std::unique_ptr<FILE, int (*)(FILE*)> f(std::fopen(files[i].c_str(), "rb"), &std::fclose);
        if (!f) throw std::runtime_error("cannot open " + files[i]);
        parser.begin_file(static_cast<int>(i), files[i]);
        std::size_t n;
        while ((n = std::fread(buf.data(), 1, buf.size(), f.get())) > 0) parser.feed(std::string_view(buf.data(), n));
        parser.end_file();
    }
}

}  // namespace tracelet::trace
