// Tests of the data-bound controls in a shown window: typing starts an edit, leaving writes the field, a
// text that does not convert keeps the user in the control, check box clicks and lookup choices write at
// once, changes made elsewhere are shown, and read-only controls refuse changes.
#include "tests/support/assetlist.h"
#include "widgets/dbcontrols.h"
#include "widgets/dialogs.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLocale>
#include <QSignalSpy>
#include <QVBoxLayout>
#include <QtTest>
#include <optional>

namespace {

// A register with two assets and two groups, the asset list and the group list open.
struct Fixture : AssetList {
    Dataset groups{conn, QStringLiteral("GroupsTable")};
    DataSource groupSource{groups};

    Fixture() {
        reg.addAsset(QStringLiteral("KLT001"), QStringLiteral("klt"), QStringLiteral("Description, isElectrical"),
                     QStringLiteral("'Kettle', 0"));
        reg.addAsset(QStringLiteral("PC001"), QStringLiteral("PC"), QStringLiteral("Description, isElectrical"),
                     QStringLiteral("'Laptop', 1"));
        reg.exec(QStringLiteral("INSERT INTO Groups (GroupNumber, Description) VALUES ('KLT', 'Kitchen')"));
        reg.exec(QStringLiteral("INSERT INTO Groups (GroupNumber, Description) VALUES ('PC', 'Computers')"));
        openOn(groups, {QStringLiteral("select * from Groups order by GroupNumber")});
        open();
    }

    QString stored(const QString& column, const QString& id = QStringLiteral("KLT001")) {
        return reg.text(QStringLiteral("SELECT %1 FROM assets WHERE ASSETID = '%2'").arg(column, id));
    }
};

// A window of bound controls with a plain edit to move the focus to.
struct Window {
    QWidget window;
    QVBoxLayout* layout = new QVBoxLayout(&window);

    template <typename Control> Control* add(DataSource* source, const QString& field) {
        auto* c = new Control(&window);
        c->setDataBinding(source, field);
        layout->addWidget(c);
        return c;
    }
    QLineEdit* addPlainEdit() {
        auto* e = new QLineEdit(&window);
        layout->addWidget(e);
        return e;
    }

    void show() {
        window.show();
        QApplication::setActiveWindow(&window);
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
};

void focus(QWidget* w) {
    w->setFocus(Qt::OtherFocusReason);
    QVERIFY(w->hasFocus());
}

QStringList shownErrors() {
    QStringList texts;
    for (const ShownMessage& m : DialogScript::messages()) {
        if (m.icon == MessageIcon::Error) {
            texts << m.text;
        }
    }
    return texts;
}

// One bound control of each kind that takes the focus, by the name a test row gives.
QWidget* addControl(Window& w, Fixture& f, const QString& kind) {
    if (kind == QLatin1String("edit")) {
        return w.add<TDBEdit>(&f.source, QStringLiteral("Description"));
    }
    if (kind == QLatin1String("combo box")) {
        auto* combo = w.add<TDBComboBox>(&f.source, QStringLiteral("Supplier"));
        combo->addItems({QStringLiteral("Argos"), QStringLiteral("Currys")});
        return combo;
    }
    if (kind == QLatin1String("check box")) {
        return w.add<TDBCheckBox>(&f.source, QStringLiteral("isElectrical"));
    }
    auto* lookup = w.add<TDBLookupComboBox>(&f.source, QStringLiteral("ItemGroup"));
    lookup->setListSource(&f.groupSource, QStringLiteral("GroupNumber"), QStringLiteral("Description"));
    return lookup;
}

} // namespace

class TestDBControls : public QObject {
    Q_OBJECT

    std::unique_ptr<Fixture> f;
    std::unique_ptr<Window> w;

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        DialogScript::enable();
    }

    // Every test has a register of its own and a window, which goes first: its controls are bound to the data.
    void init() {
        DialogScript::reset();
        f = std::make_unique<Fixture>();
        w = std::make_unique<Window>();
    }

    void cleanup() {
        w.reset();
        f.reset();
    }

