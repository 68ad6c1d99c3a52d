#pragma once

#include <QString>

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

// A surface that only remembers what it was told.
class SurfaceState : public Surface {
public:
    int pointer() const override { return pointer_; }
    void setPointer(int value) override { pointer_ = value; }
    int progressValue() const override { return value_; }
    void setProgressValue(int value) override { value_ = value; }
    QString progressText() const override { return text_; }
    void setProgressText(const QString& text) override { text_ = text; }

private:
    int pointer_ = Default;
    int value_ = 0;
    QString text_ = QStringLiteral("Progress Bar");
};
