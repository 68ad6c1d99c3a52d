#include "sheets/spreadsheet_list.h"

#include "base/error_report.h"
#include "base/file_routines.h"
#include "base/prompts.h"
#include "base/surface.h"
#include "base/waiting.h"
#include "keywords/event_pump.h"
#include "keywords/input_limits.h"
#include "keywords/keyword_list.h"
#include "keywords/keyword_text.h"
#include "sheets/workbook_reader.h"
#include "sheets/workbook_writer.h"

#include <QFileInfo>
#include <QUrl>

namespace {

// The spreadsheet layer (readers, block window and writer) is part of every build here; a port
// to a platform without it sets this to false and the commands say so.
constexpr bool SpreadsheetLayerBuilt = true;

QString listFullText() {
    return QStringLiteral("the keyword list would pass %L1 entries (the entries up to that limit were added)")
        .arg(InputLimits::MaxListEntries);
}

AppError tooMuchText(const QString& path) {
    return AppError(InputLimits::limitMessage(
        path,
        QStringLiteral("its keywords would pass %L1 characters").arg(InputLimits::MaxImportCharacters)));
}

QString notInstalled() {
    return QStringLiteral(
        "Excel is not installed on this computer. You need to have it installed to use this "
        "software without error.");
}

// The keyword of one row: " " + text for every cell of columns first..last that shows something.
QString rowKeyword(const RowRun& run, int first, int last, const QString& path) {
    QString keyword;
    for (const CellRun& cell : run.cells) {
        const int from = qMax(cell.column, first);
        const int to = qMin(cell.column + cell.count - 1, last);
        if (from > to)
            continue;
        const QString text = KeywordText::withoutControlCharacters(cell.text);
        if (text.isEmpty())
            continue;
        if (keyword.size() + qint64(to - from + 1) * (text.size() + 1) > InputLimits::MaxImportCharacters)
            throw tooMuchText(path);
        for (int c = from; c <= to; ++c)
            keyword += QLatin1Char(' ') + text;
    }
    return keyword;
}

// The keywords of the block, one per row. A block that reaches the sheet's last row (whole columns
// chosen) gives one keyword per row that the file holds in it, so that a sheet whose used range
// ends at its millionth row costs its stored rows, not a million; a smaller block gives one per
// row, empty for the rows the file does not have. Stops at the list's entry limit (the keywords
// up to it are kept, and the limit is reported once they are in the list by the caller).
std::vector<QString> blockKeywords(const Sheet& sheet, const CellRange& block, bool storedRowsOnly,
                                   int listCount, const QString& path, bool& stopped) {
    std::vector<QString> keywords;
    const qint64 room = qMax(0, InputLimits::MaxListEntries - listCount);
    qint64 characters = 0;
    List::EventPump pump;
    auto add = [&](const QString& keyword, qint64 times) {
        if (times > room - qint64(keywords.size())) {
            stopped = true;
            times = room - qint64(keywords.size());
        }
        characters += keyword.size() * times;
        if (characters > InputLimits::MaxImportCharacters)
            throw tooMuchText(path);
        for (qint64 k = 0; k < times; ++k) {
            keywords.push_back(keyword);
            if ((k & 4095) == 4095)
                pump.poll();
        }
        pump.poll();
        return !stopped;
    };
    const auto& rows = sheet.rows();
    int next = block.firstRow; // the first row of the block not yet given its keyword
    for (size_t i = sheet.firstRunFrom(block.firstRow); i < rows.size() && rows[i].row <= block.lastRow;
         ++i) {
        const RowRun& run = rows[i];
        const int from = qMax(run.row, block.firstRow);
        const int to = qMin(run.row + run.count - 1, block.lastRow);
        if (!storedRowsOnly && from > next && !add(QString(), from - next))
            break;
        if (!add(rowKeyword(run, block.firstColumn, block.lastColumn, path), to - from + 1))
            break;
        next = to + 1;
    }
    if (!storedRowsOnly && next <= block.lastRow && !stopped)
        add(QString(), block.lastRow - next + 1);
    return keywords;
}

} // namespace

