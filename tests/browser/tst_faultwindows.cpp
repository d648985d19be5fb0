// The whole program with a failing disk, driven through its windows: for each change a user makes (saving
// an edited asset, adding one, writing one off, Ctrl+Delete, configuration OK) and a few ways the disk can
// fail, the error is shown in plain words naming the register, nothing claims the change was saved, the
// window stays open with what was typed, and once the disk works the same button saves it.
#include "app/session.h"
#include "browser/main.h"
#include "data/datamodule.h"
#include "data/errors.h"
#include "program/startup.h"
#include "tests/support/appfixture.h"
#include "tests/support/faultvfs.h"
#include "tests/support/guitest.h"
#include "tests/support/registercheck.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QtTest>

using namespace Qt::StringLiterals;
using Fault = FaultVfs::Fault;

namespace {

// The texts the program shows when a change was saved.
const QStringList kSavedTexts{u"Item now written off in Vantrel. Please dispose of item"_s,
                              u"Don't forget to engrave"_s};

QString shownText(QWidget* w) {
    if (auto* box = qobject_cast<QComboBox*>(w)) {
        return box->currentText();
    }
    if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        return edit->text();
    }
    return QString();
}

// The window's controls, by name, and what is typed into each.
using Typing = QList<QPair<QString, QString>>;

} // namespace

class TestFaultWindows : public QObject {
    Q_OBJECT

    std::unique_ptr<AppFixture> f;
    std::unique_ptr<FaultVfs> vfs;
    Tmainfrm* w = nullptr;
    RegisterContents before;
    QString problem;  // what went wrong inside a modal driver, checked once it returns
    int measured = 0; // operations of the fault's kind a change made on a sound disk

    RegisterContents stored(QString* integrity) {
        Connection c;
        try {
            c.openFile(f->reg().path(), u"kivelor"_s);
        } catch (const DatabaseError& e) {
            *integrity = u"refused at opening: "_s + e.text();
            return {};
        }
        *integrity = integrityCheck(c);
        return registerContents(c);
    }

    // After the failing press: one error naming the register in plain words, and no word of success.
    void checkFailureShown(qsizetype messagesBefore) {
        const auto& shown = DialogScript::messages();
        QStringList errors;
        for (size_t i = static_cast<size_t>(messagesBefore); i < shown.size(); ++i) {
            for (const QString& saved : kSavedTexts) {
                if (shown[i].text.startsWith(saved)) {
                    problem += u"reported as saved: "_s + shown[i].text + u'\n';
                }
            }
            if (shown[i].icon == MessageIcon::Error) {
                errors << shown[i].text;
            }
        }
        if (errors.size() != 1) {
            problem += u"%1 errors shown: %2\n"_s.arg(errors.size()).arg(errors.join(u" | "_s));
            return;
        }
        if (!errors[0].contains(u"vnrdata.mdb"_s) || errors[0].size() < 40) {
            problem += u"the error does not say plainly what happened to the register: "_s + errors[0] + u'\n';
        }
    }

    // Inside a modal window: types, presses confirm with the disk failing, checks, then presses it again.
    void failThenSave(QDialog& d, const Typing& typing, const QString& confirm, Fault fault, int n, bool persistent,
                      bool adding) {
        for (const auto& [name, text] : typing) {
            QWidget* control = d.findChild<QWidget*>(name);
            if (!control) {
                problem += u"no control "_s + name + u'\n';
                d.reject();
                return;
            }
            typeInto(control, text);
        }
        auto* button = d.findChild<QPushButton*>(confirm);
        if (n == 0) {
            // Measuring: the change saved on a sound disk, counting its operations.
            vfs->resetCounts();
            if (adding) {
                DialogScript::setNextAnswer(Answer::No);
            }
            button->click();
            measured = vfs->count(FaultVfs::operationOf(fault));
            return;
        }
        const qsizetype messagesBefore = static_cast<qsizetype>(DialogScript::messages().size());
        vfs->arm(fault, n, persistent);
        button->click();
        const int injected = vfs->injected();
        vfs->disarm();
        if (injected == 0) {
            problem += u"the fault was never reached\n"_s;
        }
        checkFailureShown(messagesBefore);
        if (!d.isVisible()) {
            problem += u"the window closed after the failure\n"_s;
            return;
        }
        for (const auto& [name, text] : typing) {
            const QString now = shownText(d.findChild<QWidget*>(name));
            if (now != text) {
                problem += u"%1 shows '%2' instead of the typed '%3'\n"_s.arg(name, now, text);
            }
        }
        checkStoredIsBefore();
        if (adding) {
            DialogScript::setNextAnswer(Answer::No); // "add another item?"
        }
        button->click();
        if (d.isVisible()) {
            problem += u"the window did not close when saving again: "_s + messageTexts().join(u" | "_s) + u'\n';
            d.reject();
        }
    }

