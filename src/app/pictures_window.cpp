#include "app/pictures_window.h"

#include "app/picture_tiles.h"
#include "base/conversions.h"
#include "base/error_report.h"
#include "base/prompts.h"
#include "base/settings_store.h"

#include <QAction>
#include <QDir>
#include <QFileSystemWatcher>
#include <QHBoxLayout>
#include <QIcon>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QScrollBar>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>

#include <algorithm>

namespace {

// Changes in the folder that the window did not make (another program, the file manager) are
// looked at once things have been quiet this long.
constexpr int RefreshMilliseconds = 500;
// Names a message lists before it says how many more there are.
constexpr int NamesShown = 10;

QString namesList(const QStringList& lines) {
    QStringList shown = lines.mid(0, NamesShown);
    if (lines.size() > NamesShown)
        shown << QStringLiteral("and %1 more").arg(lines.size() - NamesShown);
    return shown.join(QStringLiteral("\r\n"));
}

} // namespace

bool PicturesWindow::opensByItself() {
    try {
        return Conversions::ToBool(SettingsStore::read(SettingKey::ShowPictures));
    } catch (const AppError&) {
        return true;
    }
}

PicturesWindow::PicturesWindow(Prompts& prompts, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , prompts_(prompts) {
    setObjectName(QStringLiteral("PicturesWindow"));
    setWindowTitle(Title);
    setWindowIcon(QIcon(QStringLiteral(":/glimmerfetch/icon.svg")));
    setAttribute(Qt::WA_DeleteOnClose);
    resize(1240, 800); // three tiles a row beside the side panel

    pictures_ = new PictureModel(this);
    shown_ = new QSortFilterProxyModel(this);
    shown_->setSourceModel(pictures_);
    shown_->setFilterCaseSensitivity(Qt::CaseInsensitive);

    TextFilter = new QLineEdit(this);
    TextFilter->setObjectName(QStringLiteral("TextFilter"));
    TextFilter->setPlaceholderText(QStringLiteral("Filter by name"));
    TextFilter->setAccessibleName(QStringLiteral("Filter by name"));
    TextFilter->setClearButtonEnabled(true);
    auto* filterCaption = new QLabel(QStringLiteral("&Filter:"), this);
    filterCaption->setBuddy(TextFilter);
    LabelCount = new QLabel(this);
    LabelCount->setObjectName(QStringLiteral("LabelCount"));

    ListPictures = new QListView(this);
    ListPictures->setObjectName(QStringLiteral("ListPictures"));
    ListPictures->setAccessibleName(Title);
    // Tiles in rows that wrap: the list's own layout, which places ten thousand tiles of one size at
    // once.
    ListPictures->setViewMode(QListView::ListMode);
    ListPictures->setFlow(QListView::LeftToRight);
    ListPictures->setWrapping(true);
    ListPictures->setResizeMode(QListView::Adjust);
    ListPictures->setUniformItemSizes(true);
    ListPictures->setSpacing(4);
    ListPictures->setSelectionMode(QAbstractItemView::ExtendedSelection);
    ListPictures->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ListPictures->setDragEnabled(false);
    ListPictures->setItemDelegate(new TileDelegate(pictures_, shown_, ListPictures));
    ListPictures->setModel(shown_);
    ListPictures->verticalScrollBar()->setSingleStep(32);
    pictures_->setOnScreen([this](int row) { return onScreen(row); });

    LabelDetails = new QLabel(this);
    LabelDetails->setObjectName(QStringLiteral("LabelDetails"));
    LabelDetails->setTextFormat(Qt::PlainText); // names and credits are shown as written
    LabelDetails->setWordWrap(true);
    LabelDetails->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    LabelDetails->setTextInteractionFlags(Qt::TextSelectableByMouse);
    LabelDetails->setFixedWidth(240);

    auto button = [this](const char* name, const QString& caption, auto handler) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setAutoDefault(false);
        connect(b, &QPushButton::clicked, this, handler);
        return b;
    };
    ButtonOpenFolder =
        button("ButtonOpenFolder", QStringLiteral("Open Folder"), [this] { prompts_.openFolder(folder()); });
    ButtonTrash = button("ButtonTrash", QStringLiteral("Move to Trash"), &PicturesWindow::trashSelected);
    ButtonPutBack = button("ButtonPutBack", QStringLiteral("Put Back"), &PicturesWindow::putBack);
    ButtonTrash->setToolTip(QStringLiteral("Moves the selected pictures to the trash (Delete)."));
    ButtonPutBack->setToolTip(QStringLiteral("Puts the pictures moved to the trash last back (Ctrl+Z)."));

    auto* top = new QHBoxLayout;
    top->addWidget(filterCaption);
    top->addWidget(TextFilter, 1);
    top->addWidget(LabelCount, 1);
    auto* middle = new QHBoxLayout;
    middle->addWidget(ListPictures, 1);
    middle->addWidget(LabelDetails);
    auto* bottom = new QHBoxLayout;
    bottom->addWidget(ButtonOpenFolder);
    bottom->addWidget(ButtonTrash);
    bottom->addWidget(ButtonPutBack);
    bottom->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(top);
    layout->addLayout(middle, 1);
    layout->addLayout(bottom);

    auto* trash = new QAction(this);
    trash->setShortcut(QKeySequence::Delete);
    trash->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    connect(trash, &QAction::triggered, this, &PicturesWindow::trashSelected);
    ListPictures->addAction(trash);
    auto* undo = new QAction(this);
    undo->setShortcut(QKeySequence::Undo);
    connect(undo, &QAction::triggered, this, &PicturesWindow::putBack);
    addAction(undo);

    connect(TextFilter, &QLineEdit::textChanged, shown_, &QSortFilterProxyModel::setFilterFixedString);
    connect(ListPictures, &QListView::activated, this, &PicturesWindow::openPicture);
    connect(ListPictures->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &PicturesWindow::updateControls);
    connect(ListPictures->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &PicturesWindow::showDetails);
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(shown_, signal, this, &PicturesWindow::updateControls);
    connect(shown_, &QAbstractItemModel::modelReset, this, &PicturesWindow::updateControls);
    connect(shown_, &QAbstractItemModel::dataChanged, this,
            [this](const QModelIndex& first, const QModelIndex& last) {
                const QModelIndex current = ListPictures->currentIndex();
                if (current.isValid() && current.row() >= first.row() && current.row() <= last.row())
                    showDetails();
            });

    watcher_ = new QFileSystemWatcher(this);
    refresh_ = new QTimer(this);
    refresh_->setSingleShot(true);
    refresh_->setInterval(RefreshMilliseconds);
    connect(watcher_, &QFileSystemWatcher::directoryChanged, refresh_, qOverload<>(&QTimer::start));
    connect(refresh_, &QTimer::timeout, pictures_, &PictureModel::refresh);
    updateControls();
    ListPictures->setFocus(); // Delete, Enter and Ctrl+A act on the tiles from the start
}

