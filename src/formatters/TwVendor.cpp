// Vendor-extension structures exchanged through the DAT_NV_* operations.
#include "analyzer/ParaAnalyze.h"

// Not built yet: these write nothing.
bool CParaAnalyze::TwNvAutoExposureAnalyze(const TWNV_AUTOEXPOSURE*) { return true; }
bool CParaAnalyze::TwNvRgbMatrixAnalyze(const TWNV_RGBMATRIX*) { return true; }
bool CParaAnalyze::TwNvColorSmoothingAnalyze(const TWNV_COLORSMOOTHING*) { return true; }
bool CParaAnalyze::TwHardwareInfoAnalyze(const TWNV_HARDWAREINFO*) { return true; }
bool CParaAnalyze::TwNvSkewInfoAnalyze(const TWNV_LOCATIONDATA*) { return true; }
bool CParaAnalyze::TwUnsharpMaskAnalyze(const TWNV_USMPARAM*) { return true; }
bool CParaAnalyze::TwNvSettingFrameAnalyze(const TWNV_SETTINGFRAME*) { return true; }
bool CParaAnalyze::TwNvThresholdInfoAnalyze(const TWNV_THRESHOLDINFO*) { return true; }
bool CParaAnalyze::TwNvReviseBaseParamAnalyze(const TWNV_REVISEBASEPARM*) { return true; }
bool CParaAnalyze::TwNvUsmInfoAnalyze(const TWNV_USMINFO*) { return true; }
bool CParaAnalyze::TwNvEventAnalyze() { return true; }
bool CParaAnalyze::TwNvRedCorrectionMatrixAnalyze() { return true; }
bool CParaAnalyze::TwNvTwainCallbackMsgAnalyze() { return true; }
void CParaAnalyze::SetColorCoeffData(const TW_FIX32*) {}
