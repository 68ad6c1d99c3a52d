#include "base/file_routines.h"

#include "base/error_report.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include <sys/stat.h>

namespace Main {

bool FileExists(const QString& path) {
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    return info.exists() && info.lastModified().isValid();
}

bool FolderExists(const QString& path) {
    return !path.isEmpty() && QFileInfo(path).isDir();
}

void RemoveFile(const QString& path) {
    QCoreApplication::processEvents();
    if (path.isEmpty() || QFile::remove(path))
        return;
    // The forced attempt: clear the read-only mark, then delete again.
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner | QFileDevice::WriteUser);
    QFile::remove(path);
}

QString ReadWholeFile(const QString& path) {
    if (!FileExists(path))
        return QString();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw AppError(QStringLiteral("Permission denied"));
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError)
        throw AppError(QStringLiteral("Input past end of file"));
    if (bytes.isEmpty())
        return QStringLiteral("empty file");
    const auto first = static_cast<unsigned char>(bytes.at(0));
    if (first == 255 || first == 254) {
        // UTF-16, low byte first, the byte-order mark kept as the first character.
        QString text;
        text.reserve((bytes.size() + 1) / 2);
        for (qsizetype i = 0; i < bytes.size(); i += 2) {
            const auto low = static_cast<unsigned char>(bytes.at(i));
            const auto high = i + 1 < bytes.size() ? static_cast<unsigned char>(bytes.at(i + 1)) : 0u;
            text.append(QChar(static_cast<char16_t>(low | (high << 8))));
        }
        return text;
    }
    return QString::fromLocal8Bit(bytes);
}

QByteArray ReadFileBytes(const QString& path, qint64 maxBytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.read(maxBytes);
}

void SaveBytesToFile(const QByteArray& bytes, const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        throw AppError(QStringLiteral("Path/File access error"));
    if (!file.seek(0) || file.write(bytes) != bytes.size())
        throw AppError(QStringLiteral("Disk full"));
    if (!file.flush())
        throw AppError(QStringLiteral("Disk full"));
}

QString CommitSaveFile(QSaveFile& file) {
    // QSaveFile keeps small writes in a buffer and replaces the old file even when that buffer
    // could not be written at the end (a full disk): so the buffer is written, and the bytes made
    // to reach the disk, while the old file is still in place.
    QString reason;
    if (!file.flush() || file.error() != QFileDevice::NoError)
        reason = file.errorString();
    else if (::fsync(file.handle()) != 0 && errno != EINVAL && errno != ENOTSUP && errno != ENOSYS)
        reason = QString::fromLocal8Bit(std::strerror(errno));
    if (!reason.isEmpty()) {
        file.cancelWriting();
        return reason;
    }
    if (!file.commit())
        return file.errorString().isEmpty() ? QStringLiteral("the file could not be replaced")
                                            : file.errorString();
    return QString();
}

QString LastPathPart(const QString& text, QChar separator) {
    const qsizetype at = text.lastIndexOf(separator);
    return at < 0 ? text : text.mid(at + 1);
}

QString StripExtension(const QString& text) {
    if (text.isEmpty())
        return QString();
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    return dot >= 1 ? text.left(dot) : text;
}

QString ExtensionOf(const QString& text) {
    const qsizetype dot = text.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? text : text.mid(dot + 1);
}

namespace {
QString collapsePairs(const QString& text, QChar separator) {
    const QString pair(2, separator);
    QString result = text;
    return result.replace(pair, QString(separator));
}
} // namespace

QString CollapseDoubleBackslashes(const QString& path, QChar separator) {
    if (path.isEmpty() || path.at(0) != separator)
        return collapsePairs(path, separator);
    qsizetype k = 1;
    while (k < path.size() && path.at(k) == separator)
        ++k;
    const QString lead = separator == QLatin1Char('\\') ? QString(2, separator) : QString(separator);
    return lead + collapsePairs(path.mid(k), separator);
}

bool MakePrivateFolders(const QString& path) {
    if (path.isEmpty())
        return false;
    if (QFileInfo(path).isDir())
        return true;
    const QString parent = QFileInfo(path).absolutePath();
    if (parent != QFileInfo(path).absoluteFilePath() && !MakePrivateFolders(parent))
        return false;
    ::mkdir(QFile::encodeName(path).constData(), 0700);
    return QFileInfo(path).isDir();
}

} // namespace Main
