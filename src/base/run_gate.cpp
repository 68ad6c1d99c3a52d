#include "base/run_gate.h"

#include "base/globals.h"
#include "base/waiting.h"

RunGate::RunGate() {
    if (Globals::RunBusy)
        return;
    Globals::RunBusy = true;
    opened_ = true;
    RunStop::clear();
}

RunGate::~RunGate() {
    if (!opened_)
        return;
    Globals::RunBusy = false;
    RunStop::clear();
}

bool RunGate::held() {
    return Globals::RunBusy;
}
