#include "fake_prompts.h"

Prompts::Answer FakePrompts::messageBox(const QString& text, const QString& title, Buttons buttons,
                                        Icon icon) {
    Call call;
    call.kind = QStringLiteral("message");
    call.text = text;
    call.title = title;
    call.buttons = buttons;
    call.icon = icon;
    calls << call;
    if (onMessage)
        onMessage(call);
    if (!answers.isEmpty())
        return answers.dequeue();
    return buttons == Buttons::Ok || buttons == Buttons::OkCancel ? Answer::Ok : Answer::Yes;
}

QString FakePrompts::inputBox(const QString& prompt, const QString& title) {
    Call call;
    call.kind = QStringLiteral("input");
    call.text = prompt;
    call.title = title;
    calls << call;
    return inputs.isEmpty() ? QString() : inputs.dequeue();
}

QStringList FakePrompts::openFiles(const FileRequest& request) {
    Call call;
    call.kind = QStringLiteral("open");
    call.text = request.title;
    call.request = request;
    calls << call;
    return openAnswers.isEmpty() ? QStringList() : openAnswers.dequeue();
}

QString FakePrompts::saveFile(const FileRequest& request) {
    Call call;
    call.kind = QStringLiteral("save");
    call.text = request.title;
    call.request = request;
    calls << call;
    return saveAnswers.isEmpty() ? QString() : saveAnswers.dequeue();
}

QString FakePrompts::browseForFolder(const QString& prompt, const QString& startFolder) {
    Call call;
    call.kind = QStringLiteral("folder");
    call.text = prompt;
    call.startFolder = startFolder;
    calls << call;
    return folderAnswers.isEmpty() ? QString() : folderAnswers.dequeue();
}

Prompts::ReportChoice FakePrompts::runReport(const QString& text, const QString& details,
                                             const QString& title, bool offerFolder) {
    Call call;
    call.kind = QStringLiteral("message");
    call.text = text;
    call.title = title;
    call.details = details;
    call.folderOffered = offerFolder;
    calls << call;
    if (onMessage)
        onMessage(call);
    if (!offerFolder)
        return ReportChoice::Ok;
    if (!reportAnswers.isEmpty())
        return reportAnswers.dequeue();
    return !openFolderAnswers.isEmpty() && openFolderAnswers.dequeue() ? ReportChoice::OpenFolder
                                                                       : ReportChoice::Ok;
}

bool FakePrompts::openUrl(const QString& url) {
    Call call;
    call.kind = QStringLiteral("url");
    call.text = url;
    calls << call;
    return urlsOpen;
}

std::optional<CellRange> FakePrompts::chooseCellBlock(const Sheet& sheet, const QString& prompt) {
    Call call;
    call.kind = QStringLiteral("block");
    call.text = prompt;
    call.title = sheet.name;
    calls << call;
    return blockAnswers.isEmpty() ? std::nullopt : blockAnswers.dequeue();
}

QStringList FakePrompts::messages() const {
    QStringList result;
    for (const Call& c : calls)
        if (c.kind == QLatin1String("message"))
            result << c.text;
    return result;
}

QList<FakePrompts::Call> FakePrompts::callsOf(const QString& kind) const {
    QList<Call> result;
    for (const Call& c : calls)
        if (c.kind == kind)
            result << c;
    return result;
}

void FakePrompts::reset() {
    calls.clear();
    answers.clear();
    inputs.clear();
    openAnswers.clear();
    saveAnswers.clear();
    folderAnswers.clear();
    blockAnswers.clear();
    openFolderAnswers.clear();
    reportAnswers.clear();
    urlsOpen = true;
    onMessage = nullptr;
}
