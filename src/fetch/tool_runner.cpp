#include "fetch/tool_runner.h"

#include "base/error_report.h"
#include "base/surface.h"
#include "base/waiting.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <cmath>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <unistd.h>

namespace Shell32 {

namespace {
int currentCycle = DesignedCycleMilliseconds;

// Rounds to the nearest whole number, halves to the even neighbour.
int roundHalfEven(double value) {
    return static_cast<int>(std::nearbyint(value));
}
} // namespace

int cycleMilliseconds() {
    return currentCycle;
}

void setCycleMilliseconds(int milliseconds) {
    currentCycle = milliseconds > 0 ? milliseconds : DesignedCycleMilliseconds;
}

int NormalizeWindowStyle(int windowStyle) {
    return windowStyle >= 0 && windowStyle <= 6 ? windowStyle : 6;
}

CycleView WaitCycleView(int counter, const QString& baseText, int baseValue, int itemCount) {
    CycleView view;
    if (counter < 50)
        return view;
    const int waited = counter - 50;
    view.text = baseText + (baseText.isEmpty() ? QString() : QStringLiteral(", ")) +
                QStringLiteral("Please wait.. ") + QString::number(waited);
    if (waited % 150 == 0) {
        // An item count below 1 would divide by zero; the bar then stands for one item.
        const double items = itemCount >= 1 ? itemCount : 1;
        const int step = roundHalfEven(100.0 / items / 10.0);
        const int limit = roundHalfEven(100.0 / items + baseValue - step);
        const double position = baseValue + static_cast<double>(waited / 150) * step;
        view.moves = true;
        view.value = position >= limit ? limit : static_cast<int>(position);
    }
    return view;
}

ToolRun::ToolRun(const ToolCommand& command, bool keepOutput)
    : command_(command) {
    process_.setProgram(command.program);
    process_.setArguments(command.arguments);
    if (!keepOutput) {
        process_.setStandardOutputFile(QProcess::nullDevice());
        process_.setStandardErrorFile(QProcess::nullDevice());
    }
    if (command.standardInput.isEmpty())
        process_.setStandardInputFile(QProcess::nullDevice());
    // The tool dies with the program, even when the program is killed; one whose program was gone
    // before this took hold does not start.
    const pid_t parent = ::getpid();
    const qint64 sizeLimit = command.fileSizeLimit;
    const int shared = command.sharedDescriptor;
    process_.setChildProcessModifier([parent, sizeLimit, shared] {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != parent)
            ::_exit(127);
        if (shared >= 0 && ::fcntl(shared, F_SETFD, 0) != 0)
            ::_exit(127);
        if (sizeLimit > 0) {
            // A write past the limit fails with EFBIG instead of ending the tool with SIGXFSZ.
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{rlim_t(sizeLimit), rlim_t(sizeLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
    });
    if (!command.standardInput.isEmpty())
        QObject::connect(&process_, &QProcess::started, &process_, [this] {
            process_.write(command_.standardInput);
            process_.closeWriteChannel();
        });
}

ToolRun::~ToolRun() {
    kill();
}

void ToolRun::start() {
    started_ = true;
    process_.start(QIODevice::ReadWrite);
}

bool ToolRun::ended() const {
    return started_ && process_.state() == QProcess::NotRunning;
}

void ToolRun::kill() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.kill();
    process_.waitForFinished(2000);
}

int ToolRun::result(ToolOutput* output) const {
    if (process_.error() == QProcess::FailedToStart) {
        const QFileInfo info(command_.program);
        const bool found = command_.program.contains(QLatin1Char('/'))
                               ? info.exists()
                               : !QStandardPaths::findExecutable(command_.program).isEmpty();
        return StartErrorBase + (found ? 70 : 53);
    }
    auto& process = const_cast<QProcess&>(process_); // reading the output consumes it
    if (output) {
        output->standardOutput = process.readAllStandardOutput().left(ToolOutput::OutputLimit);
        output->standardError = process.readAllStandardError().left(ToolOutput::OutputLimit);
        output->crashed = process.exitStatus() == QProcess::CrashExit;
    }
    // A tool ended by a signal has no exit code.
    return process.exitStatus() == QProcess::CrashExit ? Crashed : process.exitCode();
}

void WaitForAny(const std::vector<ToolRun*>& runs, int milliseconds) {
    Lifetime::check();
    for (ToolRun* run : runs)
        if (run->ended())
            return;
    if (RunStop::requested())
        return;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    deadline.setTimerType(Qt::PreciseTimer);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    for (ToolRun* run : runs) {
        QObject::connect(&run->process(), &QProcess::finished, &loop, &QEventLoop::quit);
        QObject::connect(&run->process(), &QProcess::errorOccurred, &loop, &QEventLoop::quit);
    }
    QObject::connect(&Lifetime::notifier(), &Lifetime::Notifier::ending, &loop, &QEventLoop::quit);
    QObject::connect(&Lifetime::notifier(), &Lifetime::Notifier::stopping, &loop, &QEventLoop::quit);
    deadline.start(qMax(0, milliseconds));
    loop.exec();
    Lifetime::check();
}

int RunAndWait(const ToolCommand& command, int windowStyle, Surface* bar, const QString& baseText,
               int baseValue, int itemCount, int cycleMs, ToolOutput* output) {
    (void)NormalizeWindowStyle(windowStyle); // Linux children have no window to show.
    Lifetime::check();
    if (RunStop::requested())
        return Stopped;
    if (cycleMs <= 0)
        cycleMs = cycleMilliseconds();

    ToolRun tool(command, output != nullptr);
    QProcess& process = tool.process();
    QEventLoop loop;
    tool.start();
    if (process.state() == QProcess::Starting) {
        // The start is awaited in the event loop too: the window keeps painting.
        QObject::connect(&process, &QProcess::started, &loop, &QEventLoop::quit);
        QObject::connect(&process, &QProcess::errorOccurred, &loop, &QEventLoop::quit);
        loop.exec();
        QObject::disconnect(&process, nullptr, &loop, nullptr);
    }
    if (process.state() != QProcess::Running && process.error() == QProcess::FailedToStart)
        return tool.result();

    QTimer cycle;
    cycle.setSingleShot(true);
    cycle.setTimerType(Qt::PreciseTimer);
    QObject::connect(&cycle, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&process, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&Lifetime::notifier(), &Lifetime::Notifier::ending, &loop, &QEventLoop::quit);
    QObject::connect(&Lifetime::notifier(), &Lifetime::Notifier::stopping, &loop, &QEventLoop::quit);

    int counter = 0;
    while (process.state() != QProcess::NotRunning) {
        cycle.start(cycleMs);
        loop.exec();
        if (Lifetime::ending()) {
            tool.kill();
            throw ProgramEnding();
        }
        if (process.state() == QProcess::NotRunning)
            break; // the tool ended within this cycle: no need to wait out the rest of it
        if (RunStop::requested()) {
            tool.kill();
            cycle.stop();
            if (bar)
                bar->setProgressText(baseText.isEmpty() ? QStringLiteral("Progress Bar") : baseText);
            return Stopped;
        }
        if (bar) {
            ++counter;
            const CycleView view = WaitCycleView(counter, baseText, baseValue, itemCount);
            if (!view.text.isEmpty())
                bar->setProgressText(view.text);
            // The creep can pass the bar's end when the base value is near it; the bar then stays full.
            if (view.moves)
                bar->setProgressValue(qBound(0, view.value, 100));
        }
    }
    cycle.stop();

    if (bar)
        bar->setProgressText(baseText.isEmpty() ? QStringLiteral("Progress Bar") : baseText);
    return tool.result(output);
}

} // namespace Shell32
