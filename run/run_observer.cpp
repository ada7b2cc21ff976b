#include "run/run_observer.h"

const char* RunEndText(RunEnd why) {
    switch (why) {
        case RunEnd::TimeUp:
            return "time 0";
        case RunEnd::InstrumentStopped:
            return "instrument stopped";
        case RunEnd::Stopped:
            return "Stop";
        case RunEnd::Closed:
            return "window closed";
        case RunEnd::LinkLost:
            return "link lost";
    }
    return "";
}

const char* LinkStateText(LinkState state) {
    switch (state) {
        case LinkState::NotConnected:
            return "Not connected";
        case LinkState::Connecting:
            return "Connecting";
        case LinkState::Answering:
            return "Ready";
        case LinkState::NoReply:
            return "No reply";
        case LinkState::Disconnected:
            return "Disconnected \u2014 reconnecting";
    }
    return "";
}
