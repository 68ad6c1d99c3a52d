#include "sheets/workbook_reader.h"

#include "base/error_report.h"
#include "keywords/input_limits.h"
#include "sheets/workbook_formats.h"

#include <QFile>
#include <QFileInfo>

#include <new>

#include <unzip.h>

namespace WorkbookFormats {

namespace {

QString megabytes(quint64 bytes) {
    return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
}

// The limit an inflated size breaks, or "" when it is within them.
QString sizeLimitBroken(const QString& name, quint64 inflated, quint64 compressed) {
    if (inflated > InputLimits::MaxMemberBytes)
        return QStringLiteral("its part %1 would inflate to more than %2")
            .arg(name, megabytes(InputLimits::MaxMemberBytes));
    if (inflated > InputLimits::RatioCheckedAbove &&
        inflated > InputLimits::MaxInflateRatio * qMax<quint64>(compressed, 1))
        return QStringLiteral("its part %1 would inflate to more than %2 times its packed size")
            .arg(name)
            .arg(InputLimits::MaxInflateRatio);
    return QString();
}

} // namespace

ZipMember::ZipMember(void* zip, const QString& name, quint64 declaredSize)
    : zip_(zip)
    , name_(name)
    , declared_(declaredSize) {
    QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
}

ZipMember::~ZipMember() {
    if (!closed_)
        unzCloseCurrentFile(zip_);
}

qint64 ZipMember::readData(char* data, qint64 maxSize) {
    if (stopped())
        return -1;
    const int want = static_cast<int>(qMin<qint64>(maxSize, 1 << 20));
    const int got = unzReadCurrentFile(zip_, data, static_cast<unsigned>(want));
    if (got < 0) {
        damaged_ = true;
        return -1;
    }
    if (got == 0) {
        ended_ = true;
        return -1;
    }
    inflated_ += static_cast<quint64>(got);
    // The declared size was checked against the limits; a member that inflates beyond it lies.
    if (inflated_ > declared_) {
        tooLarge_ = true;
        return -1;
    }
    return got;
}

void ZipMember::finish() {
    if (!closed_) {
        // Closing a member read to its end checks its checksum: minizip stops at the size the
        // archive gives, so a member that would inflate beyond it shows here.
        closed_ = true;
        if (unzCloseCurrentFile(zip_) == UNZ_CRCERROR)
            damaged_ = true;
    }
    if (tooLarge_)
        throw InputLimits::LimitExceeded(
            QStringLiteral("its part %1 inflates beyond the size its archive gives").arg(name_));
    if (damaged_)
        throw AppError(
            QStringLiteral("The file is damaged or is not a workbook (%1 cannot be read).").arg(name_));
}

// The packages are read with minizip, the same zip library the workbook writer is built on.
ZipPackage::ZipPackage(const QString& path) {
    const QByteArray name = QFile::encodeName(path);
    zip_ = unzOpen64(name.constData());
    if (!zip_)
        throw AppError(
            QStringLiteral("The file is damaged or is not a workbook (the archive cannot be read)."));
    for (int rc = unzGoToFirstFile(zip_); rc == UNZ_OK; rc = unzGoToNextFile(zip_)) {
        if (names_.size() >= InputLimits::MaxArchiveMembers) {
            unzClose(zip_);
            zip_ = nullptr;
            throw InputLimits::LimitExceeded(
                QStringLiteral("its archive lists more than %1 parts").arg(InputLimits::MaxArchiveMembers));
        }
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

std::unique_ptr<ZipMember> ZipPackage::open(const QString& name) const {
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
    const QString broken = sizeLimitBroken(name, info.uncompressed_size, info.compressed_size);
    if (!broken.isEmpty())
        throw InputLimits::LimitExceeded(broken);
    if (unzOpenCurrentFile(zip_) != UNZ_OK)
        throw damaged();
    return std::make_unique<ZipMember>(zip_, name, info.uncompressed_size);
}

} // namespace WorkbookFormats

namespace WorkbookReader {

namespace {

Workbook readKnownKind(const QString& path) {
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

} // namespace

Workbook read(const QString& path) {
    try {
        return readKnownKind(path);
    } catch (const InputLimits::LimitExceeded& e) {
        throw AppError(InputLimits::limitMessage(path, e.description()));
    } catch (const std::bad_alloc&) {
        throw AppError(
            QStringLiteral("There is not enough memory to read %1.").arg(QDir::toNativeSeparators(path)));
    }
}

} // namespace WorkbookReader
