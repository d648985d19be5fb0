// The grid reads cells through the dataset's text form, row by row as they come into view, and keeps the
// model's row count in step with the dataset's inserts and deletes so a view never sees a row that is gone.
#include "widgets/dbgrid.h"

#include "data/errors.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QColor>
#include <QEvent>
#include <QFont>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyledItemDelegate>

namespace {

bool isNumeric(FieldType type) {
    return type == FieldType::Money || type == FieldType::Float || type == FieldType::Integer;
}

} // namespace

// DatasetModel

DatasetModel::DatasetModel(Dataset& dataset, QObject* parent) : QAbstractTableModel(parent), dataset_(&dataset) {
    connect(&dataset, &Dataset::activeChanged, this, &DatasetModel::datasetOpenedOrClosed);
    connect(&dataset, &Dataset::rowInserted, this, &DatasetModel::datasetRowInserted);
    connect(&dataset, &Dataset::rowRemoved, this, &DatasetModel::datasetRowRemoved);
    connect(&dataset, &Dataset::recordChanged, this, &DatasetModel::datasetRecordChanged);
    connect(&dataset, &Dataset::rowRefreshed, this, &DatasetModel::datasetRowRefreshed);
    connect(&dataset, &Dataset::rowsArrived, this, &DatasetModel::catchUp);
    connect(&dataset, &Dataset::readFailed, this, &DatasetModel::showReadError);
    rows_ = dataset.active() ? dataset.knownCount() : 0;
    resolveColumns();
}

void DatasetModel::setColumns(const QList<GridColumn>& columns) {
    changing_ = true;
    beginResetModel();
    defined_ = columns;
    resolveColumns();
    endResetModel();
    changing_ = false;
}

int DatasetModel::fieldOfColumn(int column) const {
    if (column < 0 || static_cast<size_t>(column) >= fields_.size()) {
        return -1;
    }
    return fields_[static_cast<size_t>(column)];
}

void DatasetModel::setColumnWidth(int column, int width) {
    if (column < 0 || column >= effective_.size() || width <= 0) {
        return;
    }
    effective_[column].width = width;
    if (column < defined_.size()) {
        defined_[column].width = width;
    }
}

void DatasetModel::resolveColumns() {
    const bool open = dataset_ && dataset_->active();
    effective_.clear();
    fields_.clear();
    if (defined_.isEmpty()) {
        if (open) {
            for (int i = 0; i < dataset_->fieldCount(); ++i) {
                GridColumn column;
                column.fieldName = dataset_->fieldDef(i).name;
                column.title = column.fieldName;
                effective_.append(column);
                fields_.push_back(i);
            }
        }
        return;
    }
    for (const GridColumn& c : defined_) {
        GridColumn shown = c;
        if (shown.title.isEmpty()) {
            shown.title = shown.fieldName;
        }
        effective_.append(shown);
        fields_.push_back(open ? dataset_->findField(c.fieldName) : -1);
    }
}

void DatasetModel::datasetOpenedOrClosed() {
    changing_ = true;
    beginResetModel();
    rows_ = dataset_ && dataset_->active() ? dataset_->knownCount() : 0;
    resolveColumns();
    endResetModel();
    changing_ = false;
}

void DatasetModel::datasetRowInserted(int row) {
    if (!dataset_ || row < 0 || row > rows_) {
        datasetOpenedOrClosed();
        return;
    }
    changing_ = true;
    shiftedFrom_ = row;
    shift_ = 1;
    beginInsertRows(QModelIndex(), row, row);
    ++rows_;
    shift_ = 0;
    endInsertRows();
    changing_ = false;
    if (rows_ != dataset_->knownCount()) {
        datasetOpenedOrClosed();
    }
}

void DatasetModel::datasetRowRemoved(int row) {
    if (!dataset_ || row < 0 || row >= rows_) {
        datasetOpenedOrClosed();
        return;
    }
    changing_ = true;
    shiftedFrom_ = row;
    shift_ = -1;
    beginRemoveRows(QModelIndex(), row, row);
    --rows_;
    shift_ = 0;
    endRemoveRows();
    changing_ = false;
    if (rows_ != dataset_->knownCount()) {
        datasetOpenedOrClosed();
    }
}

void DatasetModel::catchUp() {
    if (!dataset_ || !dataset_->active() || changing_ || dataset_->knownCount() <= rows_) {
        return;
    }
    changing_ = true;
    beginInsertRows(QModelIndex(), rows_, dataset_->knownCount() - 1);
    rows_ = dataset_->knownCount();
    endInsertRows();
    changing_ = false;
}

bool DatasetModel::canFetchMore(const QModelIndex& parent) const {
    return !parent.isValid() && dataset_ && dataset_->active() &&
           (rows_ < dataset_->knownCount() || !dataset_->allRead());
}

