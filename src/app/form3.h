#pragma once

#include "app/hand_cursor.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class Prompts;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The API key dialog: where the user enters the key for the image search service (stored under
// ApiKey on every change of the field), reads how to get one, opens the service's key page and
// tests the key.
class Form3 : public QWidget {
    Q_OBJECT
public:
    // The service's page where a key is obtained.
    static const QString KeyPage;
    // A made-up key in the form the service issues them: 50 lower-case letters and digits.
    static const QString SampleKey;

    // Creates the dialog hidden and runs its load step. `mainWindow` is shown again when the dialog
    // closes; `appFolder` is searched for the optional hand cursor file.
    Form3(Prompts& prompts, QWidget* mainWindow, const QString& appFolder);
    ~Form3() override;

    // The pointer the window shows: 0 default, 11 hourglass, 99 the hand cursor (or the default
    // without the file).
    int pointer() const { return hand_.value(); }
    void setPointer(int value);
    bool hasHandCursor() const { return hand_.loaded(); }

    // True once the close box has unloaded the dialog; the next opening creates a new one.
    bool unloaded() const { return unloaded_; }

    // The texts of the instructions box and of the "?" box.
    static QString instructionsText();
    static QString sampleKeyText();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildControls();
    void Form_Load();

    void PushButton1_Click(); // open the key page
    void PushButton2_Click(); // instructions
    void PushButton3_Click(); // Test API Key
    void PushButton4_Click(); // "?" beside the key
    void PushButton6_Click(); // Close

    Prompts& prompts_;
    QPointer<QWidget> mainWindow_;
    QString appFolder_;

    QLabel* Label1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLineEdit* Text1 = nullptr;

    HandPointer hand_;
    bool testing_ = false;
    bool unloaded_ = false;
};
