#pragma once

#include "base/prompts.h"

#include <QString>
#include <QStringList>

// What long commands touch on the main window: its pointer and its progress bar. The main window
// implements it; tests and benchmarks use SurfaceState.
class Surface {
public:
    // The main window's pointer values.
    enum Pointer { Default = 0, Hourglass = 11, Hand = 99 };

    virtual ~Surface() = default;

    virtual int pointer() const = 0;
    virtual void setPointer(int value) = 0;

    // The progress bar: a value from 0 to 100 and the text it shows.
    virtual int progressValue() const = 0;
    virtual void setProgressValue(int value) = 0;
    virtual QString progressText() const = 0;
    virtual void setProgressText(const QString& text) = 0;

    bool busy() const { return pointer() == Hourglass; }
};

// What a download run or a key test reports while it works and when it ends: the pointer and the
// progress bar of a surface, and the messages for the person running it. The main window shows them
// with its progress bar and message boxes; a command line would print them.
class RunObserver : public Surface {
public:
    // A message: a check that keeps a run from starting, the end of a run, a key test's verdict.
    virtual void showMessage(const QString& text) = 0;
    // The message that ends a download run, with one line per result looked at and the folder the
    // pictures went to ("" when the run saved none: the end box then offers no folder).
    virtual void showReport(const QString& text, const QString& details, const QString& folder) {
        (void)details;
        (void)folder;
        showMessage(text);
    }
    // What became of one result a run looked at, as soon as it is decided: `file` is the name it
    // was kept as (in the folder), or empty with `reason` saying why it was skipped. The source's
    // name and what its answer says of the picture ("" where it says nothing) come with it.
    struct Result {
        QString keyword;
        QString address;
        QString file;
        QString reason;
        bool alreadyThere = false; // skipped because the folder holds the picture already
        QString source;            // the source's stored name ("openverse")
        QString title;
        QString creator;
        QString licence;
        QString licenceAddress;
        QString sourcePage;
    };
    virtual void resultDone(const Result& result) { (void)result; }
};

// An observer that only remembers what it was told; with `tellTo`, messages are also shown there.
class SurfaceState : public RunObserver {
public:
    explicit SurfaceState(Prompts* tellTo = nullptr)
        : tellTo_(tellTo) {}
    void setTellTo(Prompts* tellTo) { tellTo_ = tellTo; }

    void showMessage(const QString& text) override {
        messages_ << text;
        if (tellTo_)
            tellTo_->tell(text);
    }
    void showReport(const QString& text, const QString& details, const QString& folder) override {
        messages_ << text;
        details_ = details;
        if (tellTo_)
            tellTo_->report(text, details, folder);
    }
    const QStringList& messages() const { return messages_; }
    const QString& lastDetails() const { return details_; }

    int pointer() const override { return pointer_; }
    void setPointer(int value) override { pointer_ = value; }
    int progressValue() const override { return value_; }
    void setProgressValue(int value) override { value_ = value; }
    QString progressText() const override { return text_; }
    void setProgressText(const QString& text) override { text_ = text; }

private:
    Prompts* tellTo_ = nullptr;
    QStringList messages_;
    QString details_;
    int pointer_ = Default;
    int value_ = 0;
    QString text_ = QStringLiteral("Progress Bar");
};