    // The register as another program sees it meanwhile: sound, and not changed halfway.
    void checkStoredIsBefore() {
        QString integrity;
        const RegisterContents now = stored(&integrity);
        if (integrity != u"ok"_s) {
            problem += u"integrity_check after the failure: "_s + integrity + u'\n';
        } else if (now != before) {
            problem += u"the failed change left the register changed:\n"_s + contentDifferences(before, now) + u'\n';
        }
    }

private slots:
    void initTestCase() { DialogScript::enable(); }

    void init() {
        DialogScript::reset();
        problem.clear();
        f = std::make_unique<AppFixture>();
        TestRegister& r = f->reg();
        r.exec(u"UPDATE System SET CompanyName = 'Kelton Trust', CompanyAbbr = 'KLT', DataBasePassword = 'secret'"_s);
        r.exec(u"INSERT INTO Groups (GroupNumber, Description) VALUES ('1', 'Laptops'), ('3', 'Chairs')"_s);
        r.exec(u"WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 40) "
               "INSERT INTO assets (ASSETID, ItemGroup, Make, Description, TotalCost) SELECT 'KLT1' || "
               "substr('00' || i, -3), '1', 'Make ' || i, 'Item number ' || i, i * 10.25 FROM n"_s);
        r.side().close();
        QString integrity;
        before = stored(&integrity);
        // The program's connection must be opened through the failing layer, so it is installed first.
        vfs = std::make_unique<FaultVfs>(r.folder());
        QCOMPARE(f->start(), std::nullopt);
        f->app().session.LoggedOn = true;
        w = f->app().mainfrm.get();
        w->show();
        QVERIFY(w->data.mainquery.locate(u"ASSETID"_s, u"KLT1020"_s));
    }

    void cleanup() {
        QVERIFY(DialogScript::unexpectedModals().empty());
        w = nullptr;
        f.reset();
        vfs.reset();
    }

