// The state machine the data source's state lines follow, read the log's way
// and the standard's way.
#include <gtest/gtest.h>

#include "tracelet/logmodel.h"

using namespace tracelet::logmodel;

namespace {

struct Move {
    const char* what;
    int from;
    CallFacts call;  // msg 0: a notification of `notice` instead
    uint16_t notice;
    bool enable_in_flight;
    int log, standard;
};

CallFacts Call(uint16_t dat, uint16_t msg) {
    CallFacts c;
    c.dat = dat;
    c.msg = msg;
    return c;
}
CallFacts EndXfer(uint16_t count) {
    CallFacts c = Call(DAT_PENDINGXFERS, MSG_ENDXFER);
    c.has_count = true;
    c.count = count;
    return c;
}
CallFacts Event(uint16_t msg) {
    CallFacts c = Call(DAT_EVENT, MSG_PROCESSEVENT);
    c.has_event = true;
    c.event_msg = msg;
    return c;
}

}  // namespace

TEST(LogModel, TransitionsOfCallsAndNotifications) {
    const Move moves[] = {
        {"enable", 4, Call(DAT_USERINTERFACE, MSG_ENABLEDS), 0, false, 5, 5},
        {"enable completing after transfer ready", 6, Call(DAT_USERINTERFACE, MSG_ENABLEDS), 0, false, 6, 6},
        {"enable for the user interface only", 4, Call(DAT_USERINTERFACE, MSG_ENABLEDSUIONLY), 0, false, 4, 5},
        {"disable from 4 after a close request", 4, Call(DAT_USERINTERFACE, MSG_DISABLEDS), 0, false, 4, 4},
        {"image info", 6, Call(DAT_IMAGEINFO, MSG_GET), 0, false, 6, 6},
        {"memory transfer", 6, Call(DAT_IMAGEMEMXFER, MSG_GET), 0, false, 7, 7},
        {"transfer in 5 (no notification seen)", 5, Call(DAT_IMAGEMEMXFER, MSG_GET), 0, false, 5, 5},
        {"end of transfer, more to come (-1)", 7, EndXfer(0xFFFF), 0, false, 6, 6},
        {"end of the last transfer", 7, EndXfer(0), 0, false, 5, 5},
        {"end of transfer in 5", 5, EndXfer(0), 0, false, 5, 5},
        {"reset pending transfers", 6, Call(DAT_PENDINGXFERS, MSG_RESET), 0, false, 5, 5},
        {"claimed transfer ready", 5, Event(MSG_XFERREADY), 0, false, 6, 6},
        {"claimed close request", 6, Event(MSG_CLOSEDSREQ), 0, false, 6, 5},
        {"claimed close ok", 5, Event(MSG_CLOSEDSOK), 0, false, 5, 5},
        {"transfer ready", 5, {}, MSG_XFERREADY, false, 6, 6},
        {"transfer ready inside MSG_ENABLEDS", 4, {}, MSG_XFERREADY, true, 6, 6},
        {"transfer ready in 4, no enable in flight", 4, {}, MSG_XFERREADY, false, 4, 4},
        {"transfer ready in 6", 6, {}, MSG_XFERREADY, false, 6, 6},
        {"close request", 5, {}, MSG_CLOSEDSREQ, false, 4, 5},
        {"close request in 7", 7, {}, MSG_CLOSEDSREQ, false, 7, 5},
        {"close ok", 6, {}, MSG_CLOSEDSOK, false, 6, 5},
        {"device event", 5, {}, MSG_DEVICEEVENT, false, 5, 5},
    };
    for (const Move& m : moves) {
        SCOPED_TRACE(m.what);
        if (m.call.msg) {
            EXPECT_EQ(NextState(m.from, m.call, Reading::Log), m.log);
            EXPECT_EQ(NextState(m.from, m.call, Reading::Standard), m.standard);
        } else {
            EXPECT_EQ(NotifiedState(m.from, m.notice, m.enable_in_flight, Reading::Log), m.log);
            EXPECT_EQ(NotifiedState(m.from, m.notice, m.enable_in_flight, Reading::Standard), m.standard);
        }
    }
}
