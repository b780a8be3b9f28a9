// A session is one or more log files, one per load of the data source, read
// in the order they were written.
#pragma once

#include <string>
#include <vector>

#include "trace/parser.hpp"

namespace tracelet::trace {

// True for "Twainlog_YYYYMMDD_HHMMSS_mmmm.txt" (the name, not a path).
bool is_log_file_name(const std::string& name);

// Expands folders to the log files in them and puts the files in the order of
// the time stamp in their names. Files with other names keep the order given,
// after the stamped ones of the same argument. Throws std::runtime_error for a
// path that does not exist or a folder without log files.
std::vector<std::string> session_files(const std::vector<std::string>& paths);

// Reads the files in the given order, one file at a time in bounded chunks.
// Throws std::runtime_error when a file cannot be opened.
void read_session(const std::vector<std::string>& files, Sink& sink, ParseOptions options = {});

}  // namespace tracelet::trace
