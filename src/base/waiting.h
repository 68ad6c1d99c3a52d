#pragma once

#include <QObject>

// The program's end, as every wait sees it. Closing the main window (which SIGTERM, SIGINT and
// SIGHUP do too, see ending_signals.h) calls Lifetime::end(): every wait in progress returns at
// once by throwing ProgramEnding, running processes are killed by their owners (they listen to the
// notifier), and the handlers unwind through their traps.
namespace Lifetime {

class Notifier : public QObject {
    Q_OBJECT
signals:
    void ending();
    void stopping(); // a run stop was requested
};

Notifier& notifier();
bool ending();
void end();

// Throws ProgramEnding when the program is ending.
void check();

} // namespace Lifetime

// A request to stop the download run under way (the user said so). Waits return early when it is
// made: RunAndWait ends its tool, PauseSeconds returns at once. The run gate (run_gate.h) clears
// it when a run starts and when it ends.
namespace RunStop {

void request();
void clear();
bool requested();

} // namespace RunStop

namespace Main {

// Returns once `seconds` have passed, or at once when a run stop is requested, processing window
// events all the while. Zero or less returns
// at once without processing events. Throws ProgramEnding when the program ends meanwhile.
void PauseSeconds(double seconds);

} // namespace Main
