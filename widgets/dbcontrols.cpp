// Bound controls follow their dataset through its signals and write through its fields. Every call that
// can raise (starting an edit, writing a field) runs inside runGuarded, because these calls are made from
// the controls' own events, where the program's code is entered.
#include "widgets/dbcontrols.h"

#include "data/errors.h"
#include "widgets/guard.h"

#include <QAbstractItemModel>
#include <QAbstractItemView>
#include <QFocusEvent>
#include <QHideEvent>
#include <QKeyEvent>
#include <QWheelEvent>

namespace {

bool isWindowOrPopupSwitch(const QFocusEvent* event) {
    return event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason;
}

} // namespace

// DBControl

DBControl::DBControl(QWidget* self) : self_(self) {}

DBControl::~DBControl() {
    disconnectDataset();
}

void DBControl::disconnectDataset() {
    for (const QMetaObject::Connection& c : connections_) {
        QObject::disconnect(c);
    }
    connections_.clear();
}

void DBControl::setDataBinding(DataSource* source, const QString& field) {
    disconnectDataset();
    source_ = source;
    field_ = field;
    dataset_ = source ? &source->dataset() : nullptr;
    if (dataset_) {
        connections_.append(QObject::connect(dataset_, &Dataset::activeChanged, self_, [this] { reset(); }));
        connections_.append(QObject::connect(dataset_, &Dataset::currentChanged, self_, [this] { reset(); }));
        connections_.append(QObject::connect(dataset_, &Dataset::recordChanged, self_,
                                             [this](int changed) { datasetRecordChanged(changed); }));
    }
    reset();
}

Dataset* DBControl::dataset() const {
    return dataset_ && dataset_->active() ? dataset_.data() : nullptr;
}

int DBControl::fieldIndex() const {
    const Dataset* ds = dataset();
    return ds && !field_.isEmpty() ? ds->findField(field_) : -1;
}

QString DBControl::fieldText() const {
    const int f = fieldIndex();
    return f < 0 ? QString() : dataset()->text(f);
}

bool DBControl::fieldBoolean() const {
    const int f = fieldIndex();
    if (f < 0) {
        return false;
    }
    Dataset* ds = dataset();
    if (ds->fieldDef(f).type == FieldType::Text) {
        // Shown, not converted: a text that is not a boolean shows as unchecked rather than failing.
        return ds->value(f).toString().trimmed().compare(QLatin1String("True"), Qt::CaseInsensitive) == 0;
    }
    return ds->field(f).asBoolean();
}

void DBControl::datasetRecordChanged(int field) {
    if (field < 0) {
        reset();
    } else if (field == fieldIndex() && !modified_) {
        reread();
    }
}

void DBControl::reread() {
    const bool wasReading = reading_;
    reading_ = true;
    showField();
    reading_ = wasReading;
}

void DBControl::reset() {
    modified_ = false;
    reread();
}

bool DBControl::beginChange() {
    Dataset* ds = dataset();
    const int f = fieldIndex();
    if (!ds || f < 0 || ds->fieldDef(f).column.isEmpty()) {
        return false;
    }
    if (ds->state() != Dataset::State::Browse) {
        return true;
    }
    if (!source_->autoEdit()) {
        return false;
    }
    return runGuarded([ds] { ds->edit(); });
}

bool DBControl::acceptUserChange() {
    if (modified_) {
        return true;
    }
    if (!beginChange()) {
        reset();
        return false;
    }
    modified_ = true;
    return true;
}

void DBControl::textChangedByUser() {
    if (reading_ || modified_) {
        return;
    }
    const QString typed = controlText();
    if (!acceptUserChange()) {
        return;
    }
    if (controlText() != typed) {
        reading_ = true;
        restoreText(typed);
        reading_ = false;
    }
}

void DBControl::keepFocusForCorrection() {
    inside_ = true;
    if (!self_->hasFocus()) {
        self_->setFocus(Qt::OtherFocusReason);
    }
    selectText();
}

