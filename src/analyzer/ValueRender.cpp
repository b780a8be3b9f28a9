// Value rendering: one typed item, a capability's TW_UINT16 value, and the
// item list of an array or enumeration.
#include "analyzer/ParaAnalyze.h"

// Not built yet: renders nothing.
void CParaAnalyze::MakeItemList(TW_UINT16, TW_UINT16, TW_UINT32, const void*, size_t) {}
void CParaAnalyze::ValToStr(TW_UINT16, TW_UINT16, const void*, char* text) { text[0] = '\0'; }
void CParaAnalyze::ValToCap(TW_UINT16, TW_UINT16, char* text) { text[0] = '\0'; }
void CParaAnalyze::MakeCapSupportedCaps(TW_UINT16, char* text) { text[0] = '\0'; }
void CParaAnalyze::MakeCapNvVersion(TW_UINT16, char* text) { text[0] = '\0'; }
