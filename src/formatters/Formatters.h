// The formatters: each prints one TWAIN structure as its block of the log,
// from a copy of it, one line per member in log order, through the renderer
// (TRACE_APPEND) and the value helpers (render/Values.h). They know nothing
// of the analyzer: what a block needs of the call it belongs to comes as an
// argument.
#ifndef TRACELET_FORMATTERS_H
#define TRACELET_FORMATTERS_H

#include <stddef.h>
#include <stdint.h>

#include "render/Format.h"
#include "render/TextOut.h"
#include "render/Values.h"
#include "tracelet/logmodel.h"
#include "tracelet/twain.h"
#include "tracelet/twain_nv.h"

class ForeignReader;
using tracelet::render::TextOut;

// Bytes of text the log text buffer of a result block holds.
using tracelet::logmodel::kLogTextSize;

// The log texts of the reads: the note that ends an item list at a page
// that cannot be read (item number, then CR LF), and the note, once per
// log, that the checks are refused and reads go unchecked (CR LF).
constexpr char kListCutNote[] = "        !!! list cut short: item %lu is not readable memory !!!%s";
// The notes of a container that claims more than its known block holds.
using tracelet::logmodel::kCountNoteFormat;
using tracelet::logmodel::kNoEndNoteFormat;
using tracelet::logmodel::kShortHeaderNoteFormat;
// The second stands where the refusal was met: among the items of a list
// (eight blanks), or among a container's members (six).
constexpr char kUncheckedNote[] = "      !!! memory checks refused by the system: reads are not checked !!!%s";
constexpr char kUncheckedItemNote[] = "        !!! memory checks refused by the system: reads are not checked !!!%s";

// --- Control and transfer structures (TwControl.cpp) ---------------------------
// `origin`: the identity handed over when the manager is opened.
// `handle`: the item is a handle (a transfer group, a native transfer).
void DumpIdentity(TextOut& out, const TW_IDENTITY& v, bool origin);
void DumpVersion(TextOut& out, const TW_VERSION& v);
void DumpEvent(TextOut& out, const TW_EVENT& v);
void DumpPendingXfers(TextOut& out, const TW_PENDINGXFERS& v);
void DumpSetupMemXfer(TextOut& out, const TW_SETUPMEMXFER& v);
void DumpSetupFileXfer(TextOut& out, const TW_SETUPFILEXFER& v);
void DumpStatus(TextOut& out, const TW_STATUS& v);
void DumpUserInterface(TextOut& out, const TW_USERINTERFACE& v);
void DumpCustomDsData(TextOut& out, const TW_CUSTOMDSDATA& v);
void DumpUint32(TextOut& out, const TW_UINT32& v, bool handle);
void DumpExtImageInfo(TextOut& out, const TW_EXTIMAGEINFO& v);
void DumpInfo(TextOut& out, const TW_INFO& v);
void DumpMemory(TextOut& out, const TW_MEMORY& v);
void DumpEntryPoint(TextOut& out, const TW_ENTRYPOINT& v);

// --- Image description structures (TwImage.cpp) ----------------------------------
void DumpImageInfo(TextOut& out, const TW_IMAGEINFO& v);
void DumpImageLayout(TextOut& out, const TW_IMAGELAYOUT& v);
void DumpFrame(TextOut& out, const TW_FRAME& v);
void DumpImageMemXfer(TextOut& out, const TW_IMAGEMEMXFER& v);
void DumpJpegCompression(TextOut& out, const TW_JPEGCOMPRESSION& v);
void DumpGrayResponse(TextOut& out, const TW_GRAYRESPONSE& v);
void DumpRgbResponse(TextOut& out, const TW_RGBRESPONSE& v);
void DumpElement8(TextOut& out, const TW_ELEMENT8& v);
void DumpCieColor(TextOut& out, const TW_CIECOLOR& v);
void DumpTransformStage(TextOut& out, const TW_TRANSFORMSTAGE& v);
void DumpDecodeFunction(TextOut& out, const TW_DECODEFUNCTION& v);
void DumpCiePoint(TextOut& out, const TW_CIEPOINT& v);
void DumpPalette8(TextOut& out);

// --- Vendor-extension structures (TwVendor.cpp) ----------------------------------
void DumpNvAutoExposure(TextOut& out, const TWNV_AUTOEXPOSURE& v);
void DumpNvRgbMatrix(TextOut& out, const TWNV_RGBMATRIX& v);
void DumpNvColorSmoothing(TextOut& out, const TWNV_COLORSMOOTHING& v);
void DumpHardwareInfo(TextOut& out, const TWNV_HARDWAREINFO& v);
void DumpNvSkewInfo(TextOut& out, const TWNV_LOCATIONDATA& v);
void DumpUnsharpMask(TextOut& out, const TWNV_USMPARAM& v);
void DumpNvSettingFrame(TextOut& out, const TWNV_SETTINGFRAME& v);
void DumpNvThresholdInfo(TextOut& out, const TWNV_THRESHOLDINFO& v);
void DumpNvReviseBaseParam(TextOut& out, const TWNV_REVISEBASEPARM& v);
void DumpNvUsmInfo(TextOut& out, const TWNV_USMINFO& v);
void DumpColorCoeff(TextOut& out, const TW_FIX32 (&coeff)[9]);

// --- Capability containers (TwCapability.cpp) ------------------------------------
// A failed call's container holds nothing the application may read: only
// the TW_CAPABILITY is shown.
void DumpCapability(TextOut& out, const TW_CAPABILITY& cap, bool failed);
void DumpContainer(TextOut& out, const TW_CAPABILITY& cap);
// A container in a block of `blockBytes` bytes (SIZE_MAX: not known).
void DumpArray(TextOut& out, TW_UINT16 cap, const TW_ARRAY* a, size_t blockBytes);
void DumpEnumeration(TextOut& out, TW_UINT16 cap, const TW_ENUMERATION* e, size_t blockBytes);
void DumpOneValue(TextOut& out, TW_UINT16 cap, const TW_ONEVALUE* o, size_t blockBytes);
void DumpRange(TextOut& out, TW_UINT16 cap, const TW_RANGE* r, size_t blockBytes);
void DumpCapExt(TextOut& out, const TW_CAPEXT& ext);

// --- Item values (Items.cpp) -------------------------------------------------------
// The item list of a container (see there). `itemBytes` other than SIZE_MAX
// is the block's known size from the first item on: a list that claims more
// ends with a note.
void ItemList(TextOut& out, TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 numItems, const void* items,
              size_t itemBytes, ForeignReader* reader);
// The text of one item of `itemType` at `value` into `text` (257 bytes); its length.
size_t ValueText(TW_UINT16 cap, TW_UINT16 itemType, const void* value, char* text);
// A capability's TW_UINT16 value by the name table of that capability (64 bytes).
void CapValueName(TW_UINT16 cap, TW_UINT16 value, char* text);
void SupportedCapName(TW_UINT16 capId, char* text);
void NvVersionText(TW_UINT16 version, char* text);

#endif  // TRACELET_FORMATTERS_H
