#pragma once

#include "app/hand_cursor.h"
#include "fetch/sources/source.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class Prompts;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// The API key dialog: where the user chooses the image source (stored under Source at once), enters
// the key of that source (stored in the source's own key setting on every change of the field), reads
// how to get one, opens the source's key page, tests the key, and chooses whether the run keeps a
// credits list, the pictures the user may use (Licence) and
// whether the run writes the credits into each picture (EmbedCredits). For a source without a key one line
// says so instead, and the key row, the instructions and the key test are out of reach. What it shows of a
// source comes from the table of sources (Sources::dialogTexts()).
class Form3 : public QWidget {
    Q_OBJECT
public:
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

    // The source the list shows.
    Sources::Source source() const;

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildControls();
    void Form_Load();
    // Shows the texts, key page and key field of `source`; stores nothing.
    void showSource(Sources::Source source);

    void PushButton1_Click(); // open the key page
    void PushButton2_Click(); // instructions
    void PushButton3_Click(); // Test API Key
    void PushButton4_Click(); // "?" beside the key
    void PushButton6_Click(); // Close
    void ComboSource_Click(); // another source chosen

    Prompts& prompts_;
    QPointer<QWidget> mainWindow_;
    QString appFolder_;

    QLabel* Label1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QGroupBox* FrameSource = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* LabelNoKey = nullptr; // "Openverse needs no key." in place of the key row
    QLineEdit* Text1 = nullptr;
    QPushButton* PushButton1 = nullptr;
    QPushButton* PushButton3 = nullptr;
    QPushButton* PushButton4 = nullptr;
    QComboBox* ComboSource = nullptr;
    QCheckBox* CheckCredits = nullptr;
    QComboBox* ComboLicence = nullptr; // the pictures the user may use (Licence)
    QCheckBox* CheckEmbed = nullptr;   // credits written into each picture (EmbedCredits)

    HandPointer hand_;
    bool testing_ = false;
    bool unloaded_ = false;
};
