#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <vector>

class Surface;

// One run of a command-line tool: the program, its arguments (each one a separate argument, never
// re-split and never seen by a shell) and an optional text fed to its standard input. curl reads
// its configuration from standard input with "-K -"; that is how the request headers (the user's
// key among them) reach it without showing in the process list.
struct ToolCommand {
    QString program;
    QStringList arguments;
    QByteArray standardInput; // empty: the tool reads nothing (standard input is /dev/null)
    // The largest file the tool may write (0: no limit). A write beyond it fails in the tool, so a
    // server that sends more than it announced cannot fill the disk.
    qint64 fileSizeLimit = 0;
    // A descriptor of the program's that the tool inherits (-1: none). The program opens its files
    // with close-on-exec; this one alone stays open in the tool, which reaches it as "/dev/fd/N".
    int sharedDescriptor = -1;
};

// What a tool printed, for the callers that read it (curl's --write-out and its error text). Each
// stream is kept up to OutputLimit bytes.
struct ToolOutput {
    static constexpr qsizetype OutputLimit = 64 * 1024;
    QByteArray standardOutput;
    QByteArray standardError;
    bool crashed = false; // ended by a signal: its exit code means nothing

    // The HTTP status curl wrote first with --write-out (0 when none).
    int httpStatus() const { return standardOutput.split('\n').value(0).trimmed().toInt(); }
};

// Running one tool and waiting for it without freezing the window.
namespace Shell32 {

// The designed length of one wait cycle.
inline constexpr int DesignedCycleMilliseconds = 100;

// The cycle length RunAndWait uses when it is given none (100 ms unless a test changed it).
int cycleMilliseconds();
void setCycleMilliseconds(int milliseconds);

// The child's window style: 0..6 stay, anything else becomes 6. It has no other effect on Linux.
int NormalizeWindowStyle(int windowStyle);

// What the progress bar shows after `counter` wait cycles (counter >= 1): `text` is empty before
// the 50th cycle, else the wait text; `moves` says whether this cycle sets the bar to `value`. An
// item count below 1 counts as 1.
struct CycleView {
    QString text;
    bool moves = false;
    int value = 0;
};
CycleView WaitCycleView(int counter, const QString& baseText, int baseValue, int itemCount);

// Starts the tool and waits for it to end in a local event loop that wakes once per cycle and the
// moment the tool exits, so a request costs no polling latency. With a bar, from the 50th cycle on
// the bar text is the base text (", " when it is not empty) "Please wait.. " and the cycle number
// counted from 0; every 150 cycles the bar creeps on (see WaitCycleView; a value beyond 0..100 is
// shown as the nearer end); at the end the bar text
// is the base text, or "Progress Bar" when that is empty. Without a bar (nullptr) nothing is shown.
//
// Returns the tool's exit code, Crashed when a signal ended it, or, when it cannot be started, a negative
// number: the start error's number (53 file not found, 70 permission denied) minus 2,147,221,504, at once,
// with nothing shown. `cycleMs` 0 means cycleMilliseconds(). When the program ends meanwhile the tool is
// killed and ProgramEnding is thrown. With `output`, what the tool printed is kept there; without it, the
// tool's output is discarded.
int RunAndWait(const ToolCommand& command, int windowStyle = 6, Surface* bar = nullptr,
               const QString& baseText = QString(), int baseValue = 0, int itemCount = 0, int cycleMs = 0,
               ToolOutput* output = nullptr);

// One tool started without waiting for it, for callers that keep several running at once. The
// tool gets what RunAndWait gives its tool: no shell, standard input from the command, death with
// the program, the file size limit. A tool still running when the object goes is killed.
//
//     ToolRun a(first), b(second);
//     a.start();
//     b.start();
//     while (!a.ended() || !b.ended())
//         WaitForAny({&a, &b}, 100);
//     const int code = a.result(&output);
class ToolRun {
public:
    // With `keepOutput`, what the tool prints is kept for result(); otherwise it is discarded.
    explicit ToolRun(const ToolCommand& command, bool keepOutput = true);
    ~ToolRun();
    ToolRun(const ToolRun&) = delete;
    ToolRun& operator=(const ToolRun&) = delete;

    // Starts the tool and returns at once.
    void start();
    // True once the tool has ended or could not be started.
    bool ended() const;
    // After ended(): what RunAndWait returns (the exit code, Crashed, or the start error's result),
    // with what the tool printed in `output`.
    int result(ToolOutput* output = nullptr) const;
    // Ends the tool and waits (briefly) until it is gone.
    void kill();

    QProcess& process() { return process_; }

private:
    ToolCommand command_;
    QProcess process_;
    bool started_ = false;
};

// Waits in a local event loop until one of `runs` ends, `milliseconds` pass, a run stop is requested
// or the program ends (then ProgramEnding is thrown; the caller's ToolRun objects kill their tools as
// they go). Returns at once when one of them has ended already.
void WaitForAny(const std::vector<ToolRun*>& runs, int milliseconds);

// The negative result for a start error number.
inline constexpr int StartErrorBase = -2147221504;

// The result for a tool that was ended by a signal (a crash, or killed from outside).
inline constexpr int Crashed = -1;

// The result for a tool that was ended because the user stopped the run (RunStop).
inline constexpr int Stopped = -2;

} // namespace Shell32
