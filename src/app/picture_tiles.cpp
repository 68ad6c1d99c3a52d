#include "app/picture_tiles.h"

#include "app/thumbnails.h"
#include "base/error_report.h"
#include "fetch/credits_file.h"
#include "fetch/picture_type.h"
#include "fetch/sources/source.h"
#include "sheets/workbook_formats.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QPainter>
#include <QSortFilterProxyModel>
#include <QThread>

#include <algorithm>

#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A list longer than this is no credits list of pictures.
constexpr qint64 MostCreditsBytes = 16 * 1024 * 1024;
constexpr int TilePadding = 8;

// The list writes a field that a spreadsheet would take for a formula with a leading "'".
QString shownField(const QString& text) {
    static const QString formulaStarts = QStringLiteral("=+-@\t\r");
    if (text.size() > 1 && text.at(0) == QLatin1Char('\'') && formulaStarts.contains(text.at(1)))
        return text.mid(1);
    return text;
}

struct Entry {
    QString name;
    qint64 bytes = 0;
    qint64 modified = 0; // nanoseconds
};

// The regular files of the folder that `wanted` takes, in the order they were kept: by modification time,
// then by name. Read with one listing and one status a file, as a folder of ten thousand pictures must open
// at once.
std::vector<Entry> listFolder(const QString& folder, bool (*wanted)(const QString&)) {
    std::vector<Entry> found;
    DIR* dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return found;
    const int fd = ::dirfd(dir);
    while (const dirent* e = ::readdir(dir)) {
        if (qstrcmp(e->d_name, ".") == 0 || qstrcmp(e->d_name, "..") == 0)
            continue;
        const QString name = QFile::decodeName(e->d_name);
        struct stat st {};
        if (!wanted(name) || ::fstatat(fd, e->d_name, &st, 0) != 0 || !S_ISREG(st.st_mode))
            continue;
        found.push_back({name, st.st_size, st.st_mtim.tv_sec * 1'000'000'000LL + st.st_mtim.tv_nsec});
    }
    ::closedir(dir);
    std::sort(found.begin(), found.end(), [](const Entry& a, const Entry& b) {
        return a.modified != b.modified ? a.modified < b.modified : a.name < b.name;
    });
    return found;
}

// Thumbnails are made at a lower priority than the window's own work, so that scrolling stays smooth
// while the processor is busy with them.
void yieldToWindow() {
    static thread_local bool lowered = false;
    if (!lowered)
        ::setpriority(PRIO_PROCESS, static_cast<id_t>(::gettid()), 10);
    lowered = true;
}

} // namespace

const CreditsList::Credit* CreditsList::find(const QString& folder, const QString& name) {
    load(folder + QLatin1String(CreditsFile::FileName));
    const auto it = byName_.constFind(name);
    return it == byName_.constEnd() ? nullptr : &it.value();
}

void CreditsList::load(const QString& path) {
    const QFileInfo file(path);
    // Only a regular file is read: a pipe of that name would hold the window.
    const bool readable = file.isFile() && file.size() <= MostCreditsBytes;
    const qint64 size = readable ? file.size() : -1;
    if (path == path_ && size == size_ && file.lastModified() == modified_)
        return;
    path_ = path;
    size_ = size;
    modified_ = file.lastModified();
    byName_.clear();
    if (!readable)
        return;
    try {
        const Workbook book = WorkbookFormats::readCsv(path);
        const Sheet& sheet = book.activeSheet;
        // The columns by the names of the header line.
        QHash<QString, int> column;
        for (int c = 1; c <= sheet.lastColumn(); ++c)
            column.insert(sheet.text(1, c), c);
        auto field = [&](int row, const char* title) {
            const int c = column.value(QString::fromLatin1(title));
            return c > 0 ? shownField(sheet.text(row, c)) : QString();
        };
        if (!column.contains(QStringLiteral("file")))
            return;
        for (const RowRun& run : sheet.rows()) {
            if (run.row < 2)
                continue;
            const QString name = field(run.row, "file");
            if (name.isEmpty())
                continue;
            QString source = field(run.row, "source");
            if (const auto known = Sources::named(source))
                source = Sources::shownName(*known);
            byName_.insert(name, {source, field(run.row, "creator"), field(run.row, "licence"),
                                  field(run.row, "source page")});
        }
    } catch (const std::exception&) {
        byName_.clear(); // a list that cannot be read says nothing
    }
}

PictureModel::PictureModel(QObject* parent)
    : QAbstractListModel(parent) {
    images_.setMaxCost(MemoryBytes);
    pool_.setMaxThreadCount(std::clamp(QThread::idealThreadCount(), 1, 4));
}

PictureModel::~PictureModel() {
    // The thumbnails under way finish before the model goes; those waiting are not made.
    pool_.clear();
    pool_.waitForDone();
}

bool PictureModel::isPicture(const QString& name) {
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot > 0 && PictureType::isPictureExtension(name.mid(dot + 1));
}

void PictureModel::setFolder(const QString& folder) {
    beginResetModel();
    folder_ = folder;
    ++generation_;
    pictures_.clear();
    images_.clear();
    requests_.clear();
    asked_.clear();
    for (Entry& entry : listFolder(folder, &PictureModel::isPicture))
        pictures_.push_back({std::move(entry.name), entry.bytes, {}, false});
    reindex();
    endResetModel();
}

void PictureModel::reindex() {
    rows_.clear();
    rows_.reserve(static_cast<qsizetype>(pictures_.size()));
    for (size_t i = 0; i < pictures_.size(); ++i)
        rows_.insert(pictures_[i].name, static_cast<int>(i));
}

bool PictureModel::append(const QString& name) {
    if (rows_.contains(name) || !isPicture(name))
        return false;
    const QFileInfo file(folder_ + name);
    if (!file.isFile())
        return false;
    const int row = static_cast<int>(pictures_.size());
    beginInsertRows({}, row, row);
    pictures_.push_back({name, file.size(), {}, false});
    rows_.insert(name, row);
    endInsertRows();
    return true;
}

void PictureModel::insert(int row, const QString& name) {
    if (rows_.contains(name))
        return;
    row = std::clamp(row, 0, static_cast<int>(pictures_.size()));
    beginInsertRows({}, row, row);
    pictures_.insert(pictures_.begin() + row, {name, QFileInfo(folder_ + name).size(), {}, false});
    reindex();
    endInsertRows();
}

void PictureModel::remove(const QStringList& names) {
    QList<int> rows;
    for (const QString& name : QSet<QString>(names.begin(), names.end()))
        if (rows_.contains(name))
            rows << rows_.value(name);
    std::sort(rows.begin(), rows.end(), std::greater<int>());
    // Many at once: one reset instead of a removal each.
    const bool many = rows.size() > 64;
    if (many)
        beginResetModel();
    for (const int row : rows) {
        if (!many)
            beginRemoveRows({}, row, row);
        images_.remove(pictures_[static_cast<size_t>(row)].name);
        pictures_.erase(pictures_.begin() + row);
        if (!many)
            endRemoveRows();
    }
    reindex();
    if (many)
        endResetModel();
}

void PictureModel::refresh() {
    const std::vector<Entry> entries = listFolder(folder_, &PictureModel::isPicture);
    QSet<QString> present;
    for (const Entry& entry : entries)
        present.insert(entry.name);
    QStringList gone;
    for (const Picture& p : pictures_)
        if (!present.contains(p.name))
            gone << p.name;
    if (!gone.isEmpty())
        remove(gone);
    for (const Entry& entry : entries)
        append(entry.name);
}

QImage PictureModel::thumbnail(int row) {
    const Picture& picture = pictures_.at(static_cast<size_t>(row));
    if (const QImage* image = images_.object(picture.name))
        return *image;
    if (!picture.failed && !asked_.contains(picture.name)) {
        asked_.insert(picture.name);
        requests_.push_back(picture.name);
        startMore();
    }
    return QImage();
}

void PictureModel::startMore() {
    while (running_ < pool_.maxThreadCount() && !requests_.empty()) {
        const QString name = requests_.back();
        requests_.pop_back();
        const int row = rowOf(name);
        // A tile that left the screen asks again when it comes back.
        if (row < 0 || (onScreen_ && !onScreen_(row))) {
            asked_.remove(name);
            continue;
        }
        ++running_;
        const QString path = pathAt(row);
        const quint64 generation = generation_;
        pool_.start([this, path, name, generation] {
            yieldToWindow();
            const Thumbnails::Thumbnail made = Thumbnails::make(path);
            QMetaObject::invokeMethod(
                this,
                [this, name, generation, made] {
                    --running_;
                    if (generation == generation_)
                        arrived(name, made);
                    startMore();
                },
                Qt::QueuedConnection);
        });
    }
}

void PictureModel::arrived(const QString& name, const Thumbnails::Thumbnail& made) {
    asked_.remove(name);
    const int row = rowOf(name);
    if (row < 0)
        return;
    Picture& picture = pictures_[static_cast<size_t>(row)];
    picture.pixels = made.pixels;
    picture.failed = made.image.isNull();
    if (!picture.failed)
        images_.insert(name, new QImage(made.image), made.image.sizeInBytes());
    emit dataChanged(index(row), index(row));
}

QString PictureModel::details(int row) const {
    const Picture& picture = pictures_.at(static_cast<size_t>(row));
    const QLocale locale;
    QStringList lines{picture.name};
    if (picture.pixels.isValid())
        lines << QStringLiteral("%1 \u00d7 %2 pixels")
                     .arg(locale.toString(picture.pixels.width()), locale.toString(picture.pixels.height()));
    else if (picture.failed)
        lines << QStringLiteral("No preview: damaged, cut short, too large or of a kind not shown here");
    lines << QStringLiteral("%1 bytes").arg(locale.toString(picture.bytes));
    if (const CreditsList::Credit* credit = credits_.find(folder_, picture.name)) {
        const QList<QPair<QString, QString>> fields{{QStringLiteral("Source"), credit->source},
                                                    {QStringLiteral("Creator"), credit->creator},
                                                    {QStringLiteral("Licence"), credit->licence},
                                                    {QStringLiteral("Source page"), credit->sourcePage}};
        for (const auto& [title, text] : fields)
            if (!text.isEmpty())
                lines << title + QStringLiteral(": ") + text;
    }
    return lines.join(QLatin1Char('\n'));
}

int PictureModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(pictures_.size());
}

