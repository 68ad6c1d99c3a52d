#pragma once

#include <QAbstractListModel>
#include <QString>

#include <vector>

// The ordered keywords: duplicates and empty entries allowed, text kept exactly as given.
// Positions count from 1 to Count(), as the commands and their messages speak of them.
class KeywordList : public QAbstractListModel {
    Q_OBJECT
public:
    explicit KeywordList(QObject* parent = nullptr);

    int Count() const { return static_cast<int>(items_.size()); }
    // The keyword at `position` (1..Count()).
    const QString& item(int position) const { return items_.at(static_cast<size_t>(position - 1)); }
    const std::vector<QString>& items() const { return items_; }

    void add(const QString& keyword);
    void clear();
    // Removes the keyword at `position` (1..Count()).
    void remove(int position);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The list view's one column header ("Keyword/s"), set by the main window's load step.
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;

private:
    std::vector<QString> items_;
    QString header_;
};
