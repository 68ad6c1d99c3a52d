#pragma once

#include <QElapsedTimer>

namespace List {

// Keeps the window alive during long list work. Processing the window's pending events after every
// entry would cost more than the work itself at a million entries (each time the list view lays out
// its rows again), so the work asks poll() after each entry and the events are processed only once
// the time budget has passed since the last time. The window so repaints and takes clicks several
// times a second whatever the size of the list.
class EventPump {
public:
    // A budget of 20 ms leaves room for the list view's own work (laying out a million rows after
    // a change takes several tens of milliseconds) inside the 100 ms that a window may go without
    // answering before it feels stuck.
    explicit EventPump(int budgetMilliseconds = 20);

    // True when the budget has passed since the events were last processed.
    bool due() const { return clock_.elapsed() >= budget_; }

    // Processes the pending events when the budget has passed.
    void poll() {
        if (due())
            process();
    }

    // Processes the pending events now. Throws ProgramEnding when the program ends meanwhile.
    void process();

private:
    QElapsedTimer clock_;
    qint64 budget_;
};

} // namespace List