void DatasetModel::fetchMore(const QModelIndex& parent) {
    if (!parent.isValid()) {
        fetchAll();
    }
}

void DatasetModel::fetchAll() {
    if (!dataset_ || !dataset_->active()) {
        return;
    }
    try {
        dataset_->recordCount();
    } catch (const VantrelError& e) {
        QMetaObject::invokeMethod(
            this, [this, text = e.text()] { showReadError(text); }, Qt::QueuedConnection);
    }
    catchUp();
}

void DatasetModel::datasetRecordChanged(int field) {
    Q_UNUSED(field);
    if (!dataset_ || effective_.isEmpty()) {
        return;
    }
    const int row = dataset_->recNo();
    if (row < 0 || row >= rows_) {
        return;
    }
    emit dataChanged(index(row, 0), index(row, static_cast<int>(effective_.size()) - 1), {Qt::DisplayRole});
}

void DatasetModel::datasetRowRefreshed(int row) {
    if (!dataset_ || effective_.isEmpty() || shift_ != 0 || row < 0 || row >= rows_) {
        return;
    }
    emit dataChanged(index(row, 0), index(row, static_cast<int>(effective_.size()) - 1),
                     {Qt::DisplayRole, Qt::FontRole, Qt::ForegroundRole});
}

int DatasetModel::datasetRow(int modelRow) const {
    if (shift_ == 0 || modelRow < shiftedFrom_) {
        return modelRow;
    }
    if (shift_ < 0 && modelRow == shiftedFrom_) {
        return -1; // the removed row, no longer in the dataset
    }
    return modelRow + shift_;
}

int DatasetModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : rows_;
}

int DatasetModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(effective_.size());
}

QVariant DatasetModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || !dataset_ || index.row() >= rows_) {
        return QVariant();
    }
    const int field = fieldOfColumn(index.column());
    const int row = datasetRow(index.row());
    if (field < 0 || row < 0) {
        return QVariant();
    }
    switch (role) {
    case Qt::DisplayRole:
        ++cellsRead_;
        return readCell(row, field);
    case Qt::TextAlignmentRole:
        if (isNumeric(dataset_->fieldDef(field).type)) {
            return QVariant(static_cast<int>(Qt::AlignRight | Qt::AlignVCenter));
        }
        return QVariant(static_cast<int>(Qt::AlignLeft | Qt::AlignVCenter));
    case Qt::FontRole:
    case Qt::ForegroundRole:
        // A record another program deleted stays in its place, struck through in grey, until the next search.
        if (dataset_->rowGone(row)) {
            if (role == Qt::ForegroundRole) {
                return QVariant(QColor(Qt::gray));
            }
            QFont struck;
            struck.setStrikeOut(true);
            return QVariant(struck);
        }
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant DatasetModel::readCell(int row, int field) const {
    if (readFailing_ && failedAt_.isValid() && failedAt_.elapsed() < retryDelayMs_ && !dataset_->rowIsRead(row)) {
        return QVariant();
    }
    try {
        QVariant text = dataset_->textAt(row, field);
        readFailing_ = false;
        return text;
    } catch (const VantrelError& e) {
        failedAt_.start();
        if (!readFailing_) {
            readFailing_ = true;
            // Not from inside a paint: the message waits until the view has finished drawing.
            QMetaObject::invokeMethod(
                const_cast<DatasetModel*>(this),
                [self = const_cast<DatasetModel*>(this), text = e.text()] { self->showReadError(text); },
                Qt::QueuedConnection);
        }
        return QVariant();
    }
}

void DatasetModel::showReadError(const QString& text) {
    Dialogs::showError(text);
    // One more try once the message is gone; the rows read then appear, the rest stay empty until the view
    // next needs them.
    if (rows_ > 0 && !effective_.isEmpty()) {
        emit dataChanged(index(0, 0), index(rows_ - 1, static_cast<int>(effective_.size()) - 1), {Qt::DisplayRole});
    }
}

QVariant DatasetModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= effective_.size()) {
        return QVariant();
    }
    if (role == Qt::DisplayRole) {
        return effective_[section].title;
    }
    return QVariant();
}

Qt::ItemFlags DatasetModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::NoItemFlags;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable;
}

// TDBGrid

