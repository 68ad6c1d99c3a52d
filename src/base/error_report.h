#pragma once

#include <QString>

#include <functional>
#include <stdexcept>

class Prompts;

// A failure inside a routine, carrying the description that the error report shows.
class AppError : public std::runtime_error {
public:
    explicit AppError(const QString& description);
    QString description() const;
};

// Thrown out of every wait when the program is ending (the main window was closed). The trap lets
// it through its statements without a report and skips the rest of the handler.
class ProgramEnding : public std::exception {
public:
    const char* what() const noexcept override { return "the program is ending"; }
};

// The full text of the "Application Error" box for a failure at `statement` of `where`
// ("Form1.PushButton2_Click").
QString errorReportText(const QString& description, const QString& where, int statement);

// The error convention of every handler: a handler is a sequence of numbered statements (100, 102,
// ...), each run under the trap. A failing statement shows the "Application Error" box with its
// number and the handler goes on with the next statement.
//
//     ErrorTrap trap(prompts, "Form1.PushButton12_Click");
//     trap(100, [&] { last = SettingsStore::read(SettingKey::LastFolder); });
//     trap(102, [&] { chosen = prompts.browseForFolder(...); });
class ErrorTrap {
public:
    ErrorTrap(Prompts& prompts, QString where);

    // Runs one statement. Returns true when it completed; false when it failed (and was reported)
    // or when the program is ending (and it was not run).
    bool operator()(int statement, const std::function<void()>& body);

    // Reports a failure at `statement` without running anything.
    void report(int statement, const QString& description);

    // True once a statement met the program's end; later statements are skipped.
    bool ended() const { return ended_; }

    const QString& where() const { return where_; }
    // Where the reports go, for routines that report under a location of their own.
    Prompts& prompts() const { return prompts_; }

private:
    Prompts& prompts_;
    QString where_;
    bool ended_ = false;
};
