#include "keywords/workbook_reader.h"

#include "keywords/workbook_formats.h"
#include "shell/error_report.h"

#include <QFile>
#include <QFileInfo>

#include <unzip.h>

namespace WorkbookFormats {

// The packages are read with minizip, the same zip library the workbook writer is built on.
ZipPackage::ZipPackage(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    zip_ = unzOpen64(name.constData());
    if (!zip_)
        throw AppError(
            QStringLiteral("The file is damaged or is not a workbook (the archive cannot be read)."));
    for (int rc = unzGoToFirstFile(zip_); rc == UNZ_OK; rc = unzGoToNextFile(zip_)) {
        char member[1024];
        if (unzGetCurrentFileInfo64(zip_, nullptr, member, sizeof member, nullptr, 0, nullptr, 0) == UNZ_OK)
            names_ << QString::fromUtf8(member);
    }
}

ZipPackage::~ZipPackage() {
    if (zip_)
        unzClose(zip_);
}

bool ZipPackage::contains(const QString& name) const {
    return names_.contains(name, Qt::CaseInsensitive);
}

QByteArray ZipPackage::read(const QString& name) const {
    const auto damaged = [&] {
        return AppError(
            QStringLiteral("The file is damaged or is not a workbook (%1 cannot be read).").arg(name));
    };
    // 2: names compare without regard to case, as the formats allow.
    if (unzLocateFile(zip_, name.toUtf8().constData(), 2) != UNZ_OK)
        throw damaged();
    unz_file_info64 info;
    if (unzGetCurrentFileInfo64(zip_, &info, nullptr, 0, nullptr, 0, nullptr, 0) != UNZ_OK)
        throw damaged();
    if (unzOpenCurrentFile(zip_) != UNZ_OK)
        throw damaged();
    QByteArray bytes;
    if (info.uncompressed_size < 512u * 1024 * 1024)
        bytes.reserve(static_cast<qsizetype>(info.uncompressed_size));
    char buffer[65536];
    int got = 0;
    while ((got = unzReadCurrentFile(zip_, buffer, sizeof buffer)) > 0)
        bytes.append(buffer, got);
    // Closing checks the member's checksum.
    const int closed = unzCloseCurrentFile(zip_);
    if (got < 0 || closed != UNZ_OK)
        throw damaged();
    return bytes;
}

} // namespace WorkbookFormats

namespace WorkbookReader {

Workbook read(const QString& path) {
    QFile file(path);
    if (!QFileInfo(path).isFile())
        throw AppError(QStringLiteral("File not found: ") + path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("The file cannot be opened: ") + file.errorString());
    const QByteArray head = file.read(8);
    file.close();

    if (head.startsWith("PK\x03\x04")) {
        bool ods = false;
        {
            WorkbookFormats::ZipPackage package(path);
            ods = package.contains(QStringLiteral("content.xml")) &&
                  !package.contains(QStringLiteral("[Content_Types].xml"));
        }
        return ods ? WorkbookFormats::readOds(path) : WorkbookFormats::readXlsx(path);
    }
    if (head == QByteArray::fromHex("D0CF11E0A1B11AE1"))
        return WorkbookFormats::readXls(path);
    const QString extension = QFileInfo(path).suffix().toLower();
    if (extension == QLatin1String("csv") || extension == QLatin1String("txt") ||
        extension == QLatin1String("tsv"))
        return WorkbookFormats::readCsv(path);
    throw AppError(QStringLiteral("The file is damaged or is not a workbook of a known kind."));
}

} // namespace WorkbookReader