TDBGrid::TDBGrid(const QString& objectName, DataSource* source, QWidget* parent)
    : QTableView(parent), source_(source), model_(new DatasetModel(source->dataset(), this)) {
    setObjectName(objectName);
    setModel(model_);
    Look::ruleRows(this);

    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(false);
    setWordWrap(false);
    // A move from cell to cell would show nothing in a row selection, so Tab passes the focus on instead.
    setTabKeyNavigation(false);
    setCornerButtonEnabled(false);

    QPalette cells = palette();
    cells.setColor(QPalette::Base, Look::kMauve);
    cells.setColor(QPalette::AlternateBase, Look::kMauve);
    setPalette(cells);

    // Every row has the same height, so the view never asks rows for their size.
    verticalHeader()->hide();
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setMinimumSectionSize(1);
    applyRowHeight();

    QHeaderView* titles = horizontalHeader();
    titles->setSectionResizeMode(QHeaderView::Interactive);
    Look::makeGridTitles(titles);
    connect(titles, &QHeaderView::sectionResized, this, [this](int column, int, int width) {
        if (!applyingWidths_ && !model_->changing()) {
            model_->setColumnWidth(column, width);
        }
    });

    connect(model_, &QAbstractItemModel::modelReset, this, [this] {
        applyColumnWidths();
        showCurrentRecord();
    });
    connect(&source->dataset(), &Dataset::currentChanged, this, &TDBGrid::showCurrentRecord);
    connect(selectionModel(), &QItemSelectionModel::currentRowChanged, this,
            [this](const QModelIndex& current, const QModelIndex&) { viewRowChanged(current); });

    applyColumnWidths();
    showCurrentRecord();
}

void TDBGrid::setColumns(const QList<GridColumn>& columns) {
    model_->setColumns(columns);
}

void TDBGrid::applyColumnWidths() {
    applyingWidths_ = true;
    const QList<GridColumn>& shown = model_->columns();
    for (int i = 0; i < shown.size(); ++i) {
        horizontalHeader()->resizeSection(i, shown[i].width > 0 ? shown[i].width : 100);
    }
    applyingWidths_ = false;
}

void TDBGrid::applyRowHeight() {
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
}

void TDBGrid::changeEvent(QEvent* event) {
    QTableView::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        applyRowHeight();
    }
}

void TDBGrid::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Delete && (event->modifiers() & Qt::ControlModifier)) {
        event->accept();
        emit ctrlDeletePressed();
        return;
    }
    QTableView::keyPressEvent(event);
}

QModelIndex TDBGrid::moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) {
    // Rows are selected whole, so the keys that would only change the current column move between records
    // (Home, End) or scroll the columns into view (Left, Right).
    switch (action) {
    case MoveHome:
    case MoveEnd: {
        if (action == MoveEnd) {
            model_->fetchAll();
        }
        const int rows = model_->rowCount();
        if (rows == 0 || model_->columnCount() == 0) {
            return QModelIndex();
        }
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        return model_->index(action == MoveHome ? 0 : rows - 1, column);
    }
    case MoveLeft:
    case MoveRight:
        horizontalScrollBar()->triggerAction(action == MoveLeft ? QAbstractSlider::SliderSingleStepSub
                                                                : QAbstractSlider::SliderSingleStepAdd);
        return currentIndex();
    default:
        return QTableView::moveCursor(action, modifiers);
    }
}

void TDBGrid::mouseDoubleClickEvent(QMouseEvent* event) {
    QTableView::mouseDoubleClickEvent(event);
    const QModelIndex index = indexAt(event->position().toPoint());
    Dataset* ds = model_->dataset();
    if (event->button() != Qt::LeftButton || !index.isValid() || !ds || !ds->active()) {
        return;
    }
    if (ds->recNo() != index.row()) {
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
    }
    // Reported only for the record it was made on: when the move to it failed, nothing is acted on.
    if (ds->recNo() == index.row()) {
        emit doubleClicked();
    }
}

void TDBGrid::viewRowChanged(const QModelIndex& current) {
    Dataset* ds = model_->dataset();
    if (following_ || model_->changing() || !current.isValid() || !ds || !ds->active()) {
        return;
    }
    const int row = current.row();
    if (row == ds->recNo()) {
        return;
    }
    // Moving posts a pending change first; when that fails the record stays current, and the view is put
    // back on it once the event that moved the view is over.
    if (!runGuarded([ds, row] { ds->moveTo(row); })) {
        QMetaObject::invokeMethod(this, &TDBGrid::showCurrentRecord, Qt::QueuedConnection);
    }
}

void TDBGrid::showCurrentRecord() {
    model_->catchUp();
    Dataset* ds = model_->dataset();
    const int row = ds && ds->active() ? ds->recNo() : -1;
    following_ = true;
    if (row < 0 || row >= model_->rowCount() || model_->columnCount() == 0) {
        selectionModel()->clear();
    } else {
        const int column = currentIndex().isValid() ? currentIndex().column() : 0;
        const QModelIndex index = model_->index(row, column);
        selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        scrollTo(index);
    }
    following_ = false;
}
