// One operation per data argument type (the table in ParaAnalyze.cpp picks
// it), each handing the call's pData to the formatter of its structure.
#include "analyzer/ParaAnalyze.h"

bool CParaAnalyze::DatNullAnalyze() { return true; }
bool CParaAnalyze::DatTwunkIdentityAnalyze() { return true; }
bool CParaAnalyze::DatImageFileXferAnalyze() { return true; }

bool CParaAnalyze::DatParentAnalyze() {
    // Opening the manager shows who opened it: the origin identity.
    if (m_MSG == MSG_OPENDSM) TwIdentityAnalyze(m_pOrigin);
    return true;
}

bool CParaAnalyze::DatCapabilityAnalyze() { return TwCapabilityAnalyze(reinterpret_cast<const TW_CAPABILITY*>(m_pData)); }
bool CParaAnalyze::DatEventAnalyze() { return TwEventAnalyze(reinterpret_cast<const TW_EVENT*>(m_pData)); }
bool CParaAnalyze::DatIdentityAnalyze() { return TwIdentityAnalyze(reinterpret_cast<const TW_IDENTITY*>(m_pData)); }
bool CParaAnalyze::DatPendingXfersAnalyze() { return TwPendingXfersAnalyze(reinterpret_cast<const TW_PENDINGXFERS*>(m_pData)); }
bool CParaAnalyze::DatSetupMemXferAnalyze() { return TwSetupMemXferAnalyze(reinterpret_cast<const TW_SETUPMEMXFER*>(m_pData)); }
bool CParaAnalyze::DatSetupFileXferAnalyze() { return TwSetupFileXferAnalyze(reinterpret_cast<const TW_SETUPFILEXFER*>(m_pData)); }
bool CParaAnalyze::DatStatusAnalyze() { return TwStatusAnalyze(reinterpret_cast<const TW_STATUS*>(m_pData)); }
bool CParaAnalyze::DatUserInterfaceAnalyze() { return TwUserInterfaceAnalyze(reinterpret_cast<const TW_USERINTERFACE*>(m_pData)); }
bool CParaAnalyze::DatXferGroupAnalyze() { return TwUint32(reinterpret_cast<const void*>(m_pData)); }
bool CParaAnalyze::DatCustomDsDataAnalyze() { return TwCustomDsDataAnalyze(reinterpret_cast<const TW_CUSTOMDSDATA*>(m_pData)); }
bool CParaAnalyze::DatImageInfoAnalyze() { return TwImageInfoAnalyze(reinterpret_cast<const TW_IMAGEINFO*>(m_pData)); }
bool CParaAnalyze::DatImageLayoutAnalyze() { return TwImageLayoutAnalyze(reinterpret_cast<const TW_IMAGELAYOUT*>(m_pData)); }
bool CParaAnalyze::DatImageMemXferAnalyze() { return TwImageMemXferAnalyze(reinterpret_cast<const TW_IMAGEMEMXFER*>(m_pData)); }
bool CParaAnalyze::DatImageNativeXferAnalyze() { return TwUint32(reinterpret_cast<const void*>(m_pData)); }
bool CParaAnalyze::DatCieColorAnalyze() { return TwCieColorAnalyze(reinterpret_cast<const TW_CIECOLOR*>(m_pData)); }
bool CParaAnalyze::DatGrayResponseAnalyze() { return TwGrayResponseAnalyze(reinterpret_cast<const TW_GRAYRESPONSE*>(m_pData)); }
bool CParaAnalyze::DatRgbResponseAnalyze() { return TwRgbResponseAnalyze(reinterpret_cast<const TW_RGBRESPONSE*>(m_pData)); }
bool CParaAnalyze::DatJpegCompressionAnalyze() { return TwJpegCompressionAnalyze(reinterpret_cast<const TW_JPEGCOMPRESSION*>(m_pData)); }
bool CParaAnalyze::DatPalette8Analyze() { return TwPalette8Analyze(reinterpret_cast<const TW_PALETTE8*>(m_pData)); }
bool CParaAnalyze::DatExtImageInfoAnalyze() { return TwExtImageInfoAnalyze(reinterpret_cast<const TW_EXTIMAGEINFO*>(m_pData)); }
bool CParaAnalyze::DatEntryPointAnalyze() { return TwEntryPointAnalyze(reinterpret_cast<const TW_ENTRYPOINT*>(m_pData)); }
bool CParaAnalyze::DatNvAutoExposureAnalyze() { return TwNvAutoExposureAnalyze(reinterpret_cast<const TWNV_AUTOEXPOSURE*>(m_pData)); }
bool CParaAnalyze::DatNvRgbMatrixAnalyze() { return TwNvRgbMatrixAnalyze(reinterpret_cast<const TWNV_RGBMATRIX*>(m_pData)); }
bool CParaAnalyze::DatNvColorSmoothingAnalyze() { return TwNvColorSmoothingAnalyze(reinterpret_cast<const TWNV_COLORSMOOTHING*>(m_pData)); }
bool CParaAnalyze::DatHardwareInfoAnalyze() { return TwHardwareInfoAnalyze(reinterpret_cast<const TWNV_HARDWAREINFO*>(m_pData)); }
bool CParaAnalyze::DatNvSkewInfoAnalyze() { return TwNvSkewInfoAnalyze(reinterpret_cast<const TWNV_LOCATIONDATA*>(m_pData)); }
bool CParaAnalyze::DatUnsharpMaskAnalyze() { return TwUnsharpMaskAnalyze(reinterpret_cast<const TWNV_USMPARAM*>(m_pData)); }
bool CParaAnalyze::DatNvSettingFrameAnalyze() { return TwNvSettingFrameAnalyze(reinterpret_cast<const TWNV_SETTINGFRAME*>(m_pData)); }
bool CParaAnalyze::DatNvUsmInfoAnalyze() { return TwNvUsmInfoAnalyze(reinterpret_cast<const TWNV_USMINFO*>(m_pData)); }

// These operations carry no structure the trace shows.
bool CParaAnalyze::DatNvEventAnalyze() { return TwNvEventAnalyze(); }
bool CParaAnalyze::DatNvRedCorrectionMatrixAnalyze() { return TwNvRedCorrectionMatrixAnalyze(); }
bool CParaAnalyze::DatNvTwainCallbackMsgAnalyze() { return TwNvTwainCallbackMsgAnalyze(); }
