#include "keywords/keyword_list.h"

KeywordList::KeywordList(QObject* parent)
    : QAbstractListModel(parent) {}

void KeywordList::add(const QString& keyword) {
    const int row = Count();
    beginInsertRows(QModelIndex(), row, row);
    items_.push_back(keyword);
    endInsertRows();
}

void KeywordList::clear() {
    beginResetModel();
    items_.clear();
    items_.shrink_to_fit();
    endResetModel();
}

void KeywordList::remove(int position) {
    if (position < 1 || position > Count())
        return;
    beginRemoveRows(QModelIndex(), position - 1, position - 1);
    items_.erase(items_.begin() + (position - 1));
    endRemoveRows();
}

int KeywordList::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : Count(); }

QVariant KeywordList::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QVariant();
    return items_[static_cast<size_t>(index.row())];
}

QVariant KeywordList::headerData(int section, Qt::Orientation orientation, int role) const {
    if (section == 0 && orientation == Qt::Horizontal && role == Qt::DisplayRole)
        return header_;
    return QVariant();
}

bool KeywordList::setHeaderData(int section, Qt::Orientation orientation, const QVariant& value, int role) {
    if (section != 0 || orientation != Qt::Horizontal || (role != Qt::EditRole && role != Qt::DisplayRole))
        return false;
    header_ = value.toString();
    emit headerDataChanged(orientation, 0, 0);
    return true;
}
