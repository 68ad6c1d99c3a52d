#pragma once

// The one download run or key test under way. Each holds the gate for its whole length: while one
// holds it, another cannot open it (a click on the other button does nothing then). Opening and
// letting go clear any request to stop, so that a stop meant for one run never reaches the next;
// the holder lets go however it ends, the program's end included.
//
//     RunGate gate;
//     if (!gate.opened())
//         return; // another run or key test is under way
class RunGate {
public:
    RunGate();
    ~RunGate();
    RunGate(const RunGate&) = delete;
    RunGate& operator=(const RunGate&) = delete;

    bool opened() const { return opened_; }

    // True while a run or key test holds the gate.
    static bool held();

private:
    bool opened_ = false;
};
