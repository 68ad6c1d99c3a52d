#pragma once

#include <QAbstractListModel>
#include <QString>

#include <cstdint>
#include <vector>

// The ordered keywords: duplicates and empty entries allowed, text kept exactly as given.
// Positions count from 1 to Count(), as the commands and their messages speak of them.
//
// Lists of a million entries are normal (users generate them with scripts), so the bulk
// operations tell the views once per step, not once per entry: appendMany() inserts a whole batch
// and removeRun() a whole run of neighbouring positions. Runs removed from the end towards the
// front cost only the entries that move, because the storage keeps the hole left by the previous
// run open (a gap) until the next run closes in on it; the whole pass is linear.
class KeywordList : public QAbstractListModel {
    Q_OBJECT
public:
    explicit KeywordList(QObject* parent = nullptr);

    int Count() const { return static_cast<int>(items_.size() - gapLength()); }
    // The keyword at `position` (1..Count()).
    const QString& item(int position) const { return items_.at(physical(position - 1)); }
    // Every keyword in order.
    const std::vector<QString>& items() const;

    void add(const QString& keyword);
    // Appends the keywords in order, in one step. `keywords` is left empty with its room kept, so
    // that a caller can fill it again without allocating.
    void appendMany(std::vector<QString>&& keywords);
    // Makes room for `entries` entries in all (at most the entry limit). A load that can tell how
    // many lines are coming asks once, so that the storage is not copied whole while it grows:
    // fresh memory costs most when it is first touched, and room reserved is touched entry by
    // entry as the entries arrive.
    void reserve(int entries);
    void clear();
    // Removes the keyword at `position` (1..Count()); other positions are ignored.
    void remove(int position);
    // Removes the keywords at positions first..last (inclusive, 1-based) in one step. Positions
    // outside 1..Count() are ignored.
    void removeRun(int first, int last);
    // Removes the keywords at the given positions (ascending, 1-based) in one step: a single pass
    // over the storage and one reset of the views, which then lose their selection. For removals
    // of many scattered entries, where telling the views about each run would cost more than the
    // removal itself. Positions out of order or outside 1..Count() are ignored.
    void removeMany(const std::vector<int>& positions);
    // Closes the hole left by removed entries, and gives their room back once most of the storage
    // is unused; the removal commands call it when a pass is done.
    void compact();

    // Changes whenever entries are removed (not when they are appended), so that a command that
    // collected positions can tell whether they still name the same entries.
    std::uint64_t revision() const { return revision_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The list view's one column header ("Keyword/s"), set by the main window's load step.
    bool setHeaderData(int section, Qt::Orientation orientation, const QVariant& value,
                       int role = Qt::EditRole) override;

private:
    size_t gapLength() const { return gapEnd_ - gapStart_; }
    size_t physical(int index) const {
        const auto i = static_cast<size_t>(index);
        return i < gapStart_ ? i : i + gapLength();
    }
    // Moves the gap so that it starts at entry index `at` (0-based).
    void moveGap(size_t at);
    // Closes the gap: the storage holds exactly the entries again.
    void closeGap() const;

    // The entries, with the storage slots gapStart_..gapEnd_-1 unused (empty strings).
    mutable std::vector<QString> items_;
    mutable size_t gapStart_ = 0;
    mutable size_t gapEnd_ = 0;
    std::uint64_t revision_ = 0;
    QString header_;
};