    void editShowsTheCurrentRecordAndFollowsIt() {
        auto* edit = w->add<TDBEdit>(&f->source, QStringLiteral("description")); // names match without regard to case
        auto* missing = w->add<TDBEdit>(&f->source, QStringLiteral("NoSuchField"));
        auto* password = w->add<TDBEdit>(&f->source, QStringLiteral("ASSETID"));
        password->setEchoMode(QLineEdit::Password);
        QCOMPARE(edit->text(), QStringLiteral("Kettle"));
        QCOMPARE(password->text(), QStringLiteral("KLT001"));
        QCOMPARE(missing->text(), QString());

        f->ds.next();
        QCOMPARE(edit->text(), QStringLiteral("Laptop"));
        QCOMPARE(password->text(), QStringLiteral("PC001"));

        f->ds.close();
        QCOMPARE(edit->text(), QString());
        f->open();
        QCOMPARE(edit->text(), QStringLiteral("Kettle"));

        // A value set by the program shows at once in a control that is not being typed in.
        f->ds.edit();
        f->ds.fieldByName(QStringLiteral("Description")).setAsString(QStringLiteral("Kettle, cordless"));
        QCOMPARE(edit->text(), QStringLiteral("Kettle, cordless"));
    }

    void typingStartsAnEditAndLeavingWritesTheField() {
        auto* edit = w->add<TDBEdit>(&f->source, QStringLiteral("Description"));
        auto* dateEdit = w->add<TDBEdit>(&f->source, QStringLiteral("DatePurchased"));
        QSignalSpy entered(edit, &TDBEdit::entered);
        QSignalSpy exited(edit, &TDBEdit::exited);
        w->show(); // a window opening with the focus in a control enters it
        QCOMPARE(entered.size(), 1);
        focus(edit);
        QCOMPARE(entered.size(), 1);
        edit->selectAll();
        QTest::keyClicks(edit, QStringLiteral("Toaster"));
        QCOMPARE(f->ds.state(), Dataset::State::Edit);
        QVERIFY(edit->hasPendingChange());
        QCOMPARE(f->ds.fieldByName(QStringLiteral("Description")).asString(), QStringLiteral("Kettle")); // not yet

        QTest::keyClick(edit, Qt::Key_Tab);
        QVERIFY(dateEdit->hasFocus());
        QCOMPARE(exited.size(), 1);
        QVERIFY(!edit->hasPendingChange());
        QCOMPARE(f->ds.fieldByName(QStringLiteral("Description")).asString(), QStringLiteral("Toaster"));

        // A date typed in ISO form is stored and shown in the short date form once the control is left.
        QTest::keyClicks(dateEdit, QStringLiteral("2027-01-01"));
        QTest::keyClick(dateEdit, Qt::Key_Backtab);
        QCOMPARE(dateEdit->text(), QStringLiteral("1/1/2027"));
        QCOMPARE(exited.size(), 1);
        QCOMPARE(entered.size(), 2);

        f->ds.post();
        QCOMPARE(f->stored(QStringLiteral("Description")), QStringLiteral("Toaster"));
        QCOMPARE(f->stored(QStringLiteral("DatePurchased")), QStringLiteral("2027-01-01"));
        QCOMPARE(edit->text(), QStringLiteral("Toaster"));

        // Leaving without a change writes nothing and still counts as leaving.
        QTest::keyClick(edit, Qt::Key_Tab);
        QCOMPARE(exited.size(), 2);
        QCOMPARE(f->ds.state(), Dataset::State::Browse);
        QVERIFY(shownErrors().isEmpty());

        // A window shown again with the focus in the control enters it again; closing it is not leaving.
        focus(edit);
        QCOMPARE(entered.size(), 3);
        w->window.hide();
        QCOMPARE(exited.size(), 2);
        w->show();
        QVERIFY(edit->hasFocus());
        QCOMPARE(entered.size(), 4);
    }

