#pragma once

#include "sheets/workbook.h"

#include <QAbstractTableModel>
#include <QDialog>

#include <optional>

class QDialogButtonBox;
class QLabel;
class QTableView;

// A sheet as a read-only table: column letters and row numbers in the headers, the used range
// and a margin of empty cells around it.
class SheetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit SheetModel(const Sheet& sheet, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;

private:
    const Sheet& sheet_;
    int rows_;
    int columns_;
};

// The window in which the user highlights a block of cells with the mouse: the prompt, the grid,
// the address of the highlighted block, OK and Cancel. OK is offered once a block is highlighted.
class CellBlockWindow : public QDialog {
    Q_OBJECT
public:
    CellBlockWindow(const Sheet& sheet, const QString& prompt, QWidget* parent = nullptr);

    // The highlighted block; whole columns reach to the sheet's last row and whole rows to its
    // last column. Nothing when no cell is highlighted.
    std::optional<CellRange> chosenBlock() const;

    QTableView* grid() const { return grid_; }

private:
    void selectionChanged();

    SheetModel model_;
    QTableView* grid_ = nullptr;
    QLabel* address_ = nullptr;
    QDialogButtonBox* buttons_ = nullptr;
};
