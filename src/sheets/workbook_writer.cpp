#include "sheets/workbook_writer.h"

#include "base/error_report.h"
#include "sheets/workbook.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryFile>

#include <xlsxwriter.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace WorkbookWriter {

namespace {

// A cell holds at most this many characters.
constexpr qsizetype MaxCellText = 32767;

AppError writeError(const QString& path, const QString& reason) {
    return AppError(QStringLiteral("The workbook %1 could not be written: %2").arg(path, reason));
}

// Characters of East Asian scripts take two columns.
int displayColumns(const QString& text) {
    int columns = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        columns +=
            (u >= 0x1100 && (u <= 0x115F || (u >= 0x2E80 && u <= 0xA4CF) || (u >= 0xAC00 && u <= 0xD7A3) ||
                             (u >= 0xF900 && u <= 0xFAFF) || (u >= 0xFF00 && u <= 0xFF60)))
                ? 2
                : 1;
    }
    return columns;
}

// The workbook writes characters that XML cannot carry as "_xHHHH_"; a keyword that itself holds
// such a sequence gets its underscore escaped ("_x005F_"), or it would read back as the character.
QByteArray cellText(const QString& text) {
    static const QRegularExpression escapeLike(QStringLiteral("_(x[0-9A-Fa-f]{4}_)"));
    if (!text.contains(QLatin1String("_x")))
        return text.toUtf8();
    QString escaped = text;
    escaped.replace(escapeLike, QStringLiteral("_x005F_\\1"));
    return escaped.toUtf8();
}

mode_t currentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}

} // namespace

double fittedWidth(const std::vector<QString>& texts) {
    int longest = 0;
    for (const QString& t : texts) {
        // A cell shows its first line; the widest line decides.
        for (const QStringView line : QStringView(t).split(QLatin1Char('\n')))
            longest = qMax(longest, displayColumns(line.toString()));
    }
    // The default column is 8.43 characters wide; the widest the format allows is 255.
    return qBound(8.43, longest * 1.1 + 1.0, 255.0);
}

void writeKeywords(const std::vector<QString>& keywords, const QString& header, const QString& path) {
    const bool withHeader = !keywords.empty() && !keywords.front().isEmpty();
    if (static_cast<qint64>(keywords.size()) + 1 > SheetLimits::Rows)
        throw writeError(path,
                         QStringLiteral("a sheet holds at most %1 keywords").arg(SheetLimits::Rows - 1));
    for (size_t k = 0; k < keywords.size(); ++k)
        if (keywords[k].size() > MaxCellText)
            throw writeError(path, QStringLiteral("keyword %1 is longer than a cell can hold (%2 characters)")
                                       .arg(k + 1)
                                       .arg(MaxCellText));

    const QFileInfo target(path);
    QTemporaryFile temporary(
        target.absoluteDir().filePath(QStringLiteral(".%1.XXXXXX").arg(target.fileName())));
    if (!temporary.open())
        throw writeError(path, temporary.errorString());
    temporary.close();
    const QByteArray temporaryName = QFile::encodeName(temporary.fileName());

    lxw_workbook_options options{};
    lxw_workbook* workbook = workbook_new_opt(temporaryName.constData(), &options);
    if (!workbook)
        throw writeError(path, QStringLiteral("out of memory"));
    lxw_worksheet* sheet = workbook_add_worksheet(workbook, nullptr);
    lxw_error failure = sheet ? LXW_NO_ERROR : LXW_ERROR_MEMORY_MALLOC_FAILED;

    std::vector<QString> written;
    if (withHeader && failure == LXW_NO_ERROR) {
        failure = worksheet_write_string(sheet, 0, 0, cellText(header).constData(), nullptr);
        written.push_back(header);
    }
    for (size_t k = 0; k < keywords.size() && failure == LXW_NO_ERROR; ++k) {
        if (keywords[k].isEmpty())
            continue;
        failure = worksheet_write_string(sheet, static_cast<lxw_row_t>(k + 1), 0,
                                         cellText(keywords[k]).constData(), nullptr);
        written.push_back(keywords[k]);
    }
    if (failure == LXW_NO_ERROR)
        failure = worksheet_set_column(sheet, 0, 0, fittedWidth(written), nullptr);
    errno = 0;
    const lxw_error closed = workbook_close(workbook); // frees the workbook in every case
    const int systemError = errno;
    if (failure == LXW_NO_ERROR)
        failure = closed;
    if (failure != LXW_NO_ERROR) {
        // A file that could not be written (a full disk) is told by the system's reason.
        const bool fileFailure = failure == LXW_ERROR_ZIP_FILE_OPERATION || failure == LXW_ERROR_ZIP_CLOSE ||
                                 failure == LXW_ERROR_CREATING_XLSX_FILE ||
                                 failure == LXW_ERROR_CREATING_TMPFILE ||
                                 failure == LXW_ERROR_READING_TMPFILE;
        throw writeError(path, fileFailure && systemError != 0
                                   ? QString::fromLocal8Bit(std::strerror(systemError))
                                   : QString::fromUtf8(lxw_strerror(failure)));
    }

    // A replaced file keeps its permissions; a new one gets the usual ones.
    struct stat old {};
    const QByteArray targetName = QFile::encodeName(target.absoluteFilePath());
    const mode_t permissions =
        ::stat(targetName.constData(), &old) == 0 ? (old.st_mode & 07777) : (0666 & ~currentUmask());
    ::chmod(temporaryName.constData(), permissions);
    if (std::rename(temporaryName.constData(), targetName.constData()) != 0)
        throw writeError(path, QString::fromLocal8Bit(std::strerror(errno)));
    temporary.setAutoRemove(false);
}

} // namespace WorkbookWriter
