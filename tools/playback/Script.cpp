#include "Script.h"

#include <exception>
#include <unordered_map>

#include "trace/record.hpp"
#include "tracelet/twain.h"

namespace tracelet {
namespace playback {

namespace {

bool IsImageCall(const RecordedCall& c, uint16_t dat) { return (c.dg & 0xffff) == DG_IMAGE && c.dat == dat; }

RecordedImage ImageOf(const trace::FlightRecord& record, const trace::CallCapture* capture) {
    RecordedImage image;
    if (!capture || !capture->image.present) return image;
    image.present = true;
    image.length = capture->image.length;
    if (capture->image.stored && !capture->image.write_failed && capture->image.stored_bytes == image.length)
        image.file = record.image_path(capture->image);
    return image;
}

std::string StructureOf(const trace::CapturedData& data) {
    return data.present && !data.null_data ? data.structure.bytes : std::string();
}

}  // namespace

Script ScriptFrom(const trace::FlightRecord& record) {
    Script script;
    std::unordered_map<uint32_t, std::size_t> byId;  // the record's call id -> index in script.calls
    bool ended = false;
    bool pageOpen = false;  // the last call is a page by memory transfer that has not ended
    std::string imageInfo;
    for (std::size_t i = 0; i < record.calls.size(); ++i) {
        const trace::TimedCall& c = record.calls[i];
        if (ended) {
            script.cut += c.from_source ? 0 : 1;
            continue;
        }
        if (c.from_source) {
            const Notice notice{c.dg, c.dat, c.msg};
            const auto inside = c.during_id ? byId.find(c.during_id) : byId.end();
            if (inside != byId.end())
                script.calls[inside->second].inside.push_back(notice);
            else if (!script.calls.empty())
                script.calls.back().after.push_back(notice);
            continue;
        }
        // Nothing recorded says what the source answered to a call that
        // never returned, nor which calls would have followed.
        if (!c.ended() || c.rc < 0) {
            ended = true;
            ++script.cut;
            continue;
        }
        const trace::CallCapture* capture = record.capture_of(c.id);
        RecordedCall call;
        call.dg = c.dg;
        call.dat = c.dat;
        call.msg = c.msg;
        call.cap = c.cap;
        call.rc = static_cast<uint16_t>(c.rc);
        if (capture) {
            call.in = StructureOf(capture->in);
            call.out = StructureOf(capture->out);
            call.container = capture->out.has_block && !capture->out.block.cut && !capture->out.block.unreadable &&
                             !capture->out.block_too_small;
            if (call.container) call.containerBytes = capture->out.block.bytes;
        }
        if (IsImageCall(call, DAT_IMAGEINFO) && call.rc == TWRC_SUCCESS) imageInfo = call.out;
        if (IsImageCall(call, DAT_IMAGEMEMXFER)) {
            const RecordedStrip strip{call.out, call.rc, ImageOf(record, capture)};
            const bool more = call.rc == TWRC_SUCCESS;
            if (pageOpen) {
                RecordedCall& page = script.calls.back();
                page.strips.push_back(strip);
                page.rc = call.rc;
                byId[c.id] = script.calls.size() - 1;
                pageOpen = more;
                continue;
            }
            call.strips.push_back(strip);
            pageOpen = more;
        } else {
            pageOpen = false;
            call.image = ImageOf(record, capture);
        }
        if (call.image.present || !call.strips.empty()) call.imageInfo = imageInfo;
        byId[c.id] = script.calls.size();
        script.calls.push_back(std::move(call));
    }
    return script;
}

std::string CallText(uint32_t dg, uint16_t dat, uint16_t msg, int cap) {
    trace::TimedCall c;
    c.dg = dg;
    c.dat = dat;
    c.msg = msg;
    c.cap = cap;
    return trace::triplet_text(c);
}

LoadedScript LoadScript(const std::string& path, bool macosAbi) {
    LoadedScript loaded;
    try {
        loaded.record = trace::last_load_record({path});
    } catch (const std::exception& e) {
        loaded.problem = "recording \"" + path + "\" cannot be played: " + e.what();
        return loaded;
    }
    const trace::FlightRecord record = trace::read_flight_record(loaded.record);
    const trace::CaptureCheck check = trace::check_capture(record, macosAbi);
    if (check.status != trace::CaptureStatus::ok) {
        loaded.problem = check.message;
        return loaded;
    }
    loaded.script = ScriptFrom(record);
    if (loaded.script.calls.empty())
        loaded.problem = "recording \"" + loaded.record + "\" holds no application call that returned";
    return loaded;
}

}  // namespace playback
}  // namespace tracelet
