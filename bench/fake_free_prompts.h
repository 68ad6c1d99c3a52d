#pragma once

#include "base/prompts.h"
#include "sheets/workbook.h"

// Answers every question at once without showing anything, so benchmarks never wait for a person.
class SilentPrompts : public Prompts {
public:
    Answer messageBox(const QString&, const QString&, Buttons buttons, Icon) override {
        return buttons == Buttons::Ok || buttons == Buttons::OkCancel ? Answer::Ok : Answer::Yes;
    }
    QString inputBox(const QString&, const QString&) override { return QString(); }
    QStringList openFiles(const FileRequest&) override { return {}; }
    QString saveFile(const FileRequest&) override { return QString(); }
    QString browseForFolder(const QString&, const QString&) override { return QString(); }
    bool openUrl(const QString&) override { return true; }
    ReportChoice runReport(const QString&, const QString&, const QString&, bool) override {
        return ReportChoice::Ok;
    }
    std::optional<CellRange> chooseCellBlock(const Sheet&, const QString&) override { return std::nullopt; }
};
