#pragma once

#include "base/prompts.h"
#include "sheets/workbook.h"

#include <QList>
#include <QQueue>
#include <QString>
#include <QStringList>

#include <functional>

// Stands in for the person in front of the program: answers come from queues filled by the test,
// and every box and dialog is recorded in order so that tests can assert exactly what was shown.
class FakePrompts : public Prompts {
public:
    struct Call {
        QString kind; // "message", "input", "open", "save", "folder", "url", "block"
        QString text; // message text, prompt, dialog title or address
        QString title;
        Buttons buttons = Buttons::Ok;
        Icon icon = Icon::None;
        FileRequest request;
        QString startFolder;
        QString details;            // a run's end box: the lines behind "Show Details..."
        bool folderOffered = false; // ... and whether it offered "Open Folder" and "Show Pictures"
    };

    Answer messageBox(const QString& text, const QString& title, Buttons buttons, Icon icon) override;
    QString inputBox(const QString& prompt, const QString& title) override;
    QStringList openFiles(const FileRequest& request) override;
    QString saveFile(const FileRequest& request) override;
    QString browseForFolder(const QString& prompt, const QString& startFolder) override;
    // Records a call of kind "url"; false when urlsOpen is (no browser or file manager).
    bool openUrl(const QString& url) override;
    // Records a call of kind "message" with its details and answers from reportAnswers, else from
    // openFolderAnswers (true: "Open Folder"); with both queues empty, or the folder not offered, it
    // answers OK.
    ReportChoice runReport(const QString& text, const QString& details, const QString& title,
                           bool offerFolder) override;
    // Records a call of kind "block" (text: the prompt, title: the sheet's name) and answers
    // from blockAnswers; an empty queue cancels.
    std::optional<CellRange> chooseCellBlock(const Sheet& sheet, const QString& prompt) override;

    // Queued answers; an empty queue answers OK / Cancel-like defaults ("" and no files).
    QQueue<Answer> answers;
    QQueue<QString> inputs;
    QQueue<QStringList> openAnswers;
    QQueue<QString> saveAnswers;
    QQueue<QString> folderAnswers;
    QQueue<std::optional<CellRange>> blockAnswers;
    QQueue<bool> openFolderAnswers;
    QQueue<ReportChoice> reportAnswers;
    bool urlsOpen = true;

    // Runs when a message box is shown, before it is answered (for example to look at the window).
    std::function<void(const Call&)> onMessage;

    QList<Call> calls;

    // The texts of the message boxes shown so far, in order.
    QStringList messages() const;
    // Message boxes and other calls of one kind.
    QList<Call> callsOf(const QString& kind) const;
    void reset();
};
