// Control and transfer structures: identities, events, status, the user
// interface, transfer set-up, extended image information.
#include "analyzer/ParaAnalyze.h"

// Not built yet: these write nothing.
bool CParaAnalyze::TwIdentityAnalyze(const TW_IDENTITY*) { return true; }
bool CParaAnalyze::TwVersionAnalyze(const TW_VERSION*) { return true; }
bool CParaAnalyze::TwEventAnalyze(const TW_EVENT*) { return true; }
bool CParaAnalyze::TwPendingXfersAnalyze(const TW_PENDINGXFERS*) { return true; }
bool CParaAnalyze::TwSetupMemXferAnalyze(const TW_SETUPMEMXFER*) { return true; }
bool CParaAnalyze::TwSetupFileXferAnalyze(const TW_SETUPFILEXFER*) { return true; }
bool CParaAnalyze::TwStatusAnalyze(const TW_STATUS*) { return true; }
bool CParaAnalyze::TwUserInterfaceAnalyze(const TW_USERINTERFACE*) { return true; }
bool CParaAnalyze::TwCustomDsDataAnalyze(const TW_CUSTOMDSDATA*) { return true; }
bool CParaAnalyze::TwUint32(const void*) { return true; }
bool CParaAnalyze::TwExtImageInfoAnalyze(const TW_EXTIMAGEINFO*) { return true; }
bool CParaAnalyze::TwInfoAnalyze(const TW_INFO*) { return true; }
bool CParaAnalyze::TwMemoryAnalyze(const TW_MEMORY*) { return true; }
bool CParaAnalyze::TwTwunkIdentityAnalyze() { return true; }
bool CParaAnalyze::TwTwunkDsentryParamsAnalyze() { return true; }
bool CParaAnalyze::TwTwunkDsentryReturnAnalyze() { return true; }
