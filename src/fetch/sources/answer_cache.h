#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The last answers of a source, kept in the user's cache folder for a while so that the same query is
// not sent again before then (Pixabay asks programs not to repeat a request within 24 hours). The
// answers are kept by a hash of the request's address without the key, one file each, readable by
// the user alone; older ones, and ones dated in the future, are removed as they are met. The folder
// is used only when it is a folder of the user's own and not a link, and a link at a file's name is
// never read or written through.
class AnswerCache {
public:
    // `name` is the cache's folder under the program's cache folder ("pixabay").
    AnswerCache(const QString& name, qint64 keepSeconds);

    // The kept answer of the request, when one younger than the keeping time (and not from the
    // future) is there.
    std::optional<QByteArray> find(const QString& shownAddress) const;

    // Keeps an answer (at most the largest answer a search may have). Failures are ignored: the cache
    // only saves requests.
    void keep(const QString& shownAddress, const QByteArray& answer) const;

    // $XDG_CACHE_HOME (else ~/.cache) + "/Kestrelon/Glimmerfetch/" + name.
    QString folder() const { return folder_; }

    // The name of a request's file in the folder.
    static QString fileName(const QString& shownAddress);

private:
    // Removes the stale answers of the folder open at `folderFd`.
    void removeOld(int folderFd) const;

    QString folder_;
    qint64 keepSeconds_;
};
