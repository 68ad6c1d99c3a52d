#pragma once

#include <QAbstractListModel>
#include <QCache>
#include <QDateTime>
#include <QHash>
#include <QImage>
#include <QSet>
#include <QSize>
#include <QStyledItemDelegate>
#include <QThreadPool>

#include <functional>
#include <vector>

class QSortFilterProxyModel;
namespace Thumbnails {
struct Thumbnail;
}

// What credits.csv says of the pictures of a folder, read again when the file has changed. The
// list is only read here; the run appends to it.
class CreditsList {
public:
    struct Credit {
        QString source;
        QString creator;
        QString licence;
        QString sourcePage;
    };
    // The last line for that file name in the folder's list (folder ends in "/"); nothing when the
    // list has none or cannot be read.
    const Credit* find(const QString& folder, const QString& name);

private:
    void load(const QString& path);
    QString path_;
    qint64 size_ = -1;
    QDateTime modified_;
    QHash<QString, Credit> byName_;
};

// The pictures of one folder as tiles, in the order they were kept, with a thumbnail each once it is
// made. Thumbnails are asked for only by tiles on the screen, made off the window's thread (the
// newest request first; one whose tile has left the screen meanwhile is dropped) and kept in
// memory up to a bound, the least recently used going first.
class PictureModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Role { PathRole = Qt::UserRole + 1, PlaceholderRole };
    // Thumbnails kept in memory, in bytes.
    static constexpr qsizetype MemoryBytes = 96 * 1024 * 1024;

    explicit PictureModel(QObject* parent = nullptr);
    ~PictureModel() override;

    // Lists the folder's pictures (the files with a picture's extension; a run's partial download
    // has none), the oldest first. `folder` ends in "/".
    void setFolder(const QString& folder);
    QString folder() const { return folder_; }
    // A picture just kept in the folder goes to the end. False when it is listed already or is no
    // picture file of the folder.
    bool append(const QString& name);
    // Puts a picture (back) at that row.
    void insert(int row, const QString& name);
    // Takes pictures off the list; their files are not touched.
    void remove(const QStringList& names);
    // Brings the list in line with the folder: pictures gone are taken off, new ones go to the end.
    void refresh();

    int rowOf(const QString& name) const { return rows_.value(name, -1); }
    QString nameAt(int row) const { return pictures_.at(static_cast<size_t>(row)).name; }
    QString pathAt(int row) const { return folder_ + nameAt(row); }

    // The thumbnail when it is in memory; otherwise a null image, and it is asked for.
    QImage thumbnail(int row);
    // Which rows have their tile on the screen.
    void setOnScreen(std::function<bool(int row)> onScreen) { onScreen_ = std::move(onScreen); }
    // Thumbnails asked for and not made yet.
    int waiting() const { return static_cast<int>(asked_.size()); }

    // Name, size in pixels and bytes, and what credits.csv says: the tooltip and the side panel.
    QString details(int row) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    struct Picture {
        QString name;
        qint64 bytes = 0;
        QSize pixels;
        bool failed = false; // no thumbnail can be made: the tile shows a placeholder
    };
    static bool isPicture(const QString& name);
    void reindex();
    void startMore();
    void arrived(const QString& name, const Thumbnails::Thumbnail& made);

    QString folder_;
    std::vector<Picture> pictures_;
    QHash<QString, int> rows_;
    mutable QCache<QString, QImage> images_;
    mutable CreditsList credits_;
    std::function<bool(int)> onScreen_;
    QThreadPool pool_;
    std::vector<QString> requests_; // newest last
    QSet<QString> asked_;
    int running_ = 0;
    quint64 generation_ = 0; // a new folder: thumbnails of the old one are not taken
};

// Draws a tile: the thumbnail (or a placeholder for a picture that cannot be shown) in a square of
// the large thumbnail size, the file name below it.
class TileDelegate : public QStyledItemDelegate {
public:
    TileDelegate(PictureModel* pictures, QSortFilterProxyModel* shown, QObject* parent = nullptr);
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    PictureModel* pictures_;
    QSortFilterProxyModel* shown_;
};
