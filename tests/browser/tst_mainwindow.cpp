// The main window as a user drives it: the statement each search writes, searching as one types, the
// guarded commands and their refusals, Ctrl+Delete, and the window's resizing rules.
#include "app/session.h"
#include "browser/main.h"
#include "program/startup.h"
#include "tests/support/appfixture.h"
#include "tests/support/guitest.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QDialog>
#include <QFrame>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QToolButton>
#include <QtTest>
#include <functional>

namespace {

void cancelPassword() {
    DialogScript::setNextModal([](QDialog& d) {
        QCOMPARE(d.objectName(), QStringLiteral("logonfrm"));
        d.findChild<QPushButton*>(QStringLiteral("BitBtn2"))->click();
    });
}

void givePassword(const QString& entry) {
    DialogScript::setNextModal([entry](QDialog& d) {
        QCOMPARE(d.objectName(), QStringLiteral("logonfrm"));
        QTest::keyClicks(d.findChild<QLineEdit*>(QStringLiteral("Password")), entry);
        d.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
    });
}

// Whether command shows the window named name next; it is closed with Escape.
bool opens(const QString& name, const std::function<void()>& command) {
    bool shown = false;
    DialogScript::setNextModal([name, &shown](QDialog& d) {
        shown = d.objectName() == name;
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    command();
    return shown;
}

} // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<AppFixture> f;
    Tmainfrm* w = nullptr;

    QStringList listed() { return columnTexts(w->data.mainquery, QStringLiteral("ASSETID")); }

private slots:
    void initTestCase() { DialogScript::enable(); }

    void init() {
        DialogScript::reset();
        f = std::make_unique<AppFixture>();
        TestRegister& r = f->reg();
        r.exec(QStringLiteral("UPDATE System SET DataBasePassword = 'Secret', CompanyAbbr = 'KLT'"));
        r.exec(QStringLiteral("INSERT INTO Groups VALUES ('1', 'Computers')"));
        r.addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"), QStringLiteral("Description, Borrower, Supplier"),
                   QStringLiteral("'Laptop', 'Zoe', 'Acme'"));
        r.addAsset(QStringLiteral("KLT1002"), QStringLiteral("1"), QStringLiteral("Description, Borrower, Supplier"),
                   QStringLiteral("'OVERLAP tray', 'Adam', 'Zenith'"));
        r.addAsset(QStringLiteral("KLT1003"), QStringLiteral("1"), QStringLiteral("Description, WrittenOff"),
                   QStringLiteral("'Old laptop', 1"));
        r.addAsset(QStringLiteral("KLT1004"), QStringLiteral("1"), QStringLiteral("Description"),
                   QStringLiteral("'12\" monitor  stand'"));
        QCOMPARE(f->start(), std::nullopt);
        w = f->app().mainfrm.get();
        w->show();
    }

    void cleanup() {
        QVERIFY(DialogScript::unexpectedModals().empty());
        QCOMPARE(DialogScript::pendingScript(), 0);
        w = nullptr;
        f.reset();
    }

