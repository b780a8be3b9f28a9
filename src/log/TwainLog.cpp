#include "log/TwainLog.h"

CTwainLog::~CTwainLog() {}
