#pragma once

#include "base/prompts.h"
#include "sheets/workbook.h"

#include <QStringList>

// The real dialogs: QMessageBox, QInputDialog, QFileDialog and the desktop's browser.
class QtPrompts : public Prompts {
public:
    Answer messageBox(const QString& text, const QString& title, Buttons buttons, Icon icon) override;
    QString inputBox(const QString& prompt, const QString& title) override;
    QStringList openFiles(const FileRequest& request) override;
    QString saveFile(const FileRequest& request) override;
    QString browseForFolder(const QString& prompt, const QString& startFolder) override;
    bool openUrl(const QString& url) override;
    ReportChoice runReport(const QString& text, const QString& details, const QString& title,
                           bool offerFolder) override;
    // Opens the block-highlighting grid window over the sheet.
    std::optional<CellRange> chooseCellBlock(const Sheet& sheet, const QString& prompt) override;

    // "Caption|pattern|Caption|pattern" as Qt's file dialogs take it: "Caption (pattern);;...".
    static QString qtFilter(const QString& filter);
};
