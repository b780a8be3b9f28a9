// Capability containers: TW_CAPABILITY and its one-value, enumeration,
// array or range container.
#include "analyzer/ParaAnalyze.h"

// Not built yet: these write nothing.
bool CParaAnalyze::TwCapabilityAnalyze(const TW_CAPABILITY*) { return true; }
bool CParaAnalyze::TwContainerAnalyaze(const TW_CAPABILITY*) { return true; }
bool CParaAnalyze::TwArrayAnalyze(TW_UINT16, const TW_ARRAY*, size_t) { return true; }
bool CParaAnalyze::TwEnumerationAnalyze(TW_UINT16, const TW_ENUMERATION*, size_t) { return true; }
bool CParaAnalyze::TwOneValueAnalyze(TW_UINT16, const TW_ONEVALUE*, size_t) { return true; }
bool CParaAnalyze::TwRangeAnalyze(TW_UINT16, const TW_RANGE*, size_t) { return true; }
bool CParaAnalyze::TwCapExtAnalyze(const TW_CAPEXT*) { return true; }
