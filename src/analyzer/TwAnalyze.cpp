// The Tw*Analyze members: each copies its structure out of the caller's
// memory once and hands the copy to its formatter (src/formatters/).
#include "analyzer/ParaAnalyze.h"
#include "formatters/Formatters.h"

bool CParaAnalyze::TwIdentityAnalyze(const TW_IDENTITY* p) {
    if (p) DumpIdentity(m_out, CopyIn<TW_IDENTITY>(p), m_MSG == MSG_OPENDSM);
    return true;
}

bool CParaAnalyze::TwVersionAnalyze(const TW_VERSION* p) {
    if (p) DumpVersion(m_out, CopyIn<TW_VERSION>(p));
    return true;
}

bool CParaAnalyze::TwEventAnalyze(const TW_EVENT* p) {
    if (p) DumpEvent(m_out, CopyIn<TW_EVENT>(p));
    return true;
}

bool CParaAnalyze::TwPendingXfersAnalyze(const TW_PENDINGXFERS* p) {
    if (p) DumpPendingXfers(m_out, CopyIn<TW_PENDINGXFERS>(p));
    return true;
}

bool CParaAnalyze::TwSetupMemXferAnalyze(const TW_SETUPMEMXFER* p) {
    if (p) DumpSetupMemXfer(m_out, CopyIn<TW_SETUPMEMXFER>(p));
    return true;
}

bool CParaAnalyze::TwSetupFileXferAnalyze(const TW_SETUPFILEXFER* p) {
    if (p) DumpSetupFileXfer(m_out, CopyIn<TW_SETUPFILEXFER>(p));
    return true;
}

bool CParaAnalyze::TwStatusAnalyze(const TW_STATUS* p) {
    if (p) DumpStatus(m_out, CopyIn<TW_STATUS>(p));
    return true;
}

bool CParaAnalyze::TwUserInterfaceAnalyze(const TW_USERINTERFACE* p) {
    if (p) DumpUserInterface(m_out, CopyIn<TW_USERINTERFACE>(p));
    return true;
}

bool CParaAnalyze::TwCustomDsDataAnalyze(const TW_CUSTOMDSDATA* p) {
    if (p) DumpCustomDsData(m_out, CopyIn<TW_CUSTOMDSDATA>(p));
    return true;
}

bool CParaAnalyze::TwUint32(const void* p) {
    if (p) DumpUint32(m_out, CopyIn<TW_UINT32>(p), m_DAT == DAT_XFERGROUP || m_DAT == DAT_IMAGENATIVEXFER);
    return true;
}

bool CParaAnalyze::TwExtImageInfoAnalyze(const TW_EXTIMAGEINFO* p) {
    if (p) DumpExtImageInfo(m_out, CopyIn<TW_EXTIMAGEINFO>(p));
    return true;
}

bool CParaAnalyze::TwMemoryAnalyze(const TW_MEMORY* p) {
    if (p) DumpMemory(m_out, CopyIn<TW_MEMORY>(p));
    return true;
}

bool CParaAnalyze::TwEntryPointAnalyze(const TW_ENTRYPOINT* p) {
    if (p) DumpEntryPoint(m_out, CopyIn<TW_ENTRYPOINT>(p));
    return true;
}

bool CParaAnalyze::TwImageInfoAnalyze(const TW_IMAGEINFO* p) {
    if (p) DumpImageInfo(m_out, CopyIn<TW_IMAGEINFO>(p));
    return true;
}

bool CParaAnalyze::TwImageLayoutAnalyze(const TW_IMAGELAYOUT* p) {
    if (p) DumpImageLayout(m_out, CopyIn<TW_IMAGELAYOUT>(p));
    return true;
}

bool CParaAnalyze::TwImageMemXferAnalyze(const TW_IMAGEMEMXFER* p) {
    if (p) DumpImageMemXfer(m_out, CopyIn<TW_IMAGEMEMXFER>(p));
    return true;
}

bool CParaAnalyze::TwJpegCompressionAnalyze(const TW_JPEGCOMPRESSION* p) {
    if (p) DumpJpegCompression(m_out, CopyIn<TW_JPEGCOMPRESSION>(p));
    return true;
}

bool CParaAnalyze::TwGrayResponseAnalyze(const TW_GRAYRESPONSE* p) {
    if (p) DumpGrayResponse(m_out, CopyIn<TW_GRAYRESPONSE>(p));
    return true;
}

