#include "app/form1.h"

#include "app/folder_picker.h"
#include "app/pictures_window.h"
#include "base/error_report.h"
#include "base/globals.h"
#include "base/prompts.h"
#include "base/run_gate.h"
#include "base/settings_store.h"
#include "base/waiting.h"
#include "fetch/download_run.h"
#include "fetch/download_target.h"

#include <QLineEdit>

// The main window's commands of the download run and the save folder; the keyword list's commands
// are in form1_list_commands.cpp.

void Form1::PushButton2_Click() {
    // A click while the run works asks whether to stop it; while a key test works it does nothing.
    if (downloading_) {
        const auto answer = prompts_.messageBox(StopQuestion, Globals::applicationTitle(),
                                                Prompts::Buttons::YesNo, Prompts::Icon::Question);
        if (answer == Prompts::Answer::Yes && downloading_)
            RunStop::request();
        return;
    }
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton2_Click"));
    downloading_ = !RunGate::held();
    struct Done {
        bool& downloading;
        ~Done() { downloading = false; }
    } done{downloading_};
    runFolder_ = DownloadTarget::folderPrefix(Text1->text());
    runKeptOne_ = false;
    Download::DownloadRun(*keywords_, *this, trap, Text1->text(), Text2->text(), Text3->text(),
                          Download::RunOptions::fromSettings());
}

void Form1::showReport(const QString& text, const QString& details, const QString& folder) {
    if (prompts_.report(text, details, folder) == Prompts::ReportChoice::ShowPictures)
        showPictures(folder);
}

void Form1::resultDone(const Result& result) {
    if (result.file.isEmpty())
        return;
    const bool first = !runKeptOne_;
    runKeptOne_ = true;
    if (pictures_) {
        pictures_->showFolder(runFolder_);
        pictures_->addPicture(result.file);
    } else if (first && PicturesWindow::opensByItself()) {
        showPictures(runFolder_);
    }
}

PicturesWindow* Form1::showPictures(const QString& folder) {
    // A window of its own, like the option dialogs; it goes when it is closed or with this window.
    if (!pictures_)
        pictures_ = new PicturesWindow(prompts_);
    pictures_->showFolder(folder);
    pictures_->show();
    return pictures_;
}

void Form1::PushButton12_Click() {
    // The chooser opens at the folder last chosen with it, not at the one typed into the field;
    // before the first choice, at the field's folder.
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton12_Click"));
    QString chosen;
    trap(100, [&] {
        QString lastFolder = SettingsStore::read(SettingKey::LastFolder);
        if (lastFolder.isEmpty())
            lastFolder = Text1->text();
        chosen = AddFolder::BrowseForFolder(prompts_, QStringLiteral("Please select folder:"), lastFolder);
    });
    if (chosen.isEmpty())
        return;
    bool endsWithSeparator = false;
    trap(104, [&] {
        SettingsStore::write(SettingKey::LastFolder, chosen);
        endsWithSeparator = chosen.endsWith(QLatin1Char('/'));
    });
    if (!endsWithSeparator)
        trap(106, [&] { Text1->setText(chosen + QLatin1Char('/')); });
    else
        trap(108, [&] { Text1->setText(chosen); });
}