    void statementForEachSearchField_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("condition");
        QTest::addColumn<QString>("order");
        // The search button's name, the column it searches and orders by.
        for (const auto& [row, field, column] : {std::tuple{"asset id", "assetid", "assetid"},
                                                 {"description", "description", "description"},
                                                 {"serial", "serialnumber", "serialnumber"},
                                                 {"order", "ordernumber", "ordernumber"},
                                                 {"purchased by", "purchasedby", "purchasedby"},
                                                 {"borrowed by", "borrowedby", "borrower"},
                                                 {"supplier", "supplier", "supplier"}}) {
            QTest::newRow(row) << QString::fromLatin1(field) << QStringLiteral("WHERE %1 LIKE").arg(column)
                               << QStringLiteral("ORDER BY %1;").arg(column);
        }
    }
    void statementForEachSearchField() {
        QFETCH(QString, field);
        QFETCH(QString, condition);
        QFETCH(QString, order);
        // Clicking the button already chosen does nothing: choose another one first.
        w->findChild<QRadioButton*>(field == "assetid" ? "supplier" : "assetid")->click();
        w->findChild<QRadioButton*>(field)->click();
        QCOMPARE(w->data.mainquery.sqlLines(), (QStringList{QStringLiteral("SELECT *"), QStringLiteral("FROM Assets"),
                                                            QStringLiteral("WHERE Writtenoff <> TRUE"), order}));
        QTest::keyClicks(w->details, QStringLiteral("lap"));
        QCOMPARE(w->data.mainquery.sqlLines(),
                 (QStringList{QStringLiteral("SELECT *"), QStringLiteral("FROM Assets"), condition + " \"%lap%\" ",
                              QStringLiteral("AND Writtenoff <> TRUE"), order}));
        w->incWriteOff->click();
        QCOMPARE(w->data.mainquery.sqlLines(), (QStringList{QStringLiteral("SELECT *"), QStringLiteral("FROM Assets"),
                                                            condition + " \"%lap%\" ", order}));
        w->details->clear();
        QCOMPARE(w->data.mainquery.sqlLines(),
                 (QStringList{QStringLiteral("SELECT *"), QStringLiteral("FROM Assets"), order}));
    }

    void searchingAsOneTypes() {
        w->description->click();
        QCOMPARE(listed(), (QStringList{"KLT1004", "KLT1001", "KLT1002"}));
        QTest::keyClick(w->details, Qt::Key_L);
        QCOMPARE(listed(), (QStringList{"KLT1001", "KLT1002"})); // Laptop, OVERLAP tray
        QTest::keyClicks(w->details, QStringLiteral("ap"));
        QCOMPARE(listed(), (QStringList{"KLT1001", "KLT1002"}));
        w->incWriteOff->click();
        QCOMPARE(listed(), (QStringList{"KLT1001", "KLT1003", "KLT1002"}));
        QTest::keyClick(w->details, Qt::Key_Backspace);
        QTest::keyClick(w->details, Qt::Key_Backspace);
        QTest::keyClick(w->details, Qt::Key_Backspace);
        QCOMPARE(w->data.mainquery.recordCount(), 4);
        QCOMPARE(w->data.mainquery.recNo(), 0);
    }

    // What a search lists, in its order: blanks are searched as typed, a double quote is a letter searched for
    // and never ends the statement's text, a percent sign stays a wildcard.
    void searchListsWhatIsTyped_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QStringList>("expected");
        const auto row = [](const char* name, const QString& button, const QString& typed,
                            const QStringList& expected) { QTest::newRow(name) << button << typed << expected; };
        row("blanks", "description", "  ", QStringList{"KLT1004"});
        row("borrowers, nothing typed", "borrowedby", QString(), QStringList{"KLT1004", "KLT1002", "KLT1001"});
        row("borrower", "borrowedby", "zo", QStringList{"KLT1001"});
        row("double quote", "description", "12\" mon", QStringList{"KLT1004"});
        row("double quote closing the text", "description", "12\" mon\" OR \"\"=\"", QStringList());
        row("percent", "description", "o%t", QStringList{"KLT1004", "KLT1002"});
    }
    void searchListsWhatIsTyped() {
        QFETCH(QString, button);
        QFETCH(QString, typed);
        QFETCH(QStringList, expected);
        w->findChild<QRadioButton*>(button)->click();
        QTest::keyClicks(w->details, typed);
        QVERIFY(DialogScript::messages().empty());
        QCOMPARE(listed(), expected);
    }

    void refusedGuardsChangeNothing_data() {
        QTest::addColumn<QString>("button");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("add") << "ToolButton1"
                             << "You cannot add an item unless you enter the correct password";
        QTest::newRow("write off") << "ToolButton3"
                                   << "You cannot write off this item unless you enter the correct password";
        QTest::newRow("configuration") << "ToolButton5"
                                       << "You cannot enter configuration unless you enter the correct password";
    }
    void refusedGuardsChangeNothing() {
        QFETCH(QString, button);
        QFETCH(QString, refusal);
        cancelPassword();
        w->findChild<QToolButton*>(button)->click();
        QCOMPARE(DialogScript::messages().size(), size_t(1));
        QCOMPARE(DialogScript::messages()[0].text, refusal);
        QCOMPARE(w->data.mainquery.state(), Dataset::State::Browse);
        QCOMPARE(w->data.mainquery.recordCount(), 3);
        QCOMPARE(f->reg().count(QStringLiteral("SELECT COUNT(*) FROM assets WHERE WrittenOff = 0")), 3);
        QVERIFY(!f->app().session.LoggedOn);
    }

    void afterOnePasswordTheGuardsOpenAtOnce() {
        givePassword(QStringLiteral("SECRET"));
        QVERIFY(opens(QStringLiteral("cfgFrm"), [this] { w->ToolButton5->click(); }));
        QVERIFY(f->app().session.LoggedOn);
        QCOMPARE(w->windowTitle(), QStringLiteral("Vantrel"));
        QVERIFY(opens(QStringLiteral("writeofffrm"), [this] { w->ToolButton3->click(); }));
        QVERIFY(opens(QStringLiteral("assdetfrm"), [this] { w->ToolButton1->click(); }));
        QCOMPARE(w->data.mainquery.recordCount(), 3); // the unsaved new asset is discarded on closing
    }

    void browsingCommandsNeverAskThePassword() {
        const auto click = [](QAbstractButton* b) { return [b] { b->click(); }; };
        const std::pair<const char*, std::function<void()>> commands[] = {
            {"assdetfrm", click(w->ToolButton2)},
            {"assdetfrm",
             [this] {
                 QTest::mouseDClick(w->DBGrid1->viewport(), Qt::LeftButton, {},
                                    w->DBGrid1->visualRect(w->DBGrid1->model()->index(0, 0)).center());
             }},
            {"printfrm", click(w->ToolButton4)},
            {"assetreportsfrm", click(w->ToolButton7)},
            {"labelsWindow", click(w->labelsButton)},
            {"stockTakeWindow", click(w->stockTakeButton)},
        };
        for (const auto& [window, command] : commands) {
            QVERIFY2(opens(QLatin1String(window), command), window);
        }
        QVERIFY(!f->app().session.LoggedOn);
    }

    void emptyListHasNoAssetToEditOrWriteOff() {
        QTest::keyClicks(w->details, QStringLiteral("no such asset"));
        QCOMPARE(w->data.mainquery.recordCount(), 0);
        w->ToolButton2->click();
        w->ToolButton3->click();
        QCOMPARE(DialogScript::messages().size(), size_t(2));
        QCOMPARE(DialogScript::messages()[0].text, QStringLiteral("There is no asset selected"));
        QCOMPARE(DialogScript::messages()[1].text, QStringLiteral("There is no asset selected"));
    }

    void ctrlDeleteIsGuardedAndConfirmed() {
        w->DBGrid1->setFocus();
        cancelPassword();
        QTest::keyClick(w->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(DialogScript::messages().back().text,
                 QStringLiteral("You cannot delete an item unless you enter the correct password"));
        QCOMPARE(w->data.mainquery.recordCount(), 3);

        givePassword(QStringLiteral("secret"));
        DialogScript::setNextAnswer(Answer::Cancel);
        QTest::keyClick(w->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(DialogScript::messages().back().text, QStringLiteral("Delete record?"));
        QCOMPARE(w->data.mainquery.recordCount(), 3);

        DialogScript::setNextAnswer(Answer::Ok);
        QTest::keyClick(w->DBGrid1, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(listed(), (QStringList{"KLT1002", "KLT1004"}));
        QCOMPARE(f->reg().count(QStringLiteral("SELECT COUNT(*) FROM assets WHERE ASSETID = 'KLT1001'")), 0);
    }

    void exitClosesTheMainWindow() {
        QSignalSpy closed(w, &Tmainfrm::closed);
        w->ToolButton6->click();
        QCOMPARE(closed.count(), 1);
        QVERIFY(!w->isVisible());
    }

    void resizingGrowsOnlyTheList() {
        w->resize(1127, 508);
        const QSize panel = w->Panel1->size();
        const QSize bar = w->ToolBar1->size();
        const QSize grid = w->DBGrid1->size();
        w->resize(1427, 708);
        QCOMPARE(w->Panel1->size(), panel);
        QCOMPARE(w->ToolBar1->size(), bar);
        QCOMPARE(w->DBGrid1->size(), grid + QSize(300, 200));
        for (const QWidget* centred : {static_cast<QWidget*>(w->Panel1), static_cast<QWidget*>(w->ToolBar1)}) {
            const int left = centred->x();
            const int right = w->width() - centred->x() - centred->width();
            QVERIFY2(std::abs(left - right) <= 1, qPrintable(centred->objectName()));
        }
        QCOMPARE(w->ToolBar1->geometry().bottom() + 18 + 1, w->height());
    }

    void listColumnsAndCaptions() {
        QStringList titles;
        for (const GridColumn& c : w->DBGrid1->columns()) {
            titles << c.title;
        }
        QCOMPARE(titles, (QStringList{"Asset ID", "Make", "Model", "Serial", "Description", "Supplier", "Order"}));
        QStringList captions;
        for (QToolButton* b : {w->ToolButton1, w->ToolButton2, w->ToolButton3, w->ToolButton4, w->ToolButton7,
                               w->ToolButton5, w->ToolButton6}) {
            captions << b->text();
        }
        QCOMPARE(captions, (QStringList{"Add New Asset(s)", "Edit Asset", "Write Off", "Print", "Reports",
                                        "Configuration", "Exit Database"}));
    }

    // Labels stands after Reports and Stock-take after Labels, in the toolbar's look: the designed buttons keep
    // their order, and the whole toolbar shows in the window's smallest size.
    void labelsAndStockTakeStandAfterReports() {
        QList<QToolButton*> bar = w->ToolBar1->findChildren<QToolButton*>();
        std::sort(bar.begin(), bar.end(), [](QToolButton* a, QToolButton* b) { return a->x() < b->x(); });
        QStringList names;
        for (QToolButton* b : bar) {
            names << b->objectName();
            QCOMPARE(b->size(), w->ToolButton7->size());
            QVERIFY(w->ToolBar1->rect().contains(b->geometry()));
        }
        QCOMPARE(names, (QStringList{"ToolButton1", "ToolButton2", "ToolButton3", "ToolButton4", "ToolButton7",
                                     "labelsButton", "stockTakeButton", "ToolButton5", "ToolButton6"}));
        QCOMPARE(w->labelsButton->text(), QStringLiteral("Labels"));
        QCOMPARE(w->stockTakeButton->text(), QStringLiteral("Stock-take"));
        QVERIFY(showsPicture(w->labelsButton, QStringLiteral("labels.svg")));
        QVERIFY(showsPicture(w->stockTakeButton, QStringLiteral("stocktake.svg")));
        w->resize(w->minimumSize());
        QVERIFY(w->rect().contains(w->ToolBar1->geometry()));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
