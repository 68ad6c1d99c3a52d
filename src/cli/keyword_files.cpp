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

// A first keyword that reads like a column's title (the window writes "Keyword/s" above the
// keywords of a saved workbook) is no keyword.
bool isHeader(const QString& keyword) {
    for (const char* header : {"keyword", "keywords", "keyword/s"})
        if (keyword.compare(QLatin1String(header), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// The entries a file added from `before` on, as a script means them: trimmed, blank ones left out,
// and a first one that is a header dropped.
void tidyFrom(KeywordList& list, int before) {
    std::vector<QString> keywords;
    for (int i = before + 1; i <= list.Count(); ++i) {
        QString keyword = list.item(i).trimmed();
        if (keyword.isEmpty() || (keywords.empty() && isHeader(keyword)))
            continue;
        keywords.push_back(std::move(keyword));
    }
    if (list.Count() > before) {
        list.removeRun(before + 1, list.Count());
        list.compact();
    }
    list.appendMany(std::move(keywords));
}

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
        const qint64 times = run.count;
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
    const int before = list.Count();
    try {
        if (!standardInput && IsWorkbookName(path)) {
            loadWorkbookColumn(list, path);
        } else {
            List::EventPump pump;
            List::LoadTextList(list, file, prompts, pump);
        }
        tidyFrom(list, before);
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
