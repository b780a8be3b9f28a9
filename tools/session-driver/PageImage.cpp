#include "PageImage.h"

#include <cctype>
#include <cerrno>
#include <cstring>
#include <fstream>

#include "tracelet/twain.h"

namespace session {

std::string PnmExtension(const PageImage& page) {
    switch (page.pixelType) {
    case TWPT_BW: return ".pbm";
    case TWPT_GRAY: return ".pgm";
    default: return ".ppm";
    }
}

bool WritePnm(const PageImage& page, const std::string& path, std::string* error) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        *error = std::strerror(errno);
        return false;
    }
    const char* magic = page.pixelType == TWPT_BW ? "P4" : page.pixelType == TWPT_GRAY ? "P5" : "P6";
    file << magic << "\n# scanned by tracelet-session\n" << page.width << " " << page.height << "\n";
    if (page.pixelType != TWPT_BW) file << (page.bitsPerSample == 16 ? 65535 : 255) << "\n";

    const std::size_t rowBytes = page.RowBytes();
    std::vector<unsigned char> row(rowBytes);
    for (std::uint32_t y = 0; y < page.height; ++y) {
        const unsigned char* src = page.pixels.data() + y * rowBytes;
        if (page.pixelType == TWPT_BW) {
            for (std::size_t i = 0; i < rowBytes; ++i) row[i] = static_cast<unsigned char>(~src[i]);
        } else if (page.bitsPerSample == 16) {
            for (std::size_t i = 0; i + 1 < rowBytes; i += 2) {
                row[i] = src[i + 1];  // host (little-endian) to big-endian
                row[i + 1] = src[i];
            }
        } else {
            std::memcpy(row.data(), src, rowBytes);
        }
        file.write(reinterpret_cast<const char*>(row.data()), static_cast<std::streamsize>(rowBytes));
    }
    file.close();
    if (!file) {
        *error = "write failed";
        return false;
    }
    return true;
}

namespace {

// Next header token, skipping white space and comments.
bool Token(std::istream& in, std::string* token) {
    token->clear();
    int c;
    while ((c = in.get()) != EOF) {
        if (c == '#') {
            while ((c = in.get()) != EOF && c != '\n') {
            }
            continue;
        }
        if (!std::isspace(c)) break;
    }
    while (c != EOF && !std::isspace(c) && c != '#') {
        token->push_back(static_cast<char>(c));
        c = in.get();
    }
    return !token->empty();
}

}  // namespace

bool ReadPnmHeader(const std::string& path, PnmHeader* header) {
    std::ifstream in(path, std::ios::binary);
    std::string t;
    if (!in || !Token(in, &t) || (t != "P4" && t != "P5" && t != "P6")) return false;
    header->magic = t;
    std::string w, h, m = "1";
    if (!Token(in, &w) || !Token(in, &h)) return false;
    if (t != "P4" && !Token(in, &m)) return false;
    try {
        header->width = static_cast<std::uint32_t>(std::stoul(w));
        header->height = static_cast<std::uint32_t>(std::stoul(h));
        header->maxval = static_cast<std::uint32_t>(std::stoul(m));
    } catch (...) {
        return false;
    }
    header->dataOffset = static_cast<std::size_t>(in.tellg());
    return true;
}

}  // namespace session
