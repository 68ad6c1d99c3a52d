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
class FolderPictures {
public:
    explicit FolderPictures(QString folder);

    // True when a file in the folder other than `download` has the same bytes.
    bool holdsCopyOf(const QString& download);

    // A picture the run has just kept there.
    void add(const QString& kept);

    // How many files were hashed so far (for the benchmark).
    int hashed() const { return hashed_; }

private:
    void list();
    QByteArray hashOf(const QString& path);
    QByteArray headOf(const QString& path);

    QString folder_;
    bool listed_ = false;
    QMultiHash<qint64, QString> bySize_;
    QHash<QString, QByteArray> hashes_;
    QHash<QString, QByteArray> heads_; // digests of the files' first bytes
    int hashed_ = 0;
};
