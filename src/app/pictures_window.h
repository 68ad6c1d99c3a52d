#pragma once

#include "app/desktop_trash.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class PictureModel;
class Prompts;
class QFileSystemWatcher;
class QLabel;
class QLineEdit;
class QListView;
class QModelIndex;
class QPushButton;
class QSortFilterProxyModel;
class QTimer;

// The "Pictures" window: the pictures of the save folder as tiles (thumbnail and file name), filling
// as a run keeps them. A filter narrows the tiles by name; the side panel and the tooltips give each
// picture's size and what credits.csv says of it. Double click or Enter opens a picture in the
// desktop's viewer, "Move to Trash" (or Delete) moves the selected ones to the desktop's trash and
// Ctrl+Z ("Put Back") brings the last ones back. Not modal: the main window and a run go on.
class PicturesWindow : public QWidget {
    Q_OBJECT
public:
    explicit PicturesWindow(Prompts& prompts, QWidget* parent = nullptr);
    ~PicturesWindow() override;

    static inline const QString Title = QStringLiteral("Pictures");

    // Whether the window opens by itself when a run keeps its first picture (ShowPictures).
    static bool opensByItself();

    // Shows the pictures of that folder (a folder text as the run uses it, ending in "/"); nothing
    // changes when it is the folder shown.
    void showFolder(const QString& folder);
    QString folder() const;
    // A picture the run has just kept in the folder shown.
    void addPicture(const QString& name);

private:
    void openPicture(const QModelIndex& index);
    void trashSelected();
    void putBack();
    void updateControls();
    void showDetails();
    bool onScreen(int row) const;

    Prompts& prompts_;
    PictureModel* pictures_ = nullptr;
    QSortFilterProxyModel* shown_ = nullptr;
    QListView* ListPictures = nullptr;
    QLineEdit* TextFilter = nullptr;
    QLabel* LabelCount = nullptr;
    QLabel* LabelDetails = nullptr;
    QPushButton* ButtonOpenFolder = nullptr;
    QPushButton* ButtonTrash = nullptr;
    QPushButton* ButtonPutBack = nullptr;
    QFileSystemWatcher* watcher_ = nullptr;
    QTimer* refresh_ = nullptr;

    // What each "Move to Trash" moved, the last one last: what Ctrl+Z puts back.
    struct Trashed {
        DesktopTrash::Item item;
        QString name;
        int row = 0;
    };
    QList<QList<Trashed>> trashed_;
};
