// Data-bound controls: an edit, an editable combo box, a check box, a lookup list and a label, each showing
// one field of its dataset's current record. A change the user makes first puts the dataset into edit
// state; text controls write their text back to the field when they are left (or when the window asks
// before posting), and a text that does not convert keeps the user in the control with the error shown.
#pragma once

#include "data/dataset.h"
#include "data/datasource.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFocusEvent>
#include <QHideEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QList>
#include <QPointer>
#include <QString>
#include <QWheelEvent>

// What every bound control shares: the binding, the "modified" flag, following the dataset's signals,
// the write-back and the rules for entering and leaving the control.
class DBControl {
public:
    virtual ~DBControl();
    DBControl(const DBControl&) = delete;
    DBControl& operator=(const DBControl&) = delete;

    // Binds the control to a field of the source's dataset (by name, found without regard to case each
    // time the dataset opens) and shows it. A null source unbinds.
    void setDataBinding(DataSource* source, const QString& field);
    DataSource* dataSource() const { return source_; }
    const QString& dataField() const { return field_; }

    // Whether the user changed the control since it last showed or wrote its field.
    bool hasPendingChange() const { return modified_; }
    // Writes a modified control's value to its field. On a text that does not convert the error is shown,
    // the text is selected with the focus in the control, and false is returned; true otherwise.
    bool updateRecord();
    // updateRecord for every bound control inside window, in creation order; stops at the first failure.
    static bool updateAllControls(QWidget* window);

protected:
    explicit DBControl(QWidget* self);

    // The bound dataset and the field's index in it; null / -1 when unbound, closed or without the field.
    Dataset* dataset() const;
    int fieldIndex() const;
    QString fieldText() const;
    bool fieldBoolean() const; // false when unbound or when a text field holds no boolean

    // Called before a change the user makes: puts the dataset into edit state when it browses and the
    // source has autoEdit (errors shown). False when the dataset cannot take the change.
    bool beginChange();
    // Marks the control changed by the user; false (and the field shown again) when the change is refused.
    bool acceptUserChange();
    // For a text the user has just typed or picked: accepts the change, keeping the text even when
    // starting the edit showed the record afresh (an empty dataset begins an insert).
    void textChangedByUser();
    // Shows the field again and forgets any change the user made.
    void reset();

    // Shows the bound field's current value; called with reading() true.
    virtual void showField() = 0;
    // The text a write-back stores; controls that write at once need not provide it.
    virtual QString controlText() const { return QString(); }
    virtual void restoreText(const QString& value) { Q_UNUSED(value); }
    virtual void selectText() {}
    bool reading() const { return reading_; }

    // Focus rules shared by the controls' focus events. enterFocus: true when entered() should be emitted.
    // leaveFocus: writes back and returns true when exited() should be emitted; after a failed write-back
    // the focus is back in the control and false is returned. Moving to a popup or another window is
    // neither entering nor leaving.
    bool enterFocus(const QFocusEvent* event);
    bool leaveFocus(const QFocusEvent* event);
    // A control hidden with its window is no longer entered: showing the window again enters it afresh.
    void controlHidden() { inside_ = false; }

private:
    void disconnectDataset();
    void datasetRecordChanged(int field);
    void reread();
    void keepFocusForCorrection();

    QWidget* self_;
    DataSource* source_ = nullptr;
    QPointer<Dataset> dataset_;
    QString field_;
    QList<QMetaObject::Connection> connections_;
    bool modified_ = false;
    bool reading_ = false;
    bool inside_ = false; // entered and not yet left
};

// updateRecord for every bound control inside window; the same as DBControl::updateAllControls.
bool updateAllControls(QWidget* window);

// The overrides every focusable bound control shares, on top of its Qt control Base: entering the control
// emits Derived's entered(), leaving it writes the field back and emits exited(), and hiding it with its
// window forgets that it was entered. Derived declares the two signals.
template <class Base, class Derived> class DBBoundControl : public Base, public DBControl {
public:
    explicit DBBoundControl(QWidget* parent) : Base(parent), DBControl(this) {}

protected:
    void focusInEvent(QFocusEvent* event) override {
        Base::focusInEvent(event);
        if (enterFocus(event)) {
            emit static_cast<Derived*>(this)->entered();
        }
    }
    void focusOutEvent(QFocusEvent* event) override {
        Base::focusOutEvent(event);
        if (leaveFocus(event)) {
            emit static_cast<Derived*>(this)->exited();
        }
    }
    void hideEvent(QHideEvent* event) override {
        Base::hideEvent(event);
        controlHidden();
    }
};