bool CParaAnalyze::TwRgbResponseAnalyze(const TW_RGBRESPONSE* p) {
    if (p) DumpRgbResponse(m_out, CopyIn<TW_RGBRESPONSE>(p));
    return true;
}

bool CParaAnalyze::TwCieColorAnalyze(const TW_CIECOLOR* p) {
    if (p) DumpCieColor(m_out, CopyIn<TW_CIECOLOR>(p));
    return true;
}

bool CParaAnalyze::TwPalette8Analyze(const TW_PALETTE8* p) {
    // Nothing of the palette is read.
    if (p) DumpPalette8(m_out);
    return true;
}

bool CParaAnalyze::TwNvAutoExposureAnalyze(const TWNV_AUTOEXPOSURE* p) {
    if (p) DumpNvAutoExposure(m_out, CopyIn<TWNV_AUTOEXPOSURE>(p));
    return true;
}

bool CParaAnalyze::TwNvRgbMatrixAnalyze(const TWNV_RGBMATRIX* p) {
    if (p) DumpNvRgbMatrix(m_out, CopyIn<TWNV_RGBMATRIX>(p));
    return true;
}

bool CParaAnalyze::TwNvColorSmoothingAnalyze(const TWNV_COLORSMOOTHING* p) {
    if (p) DumpNvColorSmoothing(m_out, CopyIn<TWNV_COLORSMOOTHING>(p));
    return true;
}

bool CParaAnalyze::TwHardwareInfoAnalyze(const TWNV_HARDWAREINFO* p) {
    if (p) DumpHardwareInfo(m_out, CopyIn<TWNV_HARDWAREINFO>(p));
    return true;
}

bool CParaAnalyze::TwNvSkewInfoAnalyze(const TWNV_LOCATIONDATA* p) {
    if (p) DumpNvSkewInfo(m_out, CopyIn<TWNV_LOCATIONDATA>(p));
    return true;
}

bool CParaAnalyze::TwUnsharpMaskAnalyze(const TWNV_USMPARAM* p) {
    if (p) DumpUnsharpMask(m_out, CopyIn<TWNV_USMPARAM>(p));
    return true;
}

bool CParaAnalyze::TwNvSettingFrameAnalyze(const TWNV_SETTINGFRAME* p) {
    if (p) DumpNvSettingFrame(m_out, CopyIn<TWNV_SETTINGFRAME>(p));
    return true;
}

bool CParaAnalyze::TwNvUsmInfoAnalyze(const TWNV_USMINFO* p) {
    if (p) DumpNvUsmInfo(m_out, CopyIn<TWNV_USMINFO>(p));
    return true;
}

bool CParaAnalyze::TwCapabilityAnalyze(const TW_CAPABILITY* p) {
    if (p) DumpCapability(m_out, CopyIn<TW_CAPABILITY>(p), m_RC == TWRC_FAILURE);
    return true;
}

bool CParaAnalyze::TwArrayAnalyze(TW_UINT16 cap, const TW_ARRAY* a, size_t blockBytes) {
    DumpArray(m_out, cap, a, blockBytes);
    return true;
}

bool CParaAnalyze::TwEnumerationAnalyze(TW_UINT16 cap, const TW_ENUMERATION* e, size_t blockBytes) {
    DumpEnumeration(m_out, cap, e, blockBytes);
    return true;
}

bool CParaAnalyze::TwOneValueAnalyze(TW_UINT16 cap, const TW_ONEVALUE* o, size_t blockBytes) {
    DumpOneValue(m_out, cap, o, blockBytes);
    return true;
}

bool CParaAnalyze::TwRangeAnalyze(TW_UINT16 cap, const TW_RANGE* r, size_t blockBytes) {
    DumpRange(m_out, cap, r, blockBytes);
    return true;
}

void CParaAnalyze::MakeItemList(TW_UINT16 cap, TW_UINT16 itemType, TW_UINT32 numItems, const void* items,
                                size_t itemBytes, ForeignReader* reader) {
    ItemList(m_out, cap, itemType, numItems, items, itemBytes, reader);
}

size_t CParaAnalyze::ValToStr(TW_UINT16 cap, TW_UINT16 itemType, const void* value, char* text) {
    return ValueText(cap, itemType, value, text);
}

// These carry nothing the trace shows.
bool CParaAnalyze::TwNvEventAnalyze() { return true; }
bool CParaAnalyze::TwNvRedCorrectionMatrixAnalyze() { return true; }
bool CParaAnalyze::TwNvTwainCallbackMsgAnalyze() { return true; }