bool DBControl::updateRecord() {
    if (!modified_) {
        return true;
    }
    Dataset* ds = dataset();
    const int f = fieldIndex();
    if (!ds || f < 0) {
        reset();
        return true;
    }
    const QString text = controlText();
    bool conversionFailed = false;
    const bool written = runGuarded([&] {
        try {
            if (ds->state() == Dataset::State::Browse && source_->autoEdit()) {
                ds->edit();
            }
            ds->field(f).setAsString(text);
        } catch (const ConversionError&) {
            // The user can correct the text: put them back in the control before the error is shown.
            conversionFailed = true;
            keepFocusForCorrection();
            throw;
        }
    });
    if (written) {
        reset(); // shows the text as stored ("2027-01-01" reads back as a short date)
        return true;
    }
    if (!conversionFailed) {
        // The field refused the value for good (it cannot be written); show what it holds.
        reset();
    }
    return false;
}

bool DBControl::updateAllControls(QWidget* window) {
    if (!window) {
        return true;
    }
    const QList<QWidget*> children = window->findChildren<QWidget*>();
    for (QWidget* child : children) {
        auto* control = dynamic_cast<DBControl*>(child);
        if (control && !control->updateRecord()) {
            if (!child->hasFocus()) {
                child->setFocus(Qt::OtherFocusReason);
            }
            return false;
        }
    }
    return true;
}

bool updateAllControls(QWidget* window) {
    return DBControl::updateAllControls(window);
}

bool DBControl::enterFocus(const QFocusEvent* event) {
    Q_UNUSED(event);
    // Coming back from another window or a popup to a control that was never left is not an entry; a
    // window opening with the focus here is.
    if (inside_) {
        return false;
    }
    inside_ = true;
    return true;
}

bool DBControl::leaveFocus(const QFocusEvent* event) {
    if (isWindowOrPopupSwitch(event) || !inside_) {
        return false;
    }
    inside_ = false;
    return updateRecord();
}

// TDBEdit

TDBEdit::TDBEdit(QWidget* parent) : DBBoundControl(parent) {
    connect(this, &QLineEdit::textEdited, this, [this] { textChangedByUser(); });
}

void TDBEdit::showField() {
    setText(fieldText());
    if (!hasFocus()) {
        setCursorPosition(0);
    }
}

// TDBComboBox

TDBComboBox::TDBComboBox(QWidget* parent) : DBBoundComboBox(parent) {
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert);
    connect(lineEdit(), &QLineEdit::textEdited, this, [this] { textChangedByUser(); });
    connect(this, &QComboBox::activated, this, [this] {
        if (readOnly_) {
            reset();
        } else {
            textChangedByUser();
        }
    });
    // A combo selects an item of its own accord when its list is filled, emptied or loses the current
    // item; the text shown is the field's (or the user's), so it is put back.
    QAbstractItemModel* list = model();
    connect(list, &QAbstractItemModel::rowsAboutToBeInserted, this, &TDBComboBox::listAboutToChange);
    connect(list, &QAbstractItemModel::rowsAboutToBeRemoved, this, &TDBComboBox::listAboutToChange);
    connect(list, &QAbstractItemModel::modelAboutToBeReset, this, &TDBComboBox::listAboutToChange);
    connect(list, &QAbstractItemModel::rowsInserted, this, &TDBComboBox::listChanged);
    connect(list, &QAbstractItemModel::rowsRemoved, this, &TDBComboBox::listChanged);
    connect(list, &QAbstractItemModel::modelReset, this, &TDBComboBox::listChanged);
}

void TDBComboBox::listAboutToChange() {
    textBeforeListChange_ = currentText();
}

void TDBComboBox::listChanged() {
    if (currentText() != textBeforeListChange_) {
        const int cursor = lineEdit()->cursorPosition();
        showText(textBeforeListChange_);
        lineEdit()->setCursorPosition(cursor);
    }
}

void TDBComboBox::showText(const QString& text) {
    setCurrentIndex(findText(text, Qt::MatchExactly));
    setEditText(text);
}

bool TDBComboBox::refusedWhenReadOnly(const QKeyEvent* event) {
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Down:
    case Qt::Key_PageUp:
    case Qt::Key_PageDown:
    case Qt::Key_F4:
        return true;
    default:
        return false;
    }
}

void TDBComboBox::showField() {
    showText(fieldText());
    if (!hasFocus()) {
        lineEdit()->setCursorPosition(0);
    }
}