PicturesWindow::~PicturesWindow() = default;

QString PicturesWindow::folder() const {
    return pictures_->folder();
}

void PicturesWindow::showFolder(const QString& folder) {
    QString path = QDir(folder).absolutePath();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    if (path == pictures_->folder())
        return;
    if (!watcher_->directories().isEmpty())
        watcher_->removePaths(watcher_->directories());
    watcher_->addPath(path);
    trashed_.clear(); // what was moved from another folder is put back from the file manager
    pictures_->setFolder(path);
    ListPictures->scrollToTop();
    updateControls();
}

void PicturesWindow::addPicture(const QString& name) {
    pictures_->append(name);
}

bool PicturesWindow::onScreen(int row) const {
    const QModelIndex index = shown_->mapFromSource(pictures_->index(row));
    if (!index.isValid() || !isVisible())
        return false;
    const QRect screen = ListPictures->viewport()->rect();
    return ListPictures->visualRect(index).intersects(
        screen.adjusted(0, -screen.height() / 2, 0, screen.height() / 2));
}

void PicturesWindow::openPicture(const QModelIndex& index) {
    if (index.isValid())
        prompts_.openUrl(QUrl::fromLocalFile(index.data(PictureModel::PathRole).toString()).toString());
}

void PicturesWindow::trashSelected() {
    QModelIndexList selected = ListPictures->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return;
    std::sort(selected.begin(), selected.end());
    QList<Trashed> moved;
    QStringList failed;
    for (const QModelIndex& index : selected) {
        const int row = shown_->mapToSource(index).row();
        const QString name = pictures_->nameAt(row);
        QString problem;
        if (const auto item = DesktopTrash::moveToTrash(pictures_->pathAt(row), &problem))
            moved.append({*item, name, row});
        else
            failed << name + QStringLiteral(": ") + problem;
    }
    QStringList names;
    for (const Trashed& t : moved)
        names << t.name;
    pictures_->remove(names);
    if (!moved.isEmpty())
        trashed_.append(moved);
    updateControls();
    if (!failed.isEmpty())
        prompts_.tell(QStringLiteral("These pictures could not be moved to the trash:\r\n") +
                      namesList(failed));
}

void PicturesWindow::putBack() {
    if (trashed_.isEmpty())
        return;
    const QList<Trashed> last = trashed_.takeLast();
    QStringList kept;
    // In the order they stood, so each goes back to its place.
    for (const Trashed& t : last) {
        QString problem;
        if (DesktopTrash::restore(t.item, &problem))
            pictures_->insert(t.row, t.name);
        else
            kept << t.name + QStringLiteral(": ") + problem;
    }
    updateControls();
    if (!kept.isEmpty())
        prompts_.tell(QStringLiteral("These pictures stay in the trash:\r\n") + namesList(kept));
}

void PicturesWindow::updateControls() {
    const int all = pictures_->rowCount();
    const int shown = shown_->rowCount();
    const QString count = shown == all ? QStringLiteral("%1 pictures").arg(all)
                                       : QStringLiteral("%1 of %2 pictures").arg(shown).arg(all);
    LabelCount->setText(count + QStringLiteral(" in ") + QDir::toNativeSeparators(folder()));
    ButtonTrash->setEnabled(ListPictures->selectionModel()->hasSelection());
    ButtonPutBack->setEnabled(!trashed_.isEmpty());
}

void PicturesWindow::showDetails() {
    const QModelIndex current = ListPictures->currentIndex();
    LabelDetails->setText(current.isValid() ? current.data(Qt::ToolTipRole).toString() : QString());
}