    void aTextThatDoesNotConvertKeepsTheUserInTheControl() {
        f->reg.exec(QStringLiteral("UPDATE assets SET DatePurchased = '2026-05-04' WHERE ASSETID = 'KLT001'"));
        f->open();
        auto* dateEdit = w->add<TDBEdit>(&f->source, QStringLiteral("DatePurchased"));
        auto* next = w->add<TDBEdit>(&f->source, QStringLiteral("Description"));
        QSignalSpy exited(dateEdit, &TDBEdit::exited);
        QSignalSpy entered(dateEdit, &TDBEdit::entered);
        QSignalSpy nextEntered(next, &TDBEdit::entered);
        QSignalSpy nextExited(next, &TDBEdit::exited);
        w->show();

        focus(dateEdit);
        dateEdit->selectAll();
        QTest::keyClicks(dateEdit, QStringLiteral("next week"));
        QTest::keyClick(dateEdit, Qt::Key_Tab);

        QCOMPARE(shownErrors(), QStringList({QStringLiteral("'next week' is not a valid date")}));
        QVERIFY(dateEdit->hasFocus());
        QCOMPARE(QApplication::focusWidget(), dateEdit);
        QCOMPARE(dateEdit->selectedText(), QStringLiteral("next week"));
        QCOMPARE(exited.size(), 0);
        QCOMPARE(entered.size(), 1);     // the focus coming back is not a second entry
        QCOMPARE(nextEntered.size(), 0); // nor was the next control entered or left
        QCOMPARE(nextExited.size(), 0);
        QCOMPARE(f->ds.fieldByName(QStringLiteral("DatePurchased")).asString(), QStringLiteral("5/4/2026"));
        QVERIFY(!dateEdit->updateRecord()); // the window asking before a post is refused too
        QCOMPARE(shownErrors().size(), 2);
        f->ds.cancel();
        QCOMPARE(f->stored(QStringLiteral("DatePurchased")), QStringLiteral("2026-05-04"));

        // Corrected, the control can be left.
        focus(dateEdit);
        dateEdit->selectAll();
        QTest::keyClicks(dateEdit, QStringLiteral("2/3/2027"));
        QTest::keyClick(dateEdit, Qt::Key_Tab);
        QCOMPARE(exited.size(), 1);
        QVERIFY(next->hasFocus());
        f->ds.post();
        QCOMPARE(f->stored(QStringLiteral("DatePurchased")), QStringLiteral("2027-02-03"));
    }

    void updateAllControlsWritesEveryChangeOrStopsAtTheFirstBadOne() {
        auto* make = w->add<TDBEdit>(&f->source, QStringLiteral("Make"));
        auto* cost = w->add<TDBEdit>(&f->source, QStringLiteral("TotalCost"));
        w->show();

        focus(make);
        QTest::keyClicks(make, QStringLiteral("Breville"));
        QVERIFY(make->hasPendingChange());
        QVERIFY(updateAllControls(&w->window));
        QVERIFY(!make->hasPendingChange());
        QCOMPARE(f->ds.fieldByName(QStringLiteral("Make")).asString(), QStringLiteral("Breville"));

        focus(cost);
        QTest::keyClicks(cost, QStringLiteral("twelve"));
        QVERIFY(!DBControl::updateAllControls(&w->window));
        QCOMPARE(shownErrors(), QStringList({QStringLiteral("'twelve' is not a valid floating point value")}));
        QCOMPARE(QApplication::focusWidget(), cost);
        QCOMPARE(cost->selectedText(), QStringLiteral("twelve"));
        QVERIFY(cost->hasPendingChange());
        QVERIFY(f->ds.fieldByName(QStringLiteral("TotalCost")).isNull());

        QTest::keyClicks(cost, QStringLiteral("12.5"));
        QVERIFY(updateAllControls(&w->window));
        QCOMPARE(f->ds.fieldByName(QStringLiteral("TotalCost")).asString(), QStringLiteral("12.5"));
        f->ds.post();
        QCOMPARE(f->stored(QStringLiteral("Make")), QStringLiteral("Breville"));
        QCOMPARE(f->stored(QStringLiteral("TotalCost")), QStringLiteral("12.5"));
    }