    void measure(const QString& change, Fault fault) {
        measured = 0;
        if (change == u"delete"_s) {
            w->DBGrid1->setFocus();
            DialogScript::setNextAnswer(Answer::Ok);
            vfs->resetCounts();
            QTest::keyClick(w->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
            measured = vfs->count(FaultVfs::operationOf(fault));
            return;
        }
        const bool adding = change == u"add"_s;
        DialogScript::setNextModal(
            [=, this](QDialog& d) { failThenSave(d, typingOf(change), confirmOf(change), fault, 0, false, adding); });
        toolButtonOf(change)->click();
    }

    static Typing typingOf(const QString& change) {
        if (change == u"edit"_s) {
            return {{u"DBEdit2"_s, u"Lenovo"_s}, {u"DBEdit5"_s, u"Laptop, spare"_s}, {u"DBEdit7"_s, u"1899.95"_s}};
        }
        if (change == u"add"_s) {
            return {{u"DBEdit2"_s, u"Dell"_s}, {u"DBEdit5"_s, u"Docking station"_s}};
        }
        if (change == u"write-off"_s) {
            return {{u"DBEdit15"_s, u"J. Ferreira"_s}, {u"DBEdit17"_s, u"12.5"_s}, {u"DBComboBox1"_s, u"Stolen"_s}};
        }
        return {{u"DBEdit1"_s, u"Kelton Community Trust"_s},
                {u"DBEdit2"_s, u"KCT"_s},
                {u"Group2Name"_s, u"Monitors"_s},
                {u"Group1Name"_s, u"Notebooks"_s}};
    }

    static QString confirmOf(const QString& change) {
        return change == u"edit"_s || change == u"add"_s ? u"OKBTN"_s : u"BitBtn1"_s;
    }

    QToolButton* toolButtonOf(const QString& change) const {
        return change == u"edit"_s        ? w->ToolButton2
               : change == u"add"_s       ? w->ToolButton1
               : change == u"write-off"_s ? w->ToolButton3
                                          : w->ToolButton5;
    }

    void failedChangeIsShownAndKept_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("n");
        QTest::addColumn<bool>("persistent");
        const struct {
            const char* name;
            Fault fault;
            int n;
            bool persistent;
        } faults[] = {
            {"first write", Fault::WriteError, 1, false},  {"every write", Fault::WriteError, 1, true},
            {"disk full", Fault::DiskFull, 3, true},       {"journal sync", Fault::SyncError, 1, false},
            {"register sync", Fault::SyncError, 3, false}, {"every sync from the second", Fault::SyncError, 2, true},
            {"last sync", Fault::SyncError, -1, false},    {"last write", Fault::WriteError, -1, false},
        };
        for (const char* change : {"edit", "add", "write-off", "delete", "configuration"}) {
            for (const auto& x : faults) {
                QTest::addRow("%s, %s", change, x.name)
                    << QString::fromLatin1(change) << static_cast<int>(x.fault) << x.n << x.persistent;
            }
        }
    }

    void failedChangeIsShownAndKept() {
        QFETCH(QString, change);
        QFETCH(int, fault);
        QFETCH(int, n);
        QFETCH(bool, persistent);
        const auto ft = static_cast<Fault>(fault);
        if (n < 0) {
            // The change's last operation of the kind: counted on a sound disk first, then made to fail on a
            // fresh copy of the program. A change saved piece by piece would keep its earlier pieces.
            measure(change, ft);
            n = measured;
            qInfo("%s makes %d operations of the kind on a sound disk", qPrintable(change), n);
            QVERIFY(n > 0);
            cleanup();
            init();
        }
        auto driveWith = [&](const Typing& typing, const QString& confirm) {
            const bool adding = change == u"add"_s;
            DialogScript::setNextModal(
                [=, this](QDialog& d) { failThenSave(d, typing, confirm, ft, n, persistent, adding); });
        };
        if (change != u"delete"_s) {
            driveWith(typingOf(change), confirmOf(change));
            toolButtonOf(change)->click();
        } else {
            Dataset& list = w->data.mainquery;
            const int records = list.recordCount();
            const qsizetype messagesBefore = static_cast<qsizetype>(DialogScript::messages().size());
            w->DBGrid1->setFocus();
            DialogScript::setNextAnswer(Answer::Ok);
            vfs->arm(ft, n, persistent);
            QTest::keyClick(w->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
            const int injected = vfs->injected();
            vfs->disarm();
            QVERIFY2(injected > 0, "the fault was never reached");
            checkFailureShown(messagesBefore);
            QCOMPARE(list.recordCount(), records);
            QCOMPARE(list.fieldByName(u"ASSETID"_s).asString(), u"KLT1020"_s);
            checkStoredIsBefore();
            DialogScript::setNextAnswer(Answer::Ok);
            QTest::keyClick(w->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
            QCOMPARE(list.recordCount(), records - 1);
        }
        QVERIFY2(problem.isEmpty(), qPrintable(problem));
        QCOMPARE(DialogScript::pendingScript(), 0);

        // Saved again once the disk works: the register is sound and differs from before.
        QString integrity;
        const RegisterContents after = stored(&integrity);
        QCOMPARE(integrity, u"ok"_s);
        QVERIFY2(after != before, "saving again stored nothing");
    }
};

QTEST_MAIN(TestFaultWindows)
#include "tst_faultwindows.moc"
