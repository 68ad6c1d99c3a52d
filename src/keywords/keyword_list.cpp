#include "keywords/keyword_list.h"

#include "keywords/input_limits.h"

#include <algorithm>
#include <iterator>

KeywordList::KeywordList(QObject* parent)
    : QAbstractListModel(parent) {}

const std::vector<QString>& KeywordList::items() const {
    closeGap();
    return items_;
}

void KeywordList::add(const QString& keyword) {
    const int row = Count();
    beginInsertRows(QModelIndex(), row, row);
    // The gap, if any, lies inside the storage, so the end of the storage is the end of the list.
    items_.push_back(keyword);
    endInsertRows();
}

void KeywordList::appendMany(std::vector<QString>&& keywords) {
    if (keywords.empty())
        return;
    const int row = Count();
    // Growth stops at the list's entry limit: doubling from 8 to 16 million slots would hold
    // both blocks at once for a list that may not pass 10 million.
    const size_t needed = items_.size() + keywords.size();
    if (needed > items_.capacity())
        items_.reserve(
            std::max(needed, std::min(2 * items_.capacity(), size_t(InputLimits::MaxListEntries))));
    beginInsertRows(QModelIndex(), row, row + static_cast<int>(keywords.size()) - 1);
    items_.insert(items_.end(), std::make_move_iterator(keywords.begin()),
                  std::make_move_iterator(keywords.end()));
    endInsertRows();
    keywords.clear();
}

void KeywordList::reserve(int entries) {
    const size_t wanted =
        static_cast<size_t>(std::clamp(entries, 0, InputLimits::MaxListEntries)) + gapLength();
    if (wanted > items_.capacity())
        items_.reserve(wanted);
}

void KeywordList::clear() {
    beginResetModel();
    items_.clear();
    items_.shrink_to_fit();
    gapStart_ = gapEnd_ = 0;
    ++revision_;
    endResetModel();
}

void KeywordList::remove(int position) {
    removeRun(position, position);
}

void KeywordList::removeRun(int first, int last) {
    first = std::max(first, 1);
    last = std::min(last, Count());
    if (first > last)
        return;
    const auto from = static_cast<size_t>(first - 1);
    const auto to = static_cast<size_t>(last); // one past the run
    beginRemoveRows(QModelIndex(), first - 1, last - 1);
    moveGap(to);
    // The run now lies just below the gap; it becomes part of it.
    for (size_t i = from; i < to; ++i)
        items_[i] = QString();
    gapStart_ = from;
    ++revision_;
    if (Count() == 0) {
        items_.clear();
        gapStart_ = gapEnd_ = 0;
    }
    endRemoveRows();
}

void KeywordList::removeMany(const std::vector<int>& positions) {
    if (positions.empty())
        return;
    beginResetModel();
    closeGap();
    size_t kept = 0;
    size_t k = 0;
    for (size_t i = 0; i < items_.size(); ++i) {
        const auto position = static_cast<int>(i + 1);
        while (k < positions.size() && positions[k] < position)
            ++k;
        if (k < positions.size() && positions[k] == position)
            continue;
        if (kept != i)
            items_[kept] = std::move(items_[i]);
        ++kept;
    }
    if (kept != items_.size()) {
        items_.resize(kept);
        ++revision_;
    }
    endResetModel();
}

void KeywordList::compact() {
    closeGap();
    // Giving back the room means a copy of the storage; it is worth it once most of it is unused.
    if (items_.size() < items_.capacity() / 4)
        items_.shrink_to_fit();
}

void KeywordList::moveGap(size_t at) {
    const size_t length = gapLength();
    if (length == 0) {
        gapStart_ = gapEnd_ = at;
        return;
    }
    if (at < gapStart_) {
        // The entries between `at` and the gap move up behind it, the highest first.
        for (size_t i = gapStart_; i-- > at;)
            items_[i + length] = std::move(items_[i]);
    } else if (at > gapStart_) {
        // The entries after the gap move down in front of it.
        for (size_t i = gapStart_; i < at; ++i)
            items_[i] = std::move(items_[i + length]);
    }
    gapStart_ = at;
    gapEnd_ = at + length;
}

void KeywordList::closeGap() const {
    if (gapLength() == 0)
        return;
    items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(gapStart_),
                 items_.begin() + static_cast<std::ptrdiff_t>(gapEnd_));
    gapStart_ = gapEnd_ = 0;
}

int KeywordList::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

QVariant KeywordList::data(const QModelIndex& index, int role) const {
    // No tooltip of their own: over the entries too, the list shows its own tooltip.
    if (!index.isValid() || index.row() >= Count() || role != Qt::DisplayRole)
        return QVariant();
    return item(index.row() + 1);
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
