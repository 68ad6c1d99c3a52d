#include "app/form1.h"

#include "base/error_report.h"
#include "base/file_routines.h"
#include "base/globals.h"
#include "base/prompts.h"
#include "keywords/event_pump.h"
#include "keywords/keyword_list.h"
#include "keywords/list_commands.h"
#include "keywords/text_list_file.h"
#include "sheets/spreadsheet_list.h"

#include <QItemSelectionModel>
#include <QTableView>

// The main window's commands on the keyword list: each belongs to the list's own subsystem and is
// called here under the window's error trap.

void Form1::PushButton1_Click() {
    // No confirmation; refused while a long command works, so that nothing is cleared under it.
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton1_Click"));
    trap(100, [&] { List::ClearUnlessBusy(*keywords_, *this); });
}

void Form1::PushButton3_Click() {
    // The chosen files are appended in the order the dialog lists them; a file that fails is
    // reported and the others are still loaded.
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton3_Click"));
    QStringList files;
    trap(100, [&] {
        files = prompts_.openFiles(
            List::TextListDialog(QStringLiteral("Load List(s) - Hold Ctrl to select multiple list files")));
    });
    if (files.isEmpty())
        return;
    trap(104, [&] { setPointer(Hourglass); });
    List::EventPump pump;
    for (const QString& file : files)
        trap(106, [&] { List::LoadTextList(*keywords_, file, prompts_, pump); });
    trap(108, [&] { setPointer(Default); });
}

void Form1::PushButton5_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton5_Click"));
    trap(100, [&] { List::AddSamples(*keywords_); });
}

void Form1::PushButton7_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton7_Click"));
    QString path;
    trap(100, [&] { path = prompts_.saveFile(List::TextListDialog(QStringLiteral("Save"))); });
    if (path.isEmpty())
        return;
    bool overwrite = true;
    trap(104, [&] {
        if (Main::FileExists(path))
            overwrite = prompts_.messageBox(QStringLiteral("Are you sure you wish to overwrite ") + path +
                                                QStringLiteral(" ?"),
                                            Globals::applicationTitle(), Prompts::Buttons::YesNo,
                                            Prompts::Icon::None) == Prompts::Answer::Yes;
    });
    if (!overwrite)
        return;
    trap(106, [&] { setPointer(Hourglass); });
    bool saved = false;
    trap(108, [&] {
        List::EventPump pump;
        List::SaveTextList(*keywords_, path, pump);
        saved = true;
    });
    // A save that failed has been reported; it is not followed by "Done.".
    if (saved)
        trap(110, [&] { prompts_.tell(QStringLiteral("Done.")); });
    trap(112, [&] { setPointer(Default); });
}

void Form1::PushButton9_Click() {
    removeByText(QStringLiteral("Form1.PushButton9_Click"), QStringLiteral("Remove entries containing: "),
                 List::RemoveItemsWith);
}

void Form1::PushButton10_Click() {
    removeByText(QStringLiteral("Form1.PushButton10_Click"),
                 QStringLiteral("Remove entries not containing: "), List::RemoveItemsWithout);
}

// Asks for a text and removes the entries that `remove` picks by it, under the hourglass.
void Form1::removeByText(const QString& where, const QString& question, const TextRemoval& remove) {
    ErrorTrap trap(prompts_, where);
    QString text;
    trap(100, [&] { text = prompts_.inputBox(question, Globals::applicationTitle()); });
    if (text.isEmpty())
        return;
    trap(104, [&] { setPointer(Hourglass); });
    trap(106, [&] { remove(*keywords_, text, *this, prompts_); });
    trap(108, [&] { setPointer(Default); });
}

void Form1::PushButton13_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton13_Click"));
    SpreadsheetCommands::LoadListFromExcelFile(*keywords_, prompts_, *this, trap);
}

void Form1::PushButton14_Click() {
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton14_Click"));
    SpreadsheetCommands::SaveListToExcelFile(*keywords_, prompts_, trap);
}

void Form1::PushButton20_Click() {
    // The answer is added exactly as typed, duplicates and spaces included.
    ErrorTrap trap(prompts_, QStringLiteral("Form1.PushButton20_Click"));
    QString keyword;
    trap(100, [&] {
        keyword =
            prompts_.inputBox(QStringLiteral("Enter Item To Add To List: "), Globals::applicationTitle());
    });
    if (keyword.isEmpty())
        return;
    trap(104, [&] { keywords_->add(keyword); });
}

void Form1::ListView1_KeyDown(int key) {
    // The Delete key removes the selected entry, whatever Shift, Ctrl and Alt; no confirmation, no
    // error box, and nothing while a long command works.
    if (key != Qt::Key_Delete)
        return;
    const QModelIndexList rows = ListView1->selectionModel()->selectedRows();
    List::RemoveSelectedUnlessBusy(*keywords_, *this, rows.isEmpty() ? 0 : rows.constFirst().row() + 1);
}

void Form1::ListView1_DblClick() {
    // Removes the entry selected when the double-click arrives (the first click selected it).
    const QModelIndexList rows = ListView1->selectionModel()->selectedRows();
    List::RemoveSelectedUnlessBusy(*keywords_, *this, rows.isEmpty() ? 0 : rows.constFirst().row() + 1);
}
