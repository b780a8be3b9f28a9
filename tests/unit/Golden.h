// Expected log texts kept as data: tests/unit/data/<file>.txt holds blocks,
// each headed by a line "== name"; every line after it is one log line, ended
// by CR LF in the log. Lines before the first head are notes.
#ifndef TRACELET_TEST_GOLDEN_H
#define TRACELET_TEST_GOLDEN_H

#include <fstream>
#include <string>

inline std::string Golden(const std::string& file, const std::string& name) {
    std::ifstream in(std::string(TRACELET_UNIT_DATA) + "/" + file + ".txt", std::ios::binary);
    std::string line, text;
    bool inside = false;
    while (std::getline(in, line)) {
        if (line.compare(0, 3, "== ") == 0) {
            if (inside) return text;
            inside = line.substr(3) == name;
        } else if (inside) {
            text += line + "\r\n";
        }
    }
    return inside ? text : "(no text " + name + " in " + file + ".txt)";
}

#endif  // TRACELET_TEST_GOLDEN_H
