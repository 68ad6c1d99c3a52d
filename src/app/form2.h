#pragma once

#include "app/hand_cursor.h"

#include <QPointer>
#include <QString>
#include <QWidget>

class ErrorTrap;
class Prompts;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QPushButton;
class QRadioButton;

// The filter dialog: the width and height filters of the download run (and a file-size group that
// lies below the visible part of the window). It keeps nothing of its own: every control writes its
// setting the moment it changes, and the run reads the filters from the store.
//
// Settings written: HeightFilter ("3" all heights, "4" by height), WidthFilter ("5" all widths, "6"
// by width), FileSizeFilter ("1" all sizes, "2" by size), the four comparison and unit lists (the
// chosen position, never the item's text), and the three thresholds (as typed). The download group
// below the filters writes Parallel (downloads at once, "1" to "8"), Pace (Download::PaceChoices) and
// ShowPictures ("True" or "False").
class Form2 : public QWidget {
    Q_OBJECT
public:
    // What the threshold check makes of a field's text when the field loses the focus.
    enum class ThresholdCheck { Keep, Reset, Refuse };

    // Creates the dialog hidden and runs its load step. `mainWindow` is shown again when the dialog
    // unloads; `appFolder` is searched for the optional hand cursor file.
    Form2(Prompts& prompts, QWidget* mainWindow, const QString& appFolder);
    ~Form2() override;

    // Who fills the controls from the store: the main window's start-up numbers the statements 140
    // to 202, the dialog's load step 108 to 170.
    enum class Restorer { StartUp, LoadStep };

    // Fills the thresholds, the four lists and the three option pairs from the store: 32 numbered
    // statements, each run under `trap`.
    void restoreControls(ErrorTrap& trap, Restorer by);

    // The pointer the window shows: 0 default, 99 the hand cursor (or the default without the file).
    int pointer() const { return hand_.value(); }
    bool hasHandCursor() const { return hand_.loaded(); }

    // True once "Close" or the close box has unloaded the dialog; the next opening creates a new one.
    bool unloaded() const { return unloaded_; }

    // Not numeric: refused; zero or negative: reset ("1" or "500"); anything else stays as typed.
    static ThresholdCheck checkThreshold(const QString& text);

    static QString heightHelpText();
    static QString widthHelpText();
    static QString sizeHelpText();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildControls();
    void Form_Load();
    void restoreRunChoices(ErrorTrap& trap);
    void setPointer(int value);
    void thresholdLostFocus(QLineEdit* field, const QString& reset);

    void PushButton1_Click();  // Close
    void PushButton2_Click();  // "?" of the width group
    void PushButton8_Click();  // "?" of the file-size group
    void PushButton11_Click(); // "?" of the height group

    Prompts& prompts_;
    QPointer<QWidget> mainWindow_;
    QString appFolder_;

    QGroupBox* Frame1 = nullptr;   // height
    QGroupBox* Frame2 = nullptr;   // width
    QGroupBox* Frame4 = nullptr;   // file size, below the visible area
    QGroupBox* FrameRun = nullptr; // downloads at once and the pause between downloads
    QComboBox* ComboParallel = nullptr;
    QComboBox* ComboPace = nullptr;
    QCheckBox* CheckShowPictures = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QRadioButton* Option4 = nullptr;
    QRadioButton* Option5 = nullptr;
    QRadioButton* Option6 = nullptr;
    QComboBox* Combo1 = nullptr;
    QComboBox* Combo2 = nullptr;
    QComboBox* Combo3 = nullptr;
    QComboBox* Combo4 = nullptr;
    QLineEdit* Text4 = nullptr;
    QLineEdit* Text5 = nullptr;
    QLineEdit* Text6 = nullptr;

    HandPointer hand_;
    bool checkingThreshold_ = false;
    bool unloaded_ = false;
};