QVariant PictureModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const Picture& picture = pictures_.at(static_cast<size_t>(index.row()));
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole:
        return picture.name;
    case Qt::ToolTipRole:
        return details(index.row());
    case Qt::DecorationRole:
        if (const QImage* image = images_.object(picture.name))
            return *image;
        return {};
    case PathRole:
        return folder_ + picture.name;
    case PlaceholderRole:
        return picture.failed;
    default:
        return {};
    }
}

TileDelegate::TileDelegate(PictureModel* pictures, QSortFilterProxyModel* shown, QObject* parent)
    : QStyledItemDelegate(parent)
    , pictures_(pictures)
    , shown_(shown) {}

QSize TileDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex&) const {
    const int edge = Thumbnails::LargeEdge;
    return QSize(edge + 2 * TilePadding, edge + 3 * TilePadding + 2 * option.fontMetrics.height());
}

void TileDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                         const QModelIndex& index) const {
    QStyleOptionViewItem panel = option;
    initStyleOption(&panel, index);
    panel.text.clear();
    panel.icon = QIcon();
    panel.features &= ~QStyleOptionViewItem::HasDecoration;
    const QWidget* widget = option.widget;
    QStyle* style = widget ? widget->style() : QApplication::style();
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &panel, painter, widget);

    const int row = shown_->mapToSource(index).row();
    const int edge = Thumbnails::LargeEdge;
    const QRect square(option.rect.left() + (option.rect.width() - edge) / 2, option.rect.top() + TilePadding,
                       edge, edge);
    const QImage image = pictures_->thumbnail(row);
    painter->save();
    if (!image.isNull()) {
        const QSize size = image.size().scaled(square.size(), Qt::KeepAspectRatio).boundedTo(image.size());
        const QRect target(square.center().x() - size.width() / 2 + 1,
                           square.center().y() - size.height() / 2 + 1, size.width(), size.height());
        painter->drawImage(target, image);
    } else {
        const bool placeholder = index.data(PictureModel::PlaceholderRole).toBool();
        painter->setPen(option.palette.color(QPalette::Mid));
        painter->drawRect(square.adjusted(24, 24, -25, -25));
        if (placeholder) {
            painter->setPen(option.palette.color(QPalette::Text));
            painter->drawText(square, Qt::AlignCenter | Qt::TextWordWrap, QStringLiteral("No preview"));
        }
    }

    // The name: two lines at most, the rest left out in the middle.
    const QRect textRect(option.rect.left() + TilePadding, square.bottom() + TilePadding,
                         option.rect.width() - 2 * TilePadding, 2 * option.fontMetrics.height());
    const bool selected = option.state & QStyle::State_Selected;
    painter->setPen(option.palette.color(selected ? QPalette::HighlightedText : QPalette::Text));
    const QString name = index.data(Qt::DisplayRole).toString();
    const QString shown =
        option.fontMetrics.horizontalAdvance(name) <= textRect.width()
            ? name
            : option.fontMetrics.elidedText(name, Qt::ElideMiddle, 2 * textRect.width() - 16);
    painter->drawText(textRect, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWrapAnywhere, shown);
    painter->restore();
}
