#pragma once

#include "app/hand_cursor.h"
#include "base/surface.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>
#include <memory>

class ErrorTrap;
class Form2;
class Form3;
class KeywordList;
class PicturesWindow;
class Prompts;
class QGroupBox;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QTableView;
class TextProgressBar;

// The main window: the keyword list, the three fields, the progress bar and sixteen buttons.
// Every operation starts here; the commands themselves live in the subsystems and are only called.
class Form1 : public QWidget, public RunObserver {
    Q_OBJECT
public:
    struct Options {
        // A whole number from 1 to 100; start-up visits the maker's home page when it draws 7.
        std::function<int()> randomPercent;
        // The folder searched for the optional files ("HAND-M.CUR"); the executable's by default.
        QString appFolder;
    };

    // Creates the window and runs its load step; the window is shown by the caller.
    explicit Form1(Prompts& prompts, Options options = {});
    ~Form1() override;

    Prompts& prompts() { return prompts_; }
    KeywordList& keywords() { return *keywords_; }

    // RunObserver: the window's pointer, its progress bar and its message boxes.
    int pointer() const override { return hand_.value(); }
    void setPointer(int value) override;
    int progressValue() const override;
    void setProgressValue(int value) override;
    QString progressText() const override { return progressText_; }
    void setProgressText(const QString& text) override;
    void showMessage(const QString& text) override { prompts_.tell(text); }
    // The question a click on "Start Downloading" asks while a run is under way.
    static inline const QString StopQuestion =
        QStringLiteral("Stop downloading? The pictures kept so far stay in the folder.");

    // The end box; its "Show Pictures" opens the Pictures window on the run's folder.
    void showReport(const QString& text, const QString& details, const QString& folder) override;
    // A kept picture goes to the Pictures window at once; the run's first one opens the window when
    // the settings say so.
    void resultDone(const Result& result) override;

    // The Pictures window on that folder (a folder text as the run uses it), opened when it is not.
    PicturesWindow* showPictures(const QString& folder);

    // True when the hand cursor file was found and loaded at start-up.
    bool hasHandCursor() const { return hand_.loaded(); }

    // The texts of the three help messages.
    static QString helpText();
    static QString countHelpText();
    static QString startHelpText();

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void buildControls();
    void Form_Load();
    // Start-up step 9: fill the filter dialog's controls (statements 140 to 202).
    void restoreFilterDialog(ErrorTrap& trap);
    void checkNumberField(QLineEdit* box, const QString& belowReplacement);
    using TextRemoval = std::function<void(KeywordList&, const QString&, Surface&, Prompts&)>;
    void removeByText(const QString& where, const QString& question, const TextRemoval& remove);

    // Handlers, named after their controls.
    void PushButton1_Click();  // Clear List
    void PushButton2_Click();  // Start Downloading
    void PushButton3_Click();  // Load List From Text File
    void PushButton4_Click();  // Help
    void PushButton5_Click();  // Load Sample/Example Keywords
    void PushButton6_Click();  // "?" beside the start position
    void PushButton7_Click();  // Save List To Text File
    void PushButton8_Click();  // Filter dialog
    void PushButton9_Click();  // Remove Keywords Containing X
    void PushButton10_Click(); // Remove Keywords Not Cont. X
    void PushButton11_Click(); // API key dialog
    void PushButton12_Click(); // "..." folder picker
    void PushButton13_Click(); // Load List From Excel File
    void PushButton14_Click(); // Save List To Excel File
    void PushButton15_Click(); // "?" beside the pictures per keyword
    void PushButton20_Click(); // Add One Keyword To List
    void ListView1_KeyDown(int key);
    void ListView1_DblClick();

    Prompts& prompts_;
    Options options_;
    std::unique_ptr<KeywordList> keywords_;

    QTableView* ListView1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame3 = nullptr;
    QLineEdit* Text1 = nullptr;
    QLineEdit* Text2 = nullptr;
    QLineEdit* Text3 = nullptr;
    TextProgressBar* ProgressBar1 = nullptr;

    QString progressText_;
    bool downloading_ = false; // a download run started here is under way
    HandPointer hand_;
    bool checkingNumber_ = false;
    // The option dialogs: windows of their own, hidden while not open; unloading deletes them.
    QPointer<Form2> form2_;
    QPointer<Form3> form3_;
    // The Pictures window while it is open, and the folder of the run under way.
    QPointer<PicturesWindow> pictures_;
    QString runFolder_;
    bool runKeptOne_ = false;
};
