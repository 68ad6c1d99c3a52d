#include "fetch/credits_file.h"

#include <QFile>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace CreditsFile {

namespace {

// The header of the lists written before they had the attribution column.
constexpr char EarlierHeader[] =
    "file,keyword,source,address,source page,title,creator,licence,licence address,time\r\n";

// Whether the list open as `fd` starts with the earlier header.
bool hasEarlierHeader(int fd) {
    const qsizetype length = qsizetype(sizeof EarlierHeader) - 1;
    QByteArray start(length, '\0');
    return ::pread(fd, start.data(), size_t(length), 0) == length && start == EarlierHeader;
}

} // namespace

QByteArray header() {
    return "file,keyword,source,address,source page,title,creator,licence,licence "
           "address,time,attribution\r\n";
}

QString sourceName(const Line& line) {
    // The original service only finds pictures: the site that has the picture is its source.
    if (line.source == Sources::Source::ContextualWeb) {
        const QString host = QUrl(line.address).host();
        if (!host.isEmpty())
            return host;
    }
    return Sources::shownName(line.source);
}

QString attribution(const Line& line) {
    const Sources::Credits& c = line.credits;
    QStringList parts;
    const QString title = c.title.isEmpty() ? QString() : QLatin1Char('"') + c.title + QLatin1Char('"');
    if (!title.isEmpty() && !c.creator.isEmpty())
        parts << title + QStringLiteral(" by ") + c.creator;
    else if (!title.isEmpty())
        parts << title;
    else if (!c.creator.isEmpty())
        parts << QStringLiteral("By ") + c.creator;
    parts << sourceName(line);
    if (!c.licence.isEmpty() && !c.licenceAddress.isEmpty())
        parts << c.licence + QStringLiteral(" (") + c.licenceAddress + QLatin1Char(')');
    else if (!c.licence.isEmpty() || !c.licenceAddress.isEmpty())
        parts << c.licence + c.licenceAddress;
    return parts.join(QStringLiteral(", "));
}

QByteArray field(const QString& text) {
    // A keyword may hold any character; control characters but line breaks and tabs become "_",
    // as they do in the keyword's file names.
    QString clean = text;
    for (QChar& c : clean)
        if (c.unicode() < 0x20 && c != QLatin1Char('\n') && c != QLatin1Char('\r') && c != QLatin1Char('\t'))
            c = QLatin1Char('_');
    QByteArray bytes = clean.toUtf8();
    if (!bytes.isEmpty() && QByteArray("=+-@\t\r").contains(bytes.at(0)))
        bytes.prepend('\'');
    if (bytes.contains(',') || bytes.contains('"') || bytes.contains('\n') || bytes.contains('\r'))
        return '"' + bytes.replace("\"", "\"\"") + '"';
    return bytes;
}

QByteArray format(const Line& line, bool withAttribution) {
    const Sources::Credits& c = line.credits;
    QStringList fields{line.file,
                       line.keyword,
                       Sources::storedName(line.source),
                       line.address,
                       c.sourcePage,
                       c.title,
                       c.creator,
                       c.licence,
                       c.licenceAddress,
                       line.time.toUTC().toString(Qt::ISODate)};
    if (withAttribution)
        fields << attribution(line);
    QByteArray out;
    for (const QString& text : fields) {
        if (!out.isEmpty())
            out += ',';
        out += field(text);
    }
    return out + "\r\n";
}

QString append(const QString& folder, const Line& line) {
    const QByteArray path = QFile::encodeName(folder + QLatin1String(FileName));
    // Non-blocking: a pipe by that name, with no reader, would otherwise hold the run forever.
    const int fd =
        ::open(path.constData(), O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0644);
    if (fd < 0)
        return QString::fromLocal8Bit(std::strerror(errno));
    struct stat status {};
    QByteArray bytes;
    QString problem;
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        problem = QStringLiteral("not a regular file");
    } else {
        // A list begun before there was an attribution column keeps the columns of its header line.
        bytes = format(line, status.st_size == 0 || !hasEarlierHeader(fd));
        char last = '\n';
        if (status.st_size == 0)
            bytes.prepend(header());
        else if (::pread(fd, &last, 1, status.st_size - 1) == 1 && last != '\n')
            bytes.prepend("\r\n"); // a line left unfinished (by hand, or before): ours starts anew
        const ssize_t written = ::write(fd, bytes.constData(), static_cast<size_t>(bytes.size()));
        if (written != bytes.size()) {
            problem = QString::fromLocal8Bit(std::strerror(written < 0 ? errno : ENOSPC));
            // A short write (a full disk) leaves part of a line: the list is cut back to its last
            // whole line, so that the next run's line does not run on from the fragment.
            const off_t end = ::lseek(fd, 0, SEEK_END);
            if (written > 0 && end >= written && ::ftruncate(fd, end - written) == 0)
                problem += QStringLiteral("; the unfinished line was taken out again");
        }
    }
    ::close(fd);
    return problem;
}

} // namespace CreditsFile
