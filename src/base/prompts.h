#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// The spreadsheet types the cell block choice names; the seam needs no more of them.
struct CellRange;
class Sheet;

// Everything a person answers goes through this interface: message boxes, input boxes, the file
// dialogs, the folder chooser and opening a web address. The windows get the real implementation
// (QtPrompts); tests give them one that queues answers and records every call.
class Prompts {
public:
    enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel };
    enum class Icon { None, Information, Exclamation, Critical, Question };
    enum class Answer { Ok, Cancel, Yes, No };
    // The buttons of a run's end box: OK, "Open Folder" and "Show Pictures".
    enum class ReportChoice { Ok, OpenFolder, ShowPictures };

    // A file dialog as the program asks for it. `filter` uses the "Caption|pattern|Caption|pattern"
    // form, for example "Text Files (*.txt)|*.txt|All Files (*.*)|*.*".
    struct FileRequest {
        QString title;
        QString filter;
        QString initialFolder;
        QString fileName;      // preset name for save dialogs
        QString defaultSuffix; // added by save dialogs to a name without an extension ("txt")
        bool multiple = false;
    };

    virtual ~Prompts() = default;

    virtual Answer messageBox(const QString& text, const QString& title, Buttons buttons, Icon icon) = 0;

    // The answer, or "" when the box was cancelled (an empty answer and a cancel are the same).
    virtual QString inputBox(const QString& prompt, const QString& title) = 0;

    // The chosen files in the order the dialog lists them; empty when cancelled.
    virtual QStringList openFiles(const FileRequest& request) = 0;

    // The chosen file, or "" when cancelled. Overwrite questions are the caller's.
    virtual QString saveFile(const FileRequest& request) = 0;

    // A modal chooser of real folders, opened at `startFolder`; "" when cancelled.
    virtual QString browseForFolder(const QString& prompt, const QString& startFolder) = 0;

    // Opens a web address in the user's browser, or a local file or folder with the desktop's program
    // for it, without waiting. False when no program took it (no browser, no file manager).
    virtual bool openUrl(const QString& url) = 0;

    // Shows the sheet as a grid with the prompt, OK and Cancel, and lets the user highlight a block
    // of cells with the mouse (whole rows or columns by their headers reach to the sheet's end).
    // Nothing when cancelled.
    virtual std::optional<CellRange> chooseCellBlock(const Sheet& sheet, const QString& prompt) = 0;

    // The box that ends a download run: the text, the details behind "Show Details..." (one line per
    // result), and, with `offerFolder`, the buttons "Open Folder" and "Show Pictures" beside OK. The
    // button chosen.
    virtual ReportChoice runReport(const QString& text, const QString& details, const QString& title,
                                   bool offerFolder) = 0;

    // A message box with an OK button, no icon and the application title: the program's usual box.
    void tell(const QString& text);

    // Opens a folder in the file manager; without one, a box says so and names the folder.
    void openFolder(const QString& folder);

    // The run's end box with the application title; "Open Folder" opens `folder` in the file manager.
    // An empty `folder` (the run saved nothing) offers neither folder button. The button chosen, for
    // the caller to act on "Show Pictures".
    ReportChoice report(const QString& text, const QString& details, const QString& folder);
};