namespace List {

bool ExcelAvailable(Prompts& prompts) {
    if (!SpreadsheetLayerBuilt) {
        prompts.tell(notInstalled());
        return false;
    }
    return true;
}

std::optional<OpenedWorkbook> OpenWorkbook(const QString& path, Prompts& prompts) {
    if (!SpreadsheetLayerBuilt) {
        prompts.tell(notInstalled());
        return std::nullopt;
    }
    OpenedWorkbook opened;
    try {
        opened.workbook = WorkbookReader::read(path);
    } catch (const AppError& e) {
        opened.failure = e.description();
    } catch (const std::bad_alloc&) {
        opened.failure = QStringLiteral("There is not enough memory to read %1.").arg(path);
    } catch (const ProgramEnding&) {
        throw; // the window was closed (or Ctrl-C came) while the file was read
    } catch (const std::exception& e) {
        opened.failure = QString::fromLocal8Bit(e.what());
    }
    return opened;
}

void ExcelToListview(KeywordList& list, const QString& path, Prompts& prompts, Surface& surface) {
    ErrorTrap trap(prompts, QStringLiteral("List.ExcelToListview"));
    std::optional<OpenedWorkbook> opened;
    trap(100, [&] { opened = OpenWorkbook(path, prompts); });
    if (!opened)
        return;
    trap(102, [&] { surface.setPointer(Surface::Hourglass); });
    // A file that cannot be opened ends the import here, with nothing imported.
    const bool open = trap(104, [&] {
        if (!opened->workbook)
            throw AppError(opened->failure);
    });
    if (!open) {
        surface.setPointer(Surface::Default);
        return;
    }
    const Sheet& sheet = opened->workbook->activeSheet;
    std::optional<CellRange> block;
    trap(106, [&] {
        block = prompts.chooseCellBlock(sheet, SpreadsheetCommands::blockPrompt());
        Lifetime::check(); // the main window may have been closed meanwhile
    });
    if (trap.ended())
        return;
    if (!block) {
        trap(108, [&] { surface.setPointer(Surface::Default); });
        return;
    }
    int lastRow = block->lastRow;
    int lastColumn = block->lastColumn;
    trap(110, [&] {
        // The used range starts at A1 and ends at the last row and column that hold anything.
        if (sheet.lastRow() < lastRow)
            lastRow = sheet.lastRow();
        if (sheet.lastColumn() < lastColumn)
            lastColumn = sheet.lastColumn();
    });
    trap(112, [&] {
        // A block wholly below or right of the used range adds nothing: a row with no column
        // left in it is not an empty row of the block.
        if (lastRow < block->firstRow || lastColumn < block->firstColumn)
            return;
        bool stopped = false;
        list.appendMany(blockKeywords(sheet,
                                      CellRange{block->firstRow, block->firstColumn, lastRow, lastColumn},
                                      block->lastRow >= SheetLimits::Rows, list.Count(), path, stopped));
        if (stopped)
            throw AppError(InputLimits::limitMessage(path, listFullText()));
    });
    trap(114, [&] { surface.setPointer(Surface::Default); });
}

} // namespace List

namespace SpreadsheetCommands {

QString openTitle() {
    return QStringLiteral("Add File");
}

QString openFilter() {
    return QStringLiteral(
        "Excel Files (*.xl*)|*.xl*|OpenDocument and CSV Spreadsheets (*.ods;*.csv)|*.ods;*.csv|");
}

QString blockPrompt() {
    return QStringLiteral("Highlight a block of cells with mouse");
}

void LoadListFromExcelFile(KeywordList& list, Prompts& prompts, Surface& surface, ErrorTrap& trap) {
    QStringList chosen;
    trap(100, [&] {
        Prompts::FileRequest request;
        request.title = openTitle();
        request.filter = openFilter();
        chosen = prompts.openFiles(request);
    });
    if (chosen.isEmpty() || chosen.constFirst().isEmpty())
        return;
    trap(102, [&] { List::ExcelToListview(list, chosen.constFirst(), prompts, surface); });
}

void SaveListToExcelFile(const KeywordList& list, Prompts& prompts, ErrorTrap& trap) {
    bool available = true;
    trap(100, [&] {
        available = List::ExcelAvailable(prompts);
        if (!available)
            prompts.tell(QStringLiteral("Excel is not installed on this computer. You need to have it "
                                        "installed to use this feature."));
    });
    if (!available || list.Count() == 0)
        return;
    // The workbook cannot be handed over unsaved here: it is saved where the user says, then
    // opened in the desktop's spreadsheet application.
    QString path;
    trap(102, [&] {
        Prompts::FileRequest request;
        request.title = QStringLiteral("Save");
        request.filter = QStringLiteral("Excel Files (*.xlsx)|*.xlsx|");
        path = prompts.saveFile(request);
        if (!path.isEmpty() &&
            QFileInfo(path).suffix().compare(QLatin1String("xlsx"), Qt::CaseInsensitive) != 0)
            path += QStringLiteral(".xlsx");
    });
    if (path.isEmpty())
        return;
    bool replace = true;
    trap(104, [&] {
        if (Main::FileExists(path))
            replace = prompts.messageBox(
                          QStringLiteral("Are you sure you wish to overwrite ") + path + QStringLiteral(" ?"),
                          QString(), Prompts::Buttons::YesNo, Prompts::Icon::None) == Prompts::Answer::Yes;
    });
    if (!replace)
        return;
    bool written = false;
    trap(106, [&] {
        QString header = list.headerData(0, Qt::Horizontal).toString();
        if (header.isEmpty())
            header = QStringLiteral("Keyword/s");
        WorkbookWriter::writeKeywords(list.items(), header, path);
        written = true;
    });
    if (written)
        trap(108, [&] { prompts.openUrl(QUrl::fromLocalFile(path).toString()); });
}

} // namespace SpreadsheetCommands
