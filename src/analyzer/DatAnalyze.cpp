// The per-type dispatch: one operation per data argument type, each handing
// the stored pData to the formatter of its structure.
#include "analyzer/ParaAnalyze.h"

#define TRACELET_DUMP(Dat, Formatter, Type)                                 \
    bool CParaAnalyze::Dat() {                                              \
        Formatter(reinterpret_cast<const Type*>(m_pData));                  \
        return true;                                                        \
    }

bool CParaAnalyze::DatNullAnalyze() { return true; }
bool CParaAnalyze::DatTwunkIdentityAnalyze() { return true; }
bool CParaAnalyze::DatImageFileXferAnalyze() { return true; }

bool CParaAnalyze::DatParentAnalyze() {
    // Opening the manager shows who opened it: the origin identity.
    if (m_MSG == MSG_OPENDSM) TwIdentityAnalyze(m_pOrigin);
    return true;
}

TRACELET_DUMP(DatCapabilityAnalyze, TwCapabilityAnalyze, TW_CAPABILITY)
TRACELET_DUMP(DatEventAnalyze, TwEventAnalyze, TW_EVENT)
TRACELET_DUMP(DatIdentityAnalyze, TwIdentityAnalyze, TW_IDENTITY)
TRACELET_DUMP(DatPendingXfersAnalyze, TwPendingXfersAnalyze, TW_PENDINGXFERS)
TRACELET_DUMP(DatSetupMemXferAnalyze, TwSetupMemXferAnalyze, TW_SETUPMEMXFER)
TRACELET_DUMP(DatSetupFileXferAnalyze, TwSetupFileXferAnalyze, TW_SETUPFILEXFER)
TRACELET_DUMP(DatStatusAnalyze, TwStatusAnalyze, TW_STATUS)
TRACELET_DUMP(DatUserInterfaceAnalyze, TwUserInterfaceAnalyze, TW_USERINTERFACE)
TRACELET_DUMP(DatXferGroupAnalyze, TwUint32, void)
TRACELET_DUMP(DatCustomDsDataAnalyze, TwCustomDsDataAnalyze, TW_CUSTOMDSDATA)
TRACELET_DUMP(DatImageInfoAnalyze, TwImageInfoAnalyze, TW_IMAGEINFO)
TRACELET_DUMP(DatImageLayoutAnalyze, TwImageLayoutAnalyze, TW_IMAGELAYOUT)
TRACELET_DUMP(DatImageMemXferAnalyze, TwImageMemXferAnalyze, TW_IMAGEMEMXFER)
TRACELET_DUMP(DatImageNativeXferAnalyze, TwUint32, void)
TRACELET_DUMP(DatCieColorAnalyze, TwCieColorAnalyze, TW_CIECOLOR)
TRACELET_DUMP(DatGrayResponseAnalyze, TwGrayResponseAnalyze, TW_GRAYRESPONSE)
TRACELET_DUMP(DatRgbResponseAnalyze, TwRgbResponseAnalyze, TW_RGBRESPONSE)
TRACELET_DUMP(DatJpegCompressionAnalyze, TwJpegCompressionAnalyze, TW_JPEGCOMPRESSION)
TRACELET_DUMP(DatPalette8Analyze, TwPalette8Analyze, TW_PALETTE8)
TRACELET_DUMP(DatExtImageInfoAnalyze, TwExtImageInfoAnalyze, TW_EXTIMAGEINFO)
TRACELET_DUMP(DatEntryPointAnalyze, TwEntryPointAnalyze, TW_ENTRYPOINT)
TRACELET_DUMP(DatNvAutoExposureAnalyze, TwNvAutoExposureAnalyze, TWNV_AUTOEXPOSURE)
TRACELET_DUMP(DatNvRgbMatrixAnalyze, TwNvRgbMatrixAnalyze, TWNV_RGBMATRIX)
TRACELET_DUMP(DatNvColorSmoothingAnalyze, TwNvColorSmoothingAnalyze, TWNV_COLORSMOOTHING)
TRACELET_DUMP(DatHardwareInfoAnalyze, TwHardwareInfoAnalyze, TWNV_HARDWAREINFO)
TRACELET_DUMP(DatNvSkewInfoAnalyze, TwNvSkewInfoAnalyze, TWNV_LOCATIONDATA)
TRACELET_DUMP(DatUnsharpMaskAnalyze, TwUnsharpMaskAnalyze, TWNV_USMPARAM)
TRACELET_DUMP(DatNvSettingFrameAnalyze, TwNvSettingFrameAnalyze, TWNV_SETTINGFRAME)
TRACELET_DUMP(DatNvUsmInfoAnalyze, TwNvUsmInfoAnalyze, TWNV_USMINFO)

// These operations carry no structure the trace shows.
bool CParaAnalyze::DatNvEventAnalyze() { return TwNvEventAnalyze(); }
bool CParaAnalyze::DatNvRedCorrectionMatrixAnalyze() { return TwNvRedCorrectionMatrixAnalyze(); }
bool CParaAnalyze::DatNvTwainCallbackMsgAnalyze() { return TwNvTwainCallbackMsgAnalyze(); }
