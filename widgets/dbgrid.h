// The data-bound grid: a table view over a dataset through a data source, one row per record and one
// column per defined column (or per field when none are defined). Rows are read from the dataset only when
// the view paints them, and the grid's current row and the dataset's current record follow each other.
#pragma once

#include "data/dataset.h"
#include "data/datasource.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QList>
#include <QPointer>
#include <QString>
#include <QTableView>
#include <vector>

// One column of a grid: the field it shows, its title (the field's name when empty) and its width in pixels.
struct GridColumn {
    QString fieldName;
    QString title;
    int width = 100;
};

// A table model over a dataset: one row per record of the dataset's cursor, one column per grid column.
// The row count follows the dataset's rows as they become known (a long list's come in slices after it
// opens); values are read (as the dataset's text form) only for the cells a view asks for.
class DatasetModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit DatasetModel(Dataset& dataset, QObject* parent = nullptr);

    Dataset* dataset() const { return dataset_; }

    // Column definitions; an empty list shows one column per field, in field order, every time the dataset
    // opens.
    void setColumns(const QList<GridColumn>& columns);
    // The columns shown, with every title filled in.
    const QList<GridColumn>& columns() const { return effective_; }
    // The dataset field a column shows; -1 when the dataset is closed or has no such field.
    int fieldOfColumn(int column) const;
    // Records a width the user dragged a column to, so it survives the dataset being opened again.
    void setColumnWidth(int column, int width);

    // Cells handed out for display since the model was made; lets a caller see that a large dataset is
    // read only as far as it is shown.
    qint64 cellsRead() const { return cellsRead_; }
    // True between the begin and end of a structural change, when a view's current index may move on its
    // own and must not be taken for the user's choice.
    bool changing() const { return changing_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool canFetchMore(const QModelIndex& parent) const override;
    void fetchMore(const QModelIndex& parent) override;
    // Reads every row of the dataset now and shows them: for a move to the last row.
    void fetchAll();
    // Shows the rows the dataset knows that the views do not yet.
    void catchUp();

private:
    void resolveColumns(); // effective columns and field indexes from the definitions and the dataset's fields
    void datasetOpenedOrClosed();
    void datasetRowInserted(int row);
    void datasetRowRemoved(int row);
    void datasetRecordChanged(int field);
    void datasetRowRefreshed(int row);
    // The dataset row a model row shows. The dataset has already inserted or removed a row when it tells
    // the model so; until the views have been told, the model keeps showing the rows as they were.
    int datasetRow(int modelRow) const;

    QPointer<Dataset> dataset_;
    QList<GridColumn> defined_;
    QList<GridColumn> effective_;
    std::vector<int> fields_; // dataset field index per effective column
    int rows_ = 0;            // the row count the attached views know about
    int shiftedFrom_ = -1;    // during an insert or removal: the row where the views and the dataset differ
    int shift_ = 0;           // +1 while a row inserted in the dataset is announced, -1 for a removed one
    bool changing_ = false;
    mutable qint64 cellsRead_ = 0;

    // Reads one cell for a view. This is where reads made for painting, scrolling and keyboard search meet
    // the register: an error is caught here, shown once, and the cell reads empty. While reads fail, rows not
    // yet read are tried again only after a pause, so a locked register does not freeze every repaint.
    QVariant readCell(int row, int field) const;
    void showReadError(const QString& text);
    mutable bool readFailing_ = false;
    mutable QElapsedTimer failedAt_;

public:
    // How long rows not yet read stay empty after a failed read before a repaint tries again.
    void setReadRetryDelay(int milliseconds) { retryDelayMs_ = milliseconds; }

private:
    int retryDelayMs_ = 2000;
};

// The grid control: whole-row single selection, no in-place editing, no record indicator, lines between
// rows only, grey bold titles over mauve cells. Selecting a row makes its record current; a record made
// current elsewhere is selected and scrolled into view. The keys move between records only: Up, Down, Page
// Up, Page Down, Home and End; Left and Right scroll the columns; Tab and Shift+Tab leave the grid.
class TDBGrid : public QTableView {
    Q_OBJECT
public:
    // source must outlive the grid.
    TDBGrid(const QString& objectName, DataSource* source, QWidget* parent = nullptr);

    DataSource* dataSource() const { return source_; }
    DatasetModel* datasetModel() const { return model_; }

    // Defines the columns shown and their widths; an empty list goes back to one column per field.
    void setColumns(const QList<GridColumn>& columns);

    // The effective columns: the definitions, or one per field of the open dataset, titles filled in.
    QList<GridColumn> columns() const { return model_->columns(); }

signals:
    // A row was double-clicked (its record is current by then).
    void doubleClicked();
    // Ctrl+Delete was pressed in the grid; the grid itself deletes nothing.
    void ctrlDeletePressed();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void applyColumnWidths();
    void applyRowHeight();
    void viewRowChanged(const QModelIndex& current);
    // Selects and scrolls to the dataset's current record (nothing selected when there is none).
    void showCurrentRecord();

    DataSource* source_;
    DatasetModel* model_;
    bool following_ = false;      // set while the view is being moved to match the dataset
    bool applyingWidths_ = false; // set while the header is given the columns' widths
};
