#include "trace/generator.hpp"

#include <cstdarg>
#include <cstdio>

#include "trace/names.hpp"
#include "tracelet/twain.h"

namespace tracelet::trace {

namespace {

class Writer {
public:
    explicit Writer(std::string& out) : out_(out) {}

    void line(const char* fmt, ...) __attribute__((format(printf, 2, 3))) {
        char buf[1024];
        va_list ap;
        va_start(ap, fmt);
        int n = std::vsnprintf(buf, sizeof buf, fmt, ap);
        va_end(ap);
        if (n > 0) out_.append(buf, static_cast<std::size_t>(n) < sizeof buf ? static_cast<std::size_t>(n) : sizeof buf - 1);
        out_ += "\r\n";
    }
    void triplet(const char* dg, const char* dat, const char* msg, const char* cap = nullptr) {
        ++seq_;
        ++calls_;
        if (cap)
            line("[%05ld] [APP] %s/%s/%s (%s)", seq_, dg, dat, msg, cap);
        else
            line("[%05ld] [APP] %s/%s/%s", seq_, dg, dat, msg);
    }
    void result(const char* rc) {
        line("        Return Code = [%s]", rc);
        addr_ = (addr_ * 1103515245u + 12345u) & 0x0ffffff0u;
        line("pData   = <0x%08x>", addr_ | 0x08000000u);
    }
    void state(int s) {
        out_ += "\r\n";
        line("TWAIN Status = [%d]", s);
    }
    std::size_t calls() const { return calls_; }
    void event() { ++calls_; }

private:
    std::string& out_;
    long seq_ = 0;
    std::size_t calls_ = 0;
    unsigned addr_ = 0x0bf3a1d0u;
};

void identity(Writer& w) {
    w.line("  TW_IDENTITY = {");
    w.line("    Id              = [%ld]", 1L);
    w.line("    Version         =");
    w.line("    TW_VERSION = {");
    w.line("      MajorNum = [%d]", 2);
    w.line("      MinorNum = [%d]", 1);
    w.line("      Language = [%s]", "TWLG_ENGLISH_USA");
    w.line("      Country  = [%s]", "TWCY_USA");
    w.line("      Info     = [%s]", "2.1.0");
    w.line("    }");
    w.line("    ProtocolMajor   = [%d]", 2);
    w.line("    ProtocolMinor   = [%d]", 4);
    w.line("    SupportedGroups = [%ld]", 3L);
    w.line("    Manufacturer    = [%s]", "Tracelet");
    w.line("    ProductFamily   = [%s]", "Demo");
    w.line("    ProductName     = [%s]", "Demo Scanner");
    w.line("  }");
}

// The lines of a TW_CAPABILITY before its container's own block.
void capability_head(Writer& w, const char* cap, const char* con_type, unsigned handle) {
    w.line("  TW_CAPABILITY = {");
    w.line("    Cap        = [%s]", cap);
    w.line("    ConType    = [%s]", con_type);
    w.line("    hContainer = <0x%08x>", handle);
}

void capability_enum(Writer& w, const char* cap, const char* type, const char* const* items, int n, int current) {
    capability_head(w, cap, "TWON_ENUMERATION", 0x0012a4c0u);
    w.line("    TW_ENUMERATION = {");
    w.line("      ItemType     = [%s]", type);
    w.line("      NumItems     = [%d]", n);
    w.line("      CurrentIndex = [%d]", current);
    w.line("      DefaultIndex = [%d]", current);
    w.line("      ItemList = {");
    for (int i = 0; i < n; ++i) w.line("        %3d:%s%s", i, items[i], i + 1 < n ? "," : "");
    w.line("      }");
    w.line("    }");
    w.line("  }");
}

void capability_one(Writer& w, const char* cap, const char* type, const char* value) {
    capability_head(w, cap, "TWON_ONEVALUE", 0x0012a4e0u);
    w.line("    TW_ONEVALUE = {");
    w.line("      ItemType = [%s]", type);
    w.line("      Item     = [%s]", value);
    w.line("    }");
    w.line("  }");
}

}  // namespace

std::string generate_session(const GeneratorOptions& o) {
    std::string out;
    out.reserve(o.calls * 420);
    Writer w(out);
    // The table's names are NUL-terminated texts of the names library.
    const char* const kPixelTypes[] = {constant_name("twpt_macros", TWPT_BW).data(),
                                       constant_name("twpt_macros", TWPT_GRAY).data(),
                                       constant_name("twpt_macros", TWPT_RGB).data()};
    static const char* const kResolutions[] = {"75.000", "150.000", "300.000", "600.000", "1200.000"};

    w.triplet("DG_CONTROL", "DAT_IDENTITY", "MSG_OPENDS");
    w.result("TWRC_SUCCESS");
    identity(w);
    w.state(4);

    const long rows_per_buffer = 64;
    const long width = 2480;
    const long bytes_per_row = width;  // 8-bit gray
    int page = 0;
    while (w.calls() + 1 < o.calls || page == 0) {
        ++page;
        w.triplet("DG_CONTROL", "DAT_CAPABILITY", "MSG_GET", "ICAP_PIXELTYPE");
        w.result("TWRC_SUCCESS");
        capability_enum(w, "ICAP_PIXELTYPE", "TWTY_UINT16", kPixelTypes, 3, 1);
        w.state(4);
        w.triplet("DG_CONTROL", "DAT_CAPABILITY", "MSG_GET", "ICAP_XRESOLUTION");
        w.result("TWRC_SUCCESS");
        capability_enum(w, "ICAP_XRESOLUTION", "TWTY_FIX32", kResolutions, 5, 2);
        w.state(4);
        w.triplet("DG_CONTROL", "DAT_CAPABILITY", "MSG_SET", "CAP_XFERCOUNT");
        w.result("TWRC_SUCCESS");
        capability_one(w, "CAP_XFERCOUNT", "TWTY_INT16", "1");
        w.state(4);

        w.triplet("DG_CONTROL", "DAT_USERINTERFACE", "MSG_ENABLEDS");
        w.result("TWRC_SUCCESS");
        w.line("  TW_USERINTERFACE = {");
        w.line("    ShowUI  = [false]");
        w.line("    ModalUI = [false]");
        w.line("    hParent = <0x00000000>");
        w.line("  }");
        w.state(5);

        w.event();
        w.result("TWRC_DSEVENT");
        w.line("  TW_EVENT = {");
        w.line("    pEvent    = <0x%08x>", 0x0bf3c000u);
        w.line("    TWMessage = [MSG_XFERREADY]");
        w.line("  }");
        w.state(6);

        long length = rows_per_buffer * static_cast<long>(o.buffers_per_page);
        w.triplet("DG_IMAGE", "DAT_IMAGEINFO", "MSG_GET");
        w.result("TWRC_SUCCESS");
        w.line("  TW_IMAGEINFO = {");
        w.line("    XResolution      = [%.3f]", 300.0);
        w.line("    YResolution      = [%.3f]", 300.0);
        w.line("    ImageWidth       = [%ld]", width);
        w.line("    ImageLength      = [%ld]", length);
        w.line("    SamplesPerPixel  = [%d]", 1);
        w.line("    BitsPerSamples[] = {8,0,0,0,0,0,0,0}");
        w.line("    BitsPerPixel     = [%d]", 8);
        w.line("    Planar           = [false]");
        w.line("    PixelType        = [TWPT_GRAY]");
        w.line("    Compression      = [TWCP_NONE]");
        w.line("  }");
        w.state(6);

        w.triplet("DG_IMAGE", "DAT_IMAGELAYOUT", "MSG_GET");
        w.result("TWRC_SUCCESS");
        w.line("  TW_IMAGELAYOUT = {");
        w.line("    Frame          =");
        w.line("    TW_FRAME = {");
        w.line("      Left   = [%.3f]", 0.0);
        w.line("      Top    = [%.3f]", 0.0);
        w.line("      Right  = [%.3f]", 8.267);
        w.line("      Bottom = [%.3f]", 11.693);
        w.line("    }");
        w.line("    DocumentNumber = [%d]", 1);
        w.line("    PageNumber     = [%d]", page);
        w.line("    FrameNumber    = [%d]", 1);
        w.line("  }");
        w.state(6);

        int state = 6;
        if (o.native) {
            w.triplet("DG_IMAGE", "DAT_IMAGENATIVEXFER", "MSG_GET");
            w.result("TWRC_XFERDONE");
            w.line("  TW_UINT32 = {");
            w.line("    Item = <0x%08x>", 0x0c100000u + static_cast<unsigned>(page) * 16u);
            w.line("  }");
            w.state(7);
            state = 7;
        } else {
            w.triplet("DG_CONTROL", "DAT_SETUPMEMXFER", "MSG_GET");
            w.result("TWRC_SUCCESS");
            w.line("  TW_SETUPMEMXFER = {");
            w.line("    MinBufSize = [%ld]", 16384L);
            w.line("    MaxBufSize = [%ld]", 1048576L);
            w.line("    Preferred  = [%ld]", rows_per_buffer * bytes_per_row);
            w.line("  }");
            w.state(6);
            for (std::size_t b = 0; b < o.buffers_per_page; ++b) {
                bool last = b + 1 == o.buffers_per_page;
                w.triplet("DG_IMAGE", "DAT_IMAGEMEMXFER", "MSG_GET");
                w.result(last ? "TWRC_XFERDONE" : "TWRC_SUCCESS");
                w.line("  TW_IMAGEMEMXFER = {");
                w.line("    Compression  = [TWCP_NONE]");
                w.line("    BytesPerRow  = [%ld]", bytes_per_row);
                w.line("    Columns      = [%ld]", width);
                w.line("    Rows         = [%ld]", rows_per_buffer);
                w.line("    XOffset      = [%d]", 0);
                w.line("    YOffset      = [%ld]", rows_per_buffer * static_cast<long>(b));
                w.line("    BytesWritten = [%ld]", rows_per_buffer * bytes_per_row);
                w.line("    Memory       =");
                w.line("    TW_MEMORY = {");
                w.line("      Flags  = [0x%x]", 0x11u);
                w.line("      Length = [%ld]", rows_per_buffer * bytes_per_row);
                w.line("      TheMem = <0x%08x>", 0x0d000000u);
                w.line("    }");
                w.line("}");
                w.state(7);
                state = 7;
            }
        }
        (void)state;
        w.triplet("DG_CONTROL", "DAT_PENDINGXFERS", "MSG_ENDXFER");
        w.result("TWRC_SUCCESS");
        w.line("  TW_PENDINGXFERS = {");
        w.line("    Count = [%d]", 0);
        w.line("    EOJ   = [%ld]", 0L);
        w.line("  }");
        w.state(5);

        w.triplet("DG_CONTROL", "DAT_USERINTERFACE", "MSG_DISABLEDS");
        w.result("TWRC_SUCCESS");
        w.line("  TW_USERINTERFACE = {");
        w.line("    ShowUI  = [false]");
        w.line("    ModalUI = [false]");
        w.line("    hParent = <0x00000000>");
        w.line("  }");
        w.state(4);
    }

    w.triplet("DG_CONTROL", "DAT_IDENTITY", "MSG_CLOSEDS");
    w.result("TWRC_SUCCESS");
    identity(w);
    w.state(3);
    return out;
}

}  // namespace tracelet::trace
