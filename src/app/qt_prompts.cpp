#include "app/qt_prompts.h"

#include "app/cell_block_window.h"
#include "base/globals.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QUrl>

namespace {

QWidget* owner() {
    return QApplication::activeWindow();
}

QString titleOr(const QString& title) {
    return title.isEmpty() ? Globals::applicationTitle() : title;
}

// Carriage returns alone break lines in the program's texts; Qt's boxes break on line feeds.
QString boxText(QString text) {
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    text.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return text;
}

} // namespace

Prompts::ReportChoice QtPrompts::runReport(const QString& text, const QString& details, const QString& title,
                                           bool offerFolder) {
    QMessageBox box(owner());
    box.setWindowTitle(titleOr(title));
    box.setTextFormat(Qt::PlainText);
    box.setText(boxText(text));
    box.setIcon(QMessageBox::NoIcon);
    box.setDetailedText(details);
    QPushButton* openFolder = nullptr;
    QPushButton* showPictures = nullptr;
    if (offerFolder) {
        openFolder = box.addButton(QStringLiteral("Open Folder"), QMessageBox::ActionRole);
        showPictures = box.addButton(QStringLiteral("Show Pictures"), QMessageBox::ActionRole);
    }
    box.setDefaultButton(box.addButton(QMessageBox::Ok));
    box.exec();
    if (openFolder && box.clickedButton() == openFolder)
        return ReportChoice::OpenFolder;
    return showPictures && box.clickedButton() == showPictures ? ReportChoice::ShowPictures
                                                               : ReportChoice::Ok;
}

Prompts::Answer QtPrompts::messageBox(const QString& text, const QString& title, Buttons buttons, Icon icon) {
    QMessageBox box(owner());
    box.setWindowTitle(titleOr(title));
    // Shown exactly as given: a file name or keyword that looks like markup stays as typed.
    box.setTextFormat(Qt::PlainText);
    box.setText(boxText(text));
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::Question:
        box.setIcon(QMessageBox::Question);
        break;
    }
    switch (buttons) {
    case Buttons::Ok:
        box.setStandardButtons(QMessageBox::Ok);
        break;
    case Buttons::OkCancel:
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        break;
    case Buttons::YesNo:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    }
    switch (box.exec()) {
    case QMessageBox::Yes:
        return Answer::Yes;
    case QMessageBox::No:
        return Answer::No;
    case QMessageBox::Cancel:
        return Answer::Cancel;
    default:
        return buttons == Buttons::Ok ? Answer::Ok : Answer::Cancel;
    }
}

QString QtPrompts::inputBox(const QString& prompt, const QString& title) {
    bool ok = false;
    const QString answer =
        QInputDialog::getText(owner(), titleOr(title), boxText(prompt), QLineEdit::Normal, QString(), &ok);
    return ok ? answer : QString();
}

QString QtPrompts::qtFilter(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList entries;
    static const QRegularExpression trailingGroup(QStringLiteral(R"(\s*\([^()]*\)\s*$)"));
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString caption = parts.at(i);
        caption.remove(trailingGroup);
        QString patterns = parts.at(i + 1);
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        // "*.*" means every file where it comes from; here it would pass only names with a dot.
        if (patterns.trimmed() == QLatin1String("*.*"))
            patterns = QStringLiteral("*");
        entries << caption + QStringLiteral(" (") + patterns + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

QStringList QtPrompts::openFiles(const FileRequest& request) {
    const QString filter = qtFilter(request.filter);
    if (request.multiple)
        return QFileDialog::getOpenFileNames(owner(), request.title, request.initialFolder, filter);
    const QString file = QFileDialog::getOpenFileName(owner(), request.title, request.initialFolder, filter);
    return file.isEmpty() ? QStringList() : QStringList{file};
}

QString QtPrompts::saveFile(const FileRequest& request) {
    QFileDialog dialog(owner(), request.title, request.initialFolder, qtFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    // The program asks its own overwrite question.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (!request.fileName.isEmpty())
        dialog.selectFile(request.fileName);
    if (!request.defaultSuffix.isEmpty())
        dialog.setDefaultSuffix(request.defaultSuffix);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

QString QtPrompts::browseForFolder(const QString& prompt, const QString& startFolder) {
    const QString chosen =
        QFileDialog::getExistingDirectory(owner(), prompt, startFolder, QFileDialog::ShowDirsOnly);
    return QFileInfo(chosen).isDir() ? chosen : QString();
}

bool QtPrompts::openUrl(const QString& url) {
    return QDesktopServices::openUrl(QUrl(url));
}

std::optional<CellRange> QtPrompts::chooseCellBlock(const Sheet& sheet, const QString& prompt) {
    CellBlockWindow window(sheet, prompt, owner());
    if (window.exec() != QDialog::Accepted)
        return std::nullopt;
    return window.chosenBlock();
}