    void typingIntoAnEmptyDatasetBeginsAnInsertAndKeepsTheText() {
        f->open(QStringLiteral("*"), QStringLiteral("where ASSETID = 'none'"));
        auto* edit = w->add<TDBEdit>(&f->source, QStringLiteral("Description"));
        w->show();
        focus(edit);
        QTest::keyClicks(edit, QStringLiteral("Fan"));
        QCOMPARE(f->ds.state(), Dataset::State::Insert);
        QCOMPARE(edit->text(), QStringLiteral("Fan")); // the first letter was not lost to the new record
        QVERIFY(edit->updateRecord());
        QCOMPARE(f->ds.fieldByName(QStringLiteral("Description")).asString(), QStringLiteral("Fan"));
    }

    void aChangeToAnotherFieldDoesNotClobberTyping() {
        auto* description = w->add<TDBEdit>(&f->source, QStringLiteral("Description"));
        auto* make = w->add<TDBEdit>(&f->source, QStringLiteral("Make"));
        w->show();
        focus(description);
        description->selectAll();
        QTest::keyClicks(description, QStringLiteral("Urn"));

        f->ds.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("Dualit"));
        QCOMPARE(make->text(), QStringLiteral("Dualit"));
        QCOMPARE(description->text(), QStringLiteral("Urn"));
        // Even a change to its own field leaves what the user is typing in place.
        f->ds.fieldByName(QStringLiteral("Description")).setAsString(QStringLiteral("Set by code"));
        QCOMPARE(description->text(), QStringLiteral("Urn"));

