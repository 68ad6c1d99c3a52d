#include "app/cell_block_window.h"

#include "base/globals.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

#include <climits>

SheetModel::SheetModel(const Sheet& sheet, QObject* parent)
    : QAbstractTableModel(parent)
    , sheet_(sheet)
    , rows_(qBound(100, sheet.lastRow() + 100, SheetLimits::Rows))
    , columns_(qBound(26, sheet.lastColumn() + 10, SheetLimits::Columns)) {}

int SheetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int SheetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : columns_;
}

QVariant SheetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return QVariant();
    const QString text = sheet_.text(index.row() + 1, index.column() + 1);
    return text.isEmpty() ? QVariant() : QVariant(text);
}

QVariant SheetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return QVariant();
    if (orientation == Qt::Horizontal)
        return columnLetters(section + 1);
    return section + 1;
}

CellBlockWindow::CellBlockWindow(const Sheet& sheet, const QString& prompt, QWidget* parent)
    : QDialog(parent)
    , model_(sheet) {
    setObjectName(QStringLiteral("CellBlockWindow"));
    setWindowTitle(sheet.name.isEmpty() ? Globals::applicationTitle()
                                        : Globals::applicationTitle() + QStringLiteral(" - ") + sheet.name);
    setWindowIcon(QIcon(QStringLiteral(":/glimmerfetch/icon.svg")));

    auto* label = new QLabel(prompt, this);
    label->setObjectName(QStringLiteral("Prompt"));

    grid_ = new QTableView(this);
    grid_->setObjectName(QStringLiteral("Grid"));
    grid_->setModel(&model_);
    grid_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    grid_->setSelectionMode(QAbstractItemView::ContiguousSelection);
    grid_->setSelectionBehavior(QAbstractItemView::SelectItems);
    grid_->setWordWrap(false);
    // Fixed section sizes keep the headers cheap on sheets of a hundred thousand rows.
    grid_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    grid_->verticalHeader()->setDefaultSectionSize(grid_->fontMetrics().height() + 6);
    grid_->horizontalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    grid_->horizontalHeader()->setDefaultSectionSize(grid_->fontMetrics().averageCharWidth() * 12);
    grid_->horizontalHeader()->setHighlightSections(true);

    address_ = new QLabel(this);
    address_->setObjectName(QStringLiteral("Address"));

    buttons_ = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(false);
    connect(buttons_, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons_, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(grid_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CellBlockWindow::selectionChanged);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(label);
    layout->addWidget(grid_, 1);
    layout->addWidget(address_);
    layout->addWidget(buttons_);
    resize(760, 520);
}

std::optional<CellRange> CellBlockWindow::chosenBlock() const {
    const QItemSelection selection = grid_->selectionModel()->selection();
    if (selection.isEmpty())
        return std::nullopt;
    // The selection is one rectangle; should it come in pieces, their bounding block is taken.
    int top = INT_MAX, left = INT_MAX, bottom = -1, right = -1;
    for (const QItemSelectionRange& r : selection) {
        top = qMin(top, r.top());
        left = qMin(left, r.left());
        bottom = qMax(bottom, r.bottom());
        right = qMax(right, r.right());
    }
    if (bottom < 0 || right < 0)
        return std::nullopt;
    CellRange block{top + 1, left + 1, bottom + 1, right + 1};
    // Whole columns and whole rows (chosen by their headers) reach to the end of the sheet.
    if (top == 0 && bottom == model_.rowCount() - 1)
        block.lastRow = SheetLimits::Rows;
    if (left == 0 && right == model_.columnCount() - 1)
        block.lastColumn = SheetLimits::Columns;
    return block;
}

void CellBlockWindow::selectionChanged() {
    const auto block = chosenBlock();
    address_->setText(block ? block->address() : QString());
    buttons_->button(QDialogButtonBox::Ok)->setEnabled(block.has_value());
}