void TDBComboBox::selectText() {
    lineEdit()->selectAll();
}

// TDBCheckBox

TDBCheckBox::TDBCheckBox(QWidget* parent) : DBBoundControl(parent) {
    setTristate(false);
    connect(this, &QAbstractButton::clicked, this, [this] {
        if (written_) {
            written_ = false;
            emit userClicked();
        }
    });
}

void TDBCheckBox::nextCheckState() {
    written_ = false;
    if (readOnly_ || reading()) {
        return;
    }
    // The dataset goes into edit first: on an empty dataset that begins a new record, whose value is
    // the one toggled.
    if (!beginChange()) {
        reset();
        return;
    }
    QCheckBox::nextCheckState();
    Dataset* ds = dataset();
    const int f = fieldIndex();
    const bool value = isChecked();
    written_ = runGuarded([ds, f, value] { ds->field(f).setAsBoolean(value); });
    if (!written_) {
        reset();
    }
}

void TDBCheckBox::showField() {
    setChecked(fieldBoolean());
}

// TDBLookupComboBox

TDBLookupComboBox::TDBLookupComboBox(QWidget* parent) : DBBoundComboBox(parent) {
    setEditable(false);
    connect(this, &QComboBox::activated, this, &TDBLookupComboBox::itemChosen);
}

TDBLookupComboBox::~TDBLookupComboBox() {
    for (const QMetaObject::Connection& c : listConnections_) {
        disconnect(c);
    }
}

void TDBLookupComboBox::setListSource(DataSource* source, const QString& keyField, const QString& listField) {
    for (const QMetaObject::Connection& c : listConnections_) {
        disconnect(c);
    }
    listConnections_.clear();
    listSource_ = source;
    keyField_ = keyField;
    listField_ = listField;
    if (source) {
        Dataset* list = &source->dataset();
        listConnections_.append(connect(list, &Dataset::activeChanged, this, &TDBLookupComboBox::fillList));
        // A posted, cancelled or deleted record of the list shows at once.
        listConnections_.append(connect(list, &Dataset::recordChanged, this, [this, list](int field) {
            if (field < 0 && list->state() == Dataset::State::Browse) {
                fillList();
            }
        }));
    }
    fillList();
}

void TDBLookupComboBox::fillList() {
    clear();
    if (listSource_ && listSource_->dataset().active()) {
        const Dataset& list = listSource_->dataset();
        const int key = list.findField(keyField_);
        const int shown = list.findField(listField_);
        if (key >= 0 && shown >= 0) {
            for (int row = 0; row < list.recordCount(); ++row) {
                addItem(list.textAt(row, shown), list.textAt(row, key));
            }
        }
    }
    reset();
}

QString TDBLookupComboBox::keyValue() const {
    return currentIndex() < 0 ? QString() : itemData(currentIndex()).toString();
}

void TDBLookupComboBox::setListWidth(int width) {
    view()->setMinimumWidth(width);
}

void TDBLookupComboBox::showField() {
    const QString key = fieldText();
    int found = -1;
    if (!key.isEmpty()) {
        for (int i = 0; i < count(); ++i) {
            if (itemData(i).toString().compare(key, Qt::CaseInsensitive) == 0) {
                found = i;
                break;
            }
        }
    }
    setCurrentIndex(found);
}

void TDBLookupComboBox::itemChosen(int index) {
    if (reading() || index < 0) {
        return;
    }
    if (readOnly_) {
        reset();
        return;
    }
    // Read before the edit starts: beginning an insert shows the (empty) new record.
    const QString key = itemData(index).toString();
    if (!beginChange()) {
        reset();
        return;
    }
    Dataset* ds = dataset();
    const int f = fieldIndex();
    const bool written = runGuarded([ds, f, &key] { ds->field(f).setAsString(key); });
    reset();
    if (written) {
        emit userChanged();
    }
}

// TDBText

TDBText::TDBText(QWidget* parent) : QLabel(parent), DBControl(this) {
    setFocusPolicy(Qt::NoFocus);
    // Register text is shown as typed, never read as markup.
    setTextFormat(Qt::PlainText);
}

void TDBText::showField() {
    setText(fieldText());
}