        QTest::keyClick(description, Qt::Key_Tab);
        QCOMPARE(f->ds.fieldByName(QStringLiteral("Description")).asString(), QStringLiteral("Urn"));
    }

    void cancellingTheEditShowsTheStoredValueAgain() {
        auto* edit = w->add<TDBEdit>(&f->source, QStringLiteral("Description"));
        w->show();
        focus(edit);
        QTest::keyClick(edit, Qt::Key_End);
        QTest::keyClicks(edit, QStringLiteral(" with lid"));
        QCOMPARE(edit->text(), QStringLiteral("Kettle with lid"));
        f->ds.cancel();
        QCOMPARE(edit->text(), QStringLiteral("Kettle"));
        QVERIFY(!edit->hasPendingChange());
        // Nothing is left to write: leaving does not start another edit.
        QTest::keyClick(edit, Qt::Key_Tab);
        QCOMPARE(f->ds.state(), Dataset::State::Browse);
    }

    void readOnlyAndNonEditingControlsRefuseTyping() {
        auto* readOnly = w->add<TDBEdit>(&f->source, QStringLiteral("Description"));
        readOnly->setReadOnly(true);
        auto* closedEdit = w->add<TDBEdit>(nullptr, QString());
        w->show();

        focus(readOnly);
        QTest::keyClicks(readOnly, QStringLiteral("xyz"));
        QCOMPARE(readOnly->text(), QStringLiteral("Kettle"));
        QCOMPARE(f->ds.state(), Dataset::State::Browse);

        // With autoEdit off, a browsing dataset takes no typing.
        f->source.setAutoEdit(false);
        readOnly->setReadOnly(false);
        QTest::keyClicks(readOnly, QStringLiteral("xyz"));
        QCOMPARE(readOnly->text(), QStringLiteral("Kettle"));
        QCOMPARE(f->ds.state(), Dataset::State::Browse);
        // ... but a dataset already in edit state does.
        f->ds.edit();
        QTest::keyClicks(readOnly, QStringLiteral("s"));
        QCOMPARE(readOnly->text(), QStringLiteral("Kettles"));
        QVERIFY(readOnly->updateRecord());
        QCOMPARE(f->ds.fieldByName(QStringLiteral("Description")).asString(), QStringLiteral("Kettles"));

        // An unbound control has no field to change.
        focus(closedEdit);
        QTest::keyClicks(closedEdit, QStringLiteral("abc"));
        QCOMPARE(closedEdit->text(), QString());
        QVERIFY(shownErrors().isEmpty());
    }

    void comboBoxWritesTypedOrPickedTextAndKeepsItsList() {
        auto* combo = w->add<TDBComboBox>(&f->source, QStringLiteral("Supplier"));
        combo->addItems({QStringLiteral("Argos"), QStringLiteral("Currys")});
        QCOMPARE(combo->currentText(), QString()); // filling the list leaves the field's (empty) text shown
        auto* next = w->addPlainEdit();
        w->show();
        QSignalSpy exited(combo, &TDBComboBox::exited);

        focus(combo);
        QTest::keyClicks(combo, QStringLiteral("Maplin"));
        QCOMPARE(f->ds.state(), Dataset::State::Edit);
        QTest::keyClick(combo, Qt::Key_Return);
        QCOMPARE(combo->count(), 2); // the list is the window's to fill
        QTest::keyClick(combo, Qt::Key_Tab);
        QVERIFY(next->hasFocus());
        QCOMPARE(exited.size(), 1);
        QCOMPARE(f->ds.fieldByName(QStringLiteral("Supplier")).asString(), QStringLiteral("Maplin"));
        f->ds.post();

        // Picking from the list counts as a change too.
        focus(combo);
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentText(), QStringLiteral("Argos"));
        QCOMPARE(f->ds.state(), Dataset::State::Edit);
        QTest::keyClick(combo, Qt::Key_Tab);
        QCOMPARE(f->ds.fieldByName(QStringLiteral("Supplier")).asString(), QStringLiteral("Argos"));
        f->ds.post();
        QCOMPARE(f->stored(QStringLiteral("Supplier")), QStringLiteral("Argos"));

        // Read-only: neither typing nor the list changes it.
        combo->setReadOnly(true);
        focus(combo);
        QTest::keyClicks(combo, QStringLiteral("zz"));
        QTest::keyClick(combo, Qt::Key_Down);
        QCOMPARE(combo->currentText(), QStringLiteral("Argos"));
        QCOMPARE(f->ds.state(), Dataset::State::Browse);
    }

    void checkBoxClickWritesAtOnceAndShowingAnotherRecordIsSilent() {
        auto* box = w->add<TDBCheckBox>(&f->source, QStringLiteral("isElectrical"));
        w->show();
        QSignalSpy clicks(box, &TDBCheckBox::userClicked);
        bool valueAtSignal = false;
        connect(box, &TDBCheckBox::userClicked, this,
                [&] { valueAtSignal = f->ds.fieldByName(QStringLiteral("isElectrical")).asBoolean(); });

        QVERIFY(!box->isChecked());
        f->ds.next();
        QVERIFY(box->isChecked());
        f->ds.prior();
        QVERIFY(!box->isChecked());
        QCOMPARE(clicks.size(), 0);

        f->ds.append();
        QVERIFY(!box->isChecked());
        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->isChecked());
        QCOMPARE(clicks.size(), 1);
        QVERIFY(valueAtSignal); // written before the signal
        QCOMPARE(f->ds.state(), Dataset::State::Insert);
        f->ds.fieldByName(QStringLiteral("ASSETID")).setAsString(QStringLiteral("NEW001"));
        f->ds.post();
        QCOMPARE(f->stored(QStringLiteral("isElectrical"), QStringLiteral("NEW001")), QStringLiteral("1"));

        // A click on a browsing record starts the edit; the space bar clicks too.
        f->ds.first();
        QCOMPARE(clicks.size(), 1);
        QTest::mouseClick(box, Qt::LeftButton);
        QCOMPARE(f->ds.state(), Dataset::State::Edit);
        QVERIFY(f->ds.fieldByName(QStringLiteral("isElectrical")).asBoolean());
        QTest::keyClick(box, Qt::Key_Space);
        QVERIFY(!f->ds.fieldByName(QStringLiteral("isElectrical")).asBoolean());
        QCOMPARE(clicks.size(), 3);
        f->ds.cancel();
        QVERIFY(!box->isChecked());
        QCOMPARE(clicks.size(), 3);
    }

    void readOnlyCheckBoxIgnoresClicksAndKeys() {
        auto* other = w->addPlainEdit();
        auto* box = w->add<TDBCheckBox>(&f->source, QStringLiteral("isElectrical"));
        box->setReadOnly(true);
        w->show();
        QSignalSpy clicks(box, &TDBCheckBox::userClicked);
        focus(other);

        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->hasFocus());
        QTest::keyClick(box, Qt::Key_Space);
        box->click();
        QVERIFY(!box->isChecked());
        QCOMPARE(clicks.size(), 0);
        QCOMPARE(f->ds.state(), Dataset::State::Browse);
        QVERIFY(!f->ds.fieldByName(QStringLiteral("isElectrical")).asBoolean());
    }

    void lookupShowsTheListFieldAndWritesTheKey() {
        auto* lookup = w->add<TDBLookupComboBox>(&f->source, QStringLiteral("ItemGroup"));
        lookup->setListSource(&f->groupSource, QStringLiteral("GroupNumber"), QStringLiteral("Description"));
        lookup->setListWidth(300);
        w->show();
        QSignalSpy changes(lookup, &TDBLookupComboBox::userChanged);

        QCOMPARE(lookup->count(), 2);
        QCOMPARE(lookup->currentText(), QStringLiteral("Kitchen")); // stored 'klt' matches 'KLT'
        QCOMPARE(lookup->keyValue(), QStringLiteral("KLT"));
        f->ds.next();
        QCOMPARE(lookup->currentText(), QStringLiteral("Computers"));
        f->ds.prior();
        QCOMPARE(changes.size(), 0);
        QCOMPARE(f->ds.state(), Dataset::State::Browse);

        focus(lookup);
        QTest::keyClick(lookup, Qt::Key_Down);
        QCOMPARE(lookup->currentText(), QStringLiteral("Computers"));
        QCOMPARE(changes.size(), 1);
        QCOMPARE(f->ds.state(), Dataset::State::Edit);
        QCOMPARE(f->ds.fieldByName(QStringLiteral("ItemGroup")).asString(), QStringLiteral("PC"));
        f->ds.post();
        QCOMPARE(f->stored(QStringLiteral("ItemGroup")), QStringLiteral("PC"));

        // A key no item has shows no selection.
        f->ds.edit();
        f->ds.fieldByName(QStringLiteral("ItemGroup")).setAsString(QStringLiteral("ZZZ"));
        QCOMPARE(lookup->currentIndex(), -1);
        QCOMPARE(lookup->keyValue(), QString());
        QCOMPARE(changes.size(), 1);
    }

    void lookupFollowsItsListDataset() {
        auto* lookup = w->add<TDBLookupComboBox>(&f->source, QStringLiteral("ItemGroup"));
        lookup->setListSource(&f->groupSource, QStringLiteral("GroupNumber"), QStringLiteral("Description"));
        QCOMPARE(lookup->count(), 2);

        f->groups.close();
        QCOMPARE(lookup->count(), 0);
        f->reg.exec(QStringLiteral("INSERT INTO Groups (GroupNumber, Description) VALUES ('AV', 'Audio visual')"));
        f->groups.open();
        QCOMPARE(lookup->count(), 3);
        QCOMPARE(lookup->itemText(0), QStringLiteral("Audio visual"));
        QCOMPARE(lookup->currentText(), QStringLiteral("Kitchen"));

        // A group added through the list dataset appears once it is posted.
        f->groups.append();
        f->groups.fieldByName(QStringLiteral("GroupNumber")).setAsString(QStringLiteral("OF"));
        f->groups.fieldByName(QStringLiteral("Description")).setAsString(QStringLiteral("Office"));
        QCOMPARE(lookup->count(), 3);
        f->groups.post();
        QCOMPARE(lookup->count(), 4);
        QCOMPARE(lookup->itemText(3), QStringLiteral("Office"));
        QCOMPARE(lookup->currentText(), QStringLiteral("Kitchen"));
    }

    void textLabelShowsTheFieldWithoutTakingFocus() {
        auto* label = w->add<TDBText>(&f->source, QStringLiteral("ASSETID"));
        QCOMPARE(label->text(), QStringLiteral("KLT001"));
        QCOMPARE(label->focusPolicy(), Qt::NoFocus);
        f->ds.next();
        QCOMPARE(label->text(), QStringLiteral("PC001"));
        f->ds.append();
        QCOMPARE(label->text(), QString());
        f->ds.fieldByName(QStringLiteral("ASSETID")).setAsString(QStringLiteral("<b>NEW</b>"));
        QCOMPARE(label->text(), QStringLiteral("<b>NEW</b>"));
        QCOMPARE(label->textFormat(), Qt::PlainText);
    }

    void everyControlEntersAndLeavesAlike_data() {
        QTest::addColumn<QString>("kind");
        for (const char* kind : {"edit", "combo box", "check box", "lookup"}) {
            QTest::newRow(kind) << QString::fromLatin1(kind);
        }
    }

    // Entering, leaving and hiding are shared by every control that takes the focus: a focus moved in enters,
    // moved out leaves, and a control hidden with its window is entered afresh when the window shows again,
    // without having been left.
    void everyControlEntersAndLeavesAlike() {
        QFETCH(QString, kind);
        QLineEdit* other = w->addPlainEdit();
        QWidget* control = addControl(*w, *f, kind);
        QSignalSpy entered(control, SIGNAL(entered()));
        QSignalSpy exited(control, SIGNAL(exited()));
        QVERIFY(entered.isValid() && exited.isValid());
        w->show();
        focus(other);
        QCOMPARE(entered.size(), 0);

        control->setFocus(Qt::TabFocusReason);
        QCOMPARE(entered.size(), 1);
        other->setFocus(Qt::TabFocusReason);
        QCOMPARE(exited.size(), 1);

        control->setFocus(Qt::TabFocusReason);
        QCOMPARE(entered.size(), 2);
        w->window.hide();
        QCOMPARE(exited.size(), 1);
        w->show();
        QVERIFY(control->hasFocus());
        QCOMPARE(entered.size(), 3);
        QCOMPARE(exited.size(), 1);
        QCOMPARE(f->ds.state(), Dataset::State::Browse);
    }

    void readOnlyDropDownsRefuseWheelListAndKeys_data() {
        QTest::addColumn<QString>("kind");
        QTest::newRow("combo box") << QStringLiteral("combo box");
        QTest::newRow("lookup") << QStringLiteral("lookup");
    }

    // A read-only drop-down takes the focus, but no click opens its list and neither the wheel, the list keys nor a
    // typed letter change what it shows or tell of a choice; made writable again, the same wheel turn does.
    void readOnlyDropDownsRefuseWheelListAndKeys() {
        QFETCH(QString, kind);
        auto* other = w->addPlainEdit();
        auto* box = static_cast<QComboBox*>(addControl(*w, *f, kind));
        const bool lookup = kind == QLatin1String("lookup");
        std::optional<QSignalSpy> changes; // only a lookup tells of the user's choice
        if (lookup) {
            changes.emplace(box, SIGNAL(userChanged()));
        }
        auto setReadOnly = [&](bool on) {
            if (auto* combo = qobject_cast<TDBComboBox*>(box)) {
                combo->setReadOnly(on);
            } else {
                qobject_cast<TDBLookupComboBox*>(box)->setReadOnly(on);
            }
        };
        setReadOnly(true);
        w->show();
        focus(other);
        const QString shown = box->currentText();

        QTest::mouseClick(box, Qt::LeftButton);
        QVERIFY(box->hasFocus());
        QVERIFY(!box->view()->isVisible());
        for (Qt::Key key : {Qt::Key_Down, Qt::Key_PageDown, Qt::Key_End, Qt::Key_F4}) {
            QTest::keyClick(box, key);
        }
        QTest::keyClicks(box, QStringLiteral("c"));
        QVERIFY(!box->view()->isVisible());
        QWheelEvent wheel(QPointF(5, 5), box->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, -120), Qt::NoButton,
                          Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(box, &wheel);
        QCOMPARE(box->currentText(), shown);
        QCOMPARE(f->ds.state(), Dataset::State::Browse);
        QVERIFY(!changes || changes->isEmpty());

        setReadOnly(false);
        QApplication::sendEvent(box, &wheel);
        QVERIFY(box->currentText() != shown);
        QCOMPARE(f->ds.state(), Dataset::State::Edit);
        if (lookup) {
            QCOMPARE(shown, QStringLiteral("Kitchen"));
            QCOMPARE(box->currentText(), QStringLiteral("Computers"));
            QCOMPARE(changes->size(), 1);
        }
    }
};

QTEST_MAIN(TestDBControls)
#include "tst_dbcontrols.moc"
