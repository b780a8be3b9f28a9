// CTwainLog: levelled, time-stamped messages written into the trace log.
#ifndef TRACELET_TWAINLOG_H
#define TRACELET_TWAINLOG_H

class CTwainLog {
public:
    virtual ~CTwainLog();
};

#endif  // TRACELET_TWAINLOG_H
