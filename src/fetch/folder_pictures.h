#pragma once

#include <QByteArray>
#include <QHash>
#include <QMultiHash>
#include <QString>

// The files already in the pictures folder, to tell a download that is a byte-for-byte copy of one
// of them. The folder is listed once, with sizes only. When a download of the same size arrives,
// the files of that size are told apart by their first bytes, and only those that start alike are
// hashed whole (SHA-256); both are kept for the rest of the run. So the first check costs one
// listing, not reading the folder, and a check reads little more than the download itself.
//
// A picture whose bytes changed after it arrived (credits written into it) is still found: the
// folder's list of originals (OriginalsFileName, hidden) holds, for each such picture, the size and
// SHA-256 of the bytes as they arrived, with the name, size and time the picture had once changed.
// The list is read with the folder's listing; an entry counts while its picture still has that size
// and time, so an entry of a picture that was replaced or edited since says nothing.
class FolderPictures {
public:
    // A picture's bytes as they arrived.
    struct Original {
        qint64 size = -1;
        QByteArray sha256; // 32 bytes
        bool known() const { return size >= 0 && sha256.size() == 32; }
    };

    // The folder's list of originals: lines of "SHA256-HEX SIZE STORED-SIZE STORED-MTIME-MS NAME".
    static constexpr char OriginalsFileName[] = ".glimmerfetch-originals";
    // The end of the list that is read; older entries before it count no more.
    static constexpr qint64 OriginalsReadBytes = 32 * 1024 * 1024;

    explicit FolderPictures(QString folder);

    // True when a file in the folder other than `download` has the same bytes, or had them when it
    // arrived.
    bool holdsCopyOf(const QString& download);

    // A picture the run has just kept there; `asArrived` when its bytes have changed since (credits
    // were written into it), to be found by them.
    void add(const QString& kept, const Original& asArrived);
    void add(const QString& kept) { add(kept, Original()); }

    // The size and digest of bytes.
    static Original originalOf(const QByteArray& bytes);

    // Adds to the list of originals of the picture's folder that `picture`, as it is now, arrived as
    // `asArrived`. The list is never written through a link, and nothing but a regular file is
    // appended to. Returns "" or why the entry could not be written.
    static QString rememberOriginal(const QString& picture, const Original& asArrived);

    // How many files were hashed so far (for the benchmark).
    int hashed() const { return hashed_; }

private:
    void list();
    void readOriginals();
    QByteArray hashOf(const QString& path);
    QByteArray headOf(const QString& path);

    QString folder_;
    bool listed_ = false;
    QMultiHash<qint64, QString> bySize_;
    QMultiHash<qint64, QByteArray> originals_; // size as arrived -> SHA-256 as arrived
    QHash<QString, QByteArray> hashes_;
    QHash<QString, QByteArray> heads_; // digests of the files' first bytes
    int hashed_ = 0;
};
