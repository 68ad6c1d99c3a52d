#include "cli/keyword_files.h"

#include "base/error_report.h"
#include "keywords/event_pump.h"
#include "keywords/input_limits.h"
#include "keywords/keyword_list.h"
#include "keywords/keyword_text.h"
#include "keywords/text_list_file.h"
#include "sheets/workbook_reader.h"

#include <QDir>
#include <QFileInfo>

#include <vector>

namespace CommandLine {

namespace {

// The header the window writes above the keywords of a saved workbook.
const QString SavedHeader = QStringLiteral("Keyword/s");

void loadWorkbookColumn(KeywordList& list, const QString& path) {
    const Workbook book = WorkbookReader::read(path);
    const Sheet& sheet = book.activeSheet;
    std::vector<QString> keywords;
    const qint64 room = qMax(0, InputLimits::MaxListEntries - list.Count());
    qint64 characters = 0;
    for (const RowRun& run : sheet.rows()) {
        if (run.cells.empty() || run.cells.front().column != 1)
            continue;
        const QString keyword = KeywordText::withoutControlCharacters(run.cells.front().text);
        qint64 times = run.count;
        if (run.row == 1 && keyword == SavedHeader)
            --times;
        if (times > room - qint64(keywords.size()))
            throw AppError(InputLimits::limitMessage(
                path,
                QStringLiteral("the keyword list would pass %L1 entries").arg(InputLimits::MaxListEntries)));
        characters += keyword.size() * times;
        if (characters > InputLimits::MaxImportCharacters)
            throw AppError(
                InputLimits::limitMessage(path, QStringLiteral("its keywords hold more than %L1 characters")
                                                    .arg(InputLimits::MaxImportCharacters)));
        keywords.insert(keywords.end(), static_cast<size_t>(times), keyword);
    }
    list.appendMany(std::move(keywords));
}

} // namespace

bool IsWorkbookName(const QString& path) {
    static const QStringList extensions = {QStringLiteral("csv"), QStringLiteral("xlsx"),
                                           QStringLiteral("xlsm"), QStringLiteral("ods"),
                                           QStringLiteral("xls")};
    return extensions.contains(QFileInfo(path).suffix().toLower());
}

void LoadKeywordFile(KeywordList& list, const QString& path, Prompts& prompts) {
    const bool standardInput = path == QLatin1String("-");
    const QString file = standardInput ? QStringLiteral("/dev/stdin") : path;
    const QString shown = standardInput ? QStringLiteral("standard input") : QDir::toNativeSeparators(path);
    if (!standardInput && !QFileInfo::exists(path))
        throw AppError(QStringLiteral("%1: no such file").arg(shown));
    if (!standardInput && !QFileInfo(path).isFile())
        throw AppError(QStringLiteral("%1: not a regular file").arg(shown));
    try {
        if (!standardInput && IsWorkbookName(path)) {
            loadWorkbookColumn(list, path);
        } else {
            List::EventPump pump;
            List::LoadTextList(list, file, prompts, pump);
        }
    } catch (const InputLimits::LimitExceeded& e) {
        throw AppError(InputLimits::limitMessage(shown, e.description()));
    } catch (const AppError& e) {
        // The readers' limit messages name the file already; their other failures do not.
        if (e.description().contains(shown))
            throw;
        throw AppError(QStringLiteral("%1: %2").arg(shown, e.description()));
    }
}

} // namespace CommandLine