// What the two drop-down controls add: a read-only one takes the focus but keeps its text, list and
// selection against the wheel, the drop-down and every key Derived::refusedWhenReadOnly names.
template <class Derived> class DBBoundComboBox : public DBBoundControl<QComboBox, Derived> {
public:
    explicit DBBoundComboBox(QWidget* parent) : DBBoundControl<QComboBox, Derived>(parent) {}

    void setReadOnly(bool on) {
        readOnly_ = on;
        if (QLineEdit* edit = this->lineEdit()) {
            edit->setReadOnly(on);
        }
    }

protected:
    void keyPressEvent(QKeyEvent* event) override {
        if (readOnly_ && Derived::refusedWhenReadOnly(event)) {
            // Refused here, the key still reaches the window (Tab, Escape and Return keep working).
            QWidget::keyPressEvent(event);
            return;
        }
        QComboBox::keyPressEvent(event);
    }
    void wheelEvent(QWheelEvent* event) override {
        if (readOnly_) {
            event->ignore();
            return;
        }
        QComboBox::wheelEvent(event);
    }
    void showPopup() override {
        if (!readOnly_) {
            QComboBox::showPopup();
        }
    }

    bool readOnly_ = false;
};

// A one-line edit of a field's text form. Read-only and password echo work as for any edit.
class TDBEdit : public DBBoundControl<QLineEdit, TDBEdit> {
    Q_OBJECT
public:
    explicit TDBEdit(QWidget* parent = nullptr);

signals:
    void entered();
    void exited(); // left with the text written (or nothing to write)

protected:
    void showField() override;
    QString controlText() const override { return text(); }
    void restoreText(const QString& value) override { setText(value); }
    void selectText() override { selectAll(); }
};

// An editable combo box: the field's text in the edit, with a drop-down list of plain items the control
// owns (the window fills it; a typed text is never added to it by the combo itself, and filling or
// emptying the list never changes the text shown). Read-only, it takes no typing, selection, wheel or
// drop-down.
class TDBComboBox : public DBBoundComboBox<TDBComboBox> {
    Q_OBJECT
public:
    explicit TDBComboBox(QWidget* parent = nullptr);

    // The keys a read-only combo refuses: those that step through or open its list.
    static bool refusedWhenReadOnly(const QKeyEvent* event);

signals:
    void entered();
    void exited();

protected:
    void showField() override;
    QString controlText() const override { return currentText(); }
    void restoreText(const QString& value) override { showText(value); }
    void selectText() override;

private:
    // Shows text in the edit, with the list's matching item (if any) as the current one.
    void showText(const QString& text);
    void listAboutToChange();
    void listChanged();

    QString textBeforeListChange_;
};

// A check box showing a boolean field. A click by the user writes the field at once and then emits
// userClicked(); showing another record changes the box without emitting it.
class TDBCheckBox : public DBBoundControl<QCheckBox, TDBCheckBox> {
    Q_OBJECT
public:
    explicit TDBCheckBox(QWidget* parent = nullptr);

    // A read-only box takes focus but ignores clicks and keys.
    void setReadOnly(bool on) { readOnly_ = on; }

signals:
    void userClicked();
    void entered();
    void exited();

protected:
    void nextCheckState() override;
    void showField() override;

private:
    bool readOnly_ = false;
    bool written_ = false; // the click being handled has written the field
};

// A drop-down list of another dataset's records: shows the list field (a group's Description) and stores
// the key field (its GroupNumber) into the bound field. The items are read from every record of the list
// dataset whenever it opens and after its changes are posted or deleted. Read-only, it keeps its
// selection against mouse, wheel and keys but can take focus.
class TDBLookupComboBox : public DBBoundComboBox<TDBLookupComboBox> {
    Q_OBJECT
public:
    explicit TDBLookupComboBox(QWidget* parent = nullptr);
    ~TDBLookupComboBox() override;

    // source must outlive the control.
    void setListSource(DataSource* source, const QString& keyField, const QString& listField);
    DataSource* listSource() const { return listSource_; }
    // The key of the item shown; empty when none is.
    QString keyValue() const;

    // The width of the drop-down list, in pixels (at least the control's width).
    void setListWidth(int width);

    // A read-only lookup refuses every key a list would act on.
    static bool refusedWhenReadOnly(const QKeyEvent* event) {
        Q_UNUSED(event);
        return true;
    }

signals:
    void userChanged(); // the user chose an item and its key has been written
    void entered();
    void exited();

protected:
    void showField() override;

private:
    void fillList();
    void itemChosen(int index);

    DataSource* listSource_ = nullptr;
    QString keyField_;
    QString listField_;
    QList<QMetaObject::Connection> listConnections_;
};

// A label showing a field's text; never takes focus.
class TDBText : public QLabel, public DBControl {
    Q_OBJECT
public:
    explicit TDBText(QWidget* parent = nullptr);

protected:
    void showField() override;
};
