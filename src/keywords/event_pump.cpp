#include "keywords/event_pump.h"

#include "base/waiting.h"

#include <QCoreApplication>

namespace List {

EventPump::EventPump(int budgetMilliseconds)
    : budget_(budgetMilliseconds) {
    clock_.start();
}

void EventPump::process() {
    Lifetime::check();
    QCoreApplication::processEvents();
    Lifetime::check();
    clock_.restart();
}

} // namespace List
