// Tests of the data-bound grid: its columns with and without definitions, its rows following the dataset's
// inserts and deletes, the current row following the dataset both ways (and held back during a walk), the
// text of typed values, and a large dataset shown without reading it whole.
#include "data/errors.h"
#include "tests/support/assetlist.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QHeaderView>
#include <QLocale>
#include <QSignalSpy>
#include <QtTest>
#include <memory>

namespace {

struct Fixture : AssetList {
    void addAssets(int count) {
        for (int i = 1; i <= count; ++i) {
            reg.addAsset(QStringLiteral("KLT%1").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("KLT"),
                         QStringLiteral("Description"), QStringLiteral("'Item %1'").arg(i));
        }
    }
};

QString cell(const TDBGrid& grid, int row, int column) {
    return grid.model()->index(row, column).data().toString();
}

QStringList titles(const TDBGrid& grid) {
    QStringList result;
    for (int i = 0; i < grid.model()->columnCount(); ++i) {
        result << grid.model()->headerData(i, Qt::Horizontal).toString();
    }
    return result;
}

QPoint rowCentre(const TDBGrid& grid, int row) {
    return grid.visualRect(grid.model()->index(row, 0)).center();
}

void showAndActivate(QWidget& w) {
    w.resize(800, 600);
    w.show();
    QApplication::setActiveWindow(&w);
    QVERIFY(QTest::qWaitForWindowExposed(&w));
}

} // namespace

class TestDBGrid : public QObject {
    Q_OBJECT

    std::unique_ptr<Fixture> f; // every test's register

private slots:
    void initTestCase() {
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        DialogScript::enable();
    }

    void init() {
        DialogScript::reset();
        f = std::make_unique<Fixture>();
    }

    void cleanup() { f.reset(); }

    void columnsComeFromTheFieldsWhenNoneAreDefined() {
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        QCOMPARE(grid.objectName(), QStringLiteral("DBGrid1"));
        QCOMPARE(grid.dataSource(), &f->source);
        QCOMPARE(grid.model()->columnCount(), 0);

        f->open();
        QCOMPARE(grid.model()->columnCount(), 24);
        QCOMPARE(grid.columns().size(), 24);
        for (int i = 0; i < f->ds.fieldCount(); ++i) {
            QCOMPARE(grid.columns()[i].fieldName, f->ds.fieldDef(i).name);
            QCOMPARE(grid.columns()[i].title, f->ds.fieldDef(i).name);
        }
        QCOMPARE(titles(grid).first(), QStringLiteral("ASSETID"));
        QCOMPARE(titles(grid).last(), QStringLiteral("WrittenDownValue"));

        // Opened again with another select list, the columns are derived afresh.
        f->open(QStringLiteral("Description, ASSETID"));
        QCOMPARE(titles(grid), QStringList({QStringLiteral("Description"), QStringLiteral("ASSETID")}));
        QCOMPARE(grid.columns().size(), 2);
        QCOMPARE(grid.columns()[1].fieldName, QStringLiteral("ASSETID"));

        f->ds.close();
        QCOMPARE(grid.model()->columnCount(), 0);
        QCOMPARE(grid.model()->rowCount(), 0);
    }

    void definedColumnsKeepTheirOrderTitlesAndWidths() {
        f->addAssets(2);
        TDBGrid grid(QStringLiteral("Query2Grid"), &f->source);
        grid.setColumns({{QStringLiteral("Description"), QStringLiteral("What it is"), 180},
                         {QStringLiteral("ASSETID"), QString(), 70},
                         {QStringLiteral("NoSuchField"), QStringLiteral("Missing"), 50}});
        QCOMPARE(titles(grid),
                 QStringList({QStringLiteral("What it is"), QStringLiteral("ASSETID"), QStringLiteral("Missing")}));

        f->open();
        QCOMPARE(grid.model()->columnCount(), 3);
        QCOMPARE(grid.columns()[1].title, QStringLiteral("ASSETID")); // a column without a title shows its field's name
        QCOMPARE(grid.horizontalHeader()->sectionSize(0), 180);
        QCOMPARE(grid.horizontalHeader()->sectionSize(1), 70);
        QCOMPARE(cell(grid, 0, 0), QStringLiteral("Item 1"));
        QCOMPARE(cell(grid, 1, 1), QStringLiteral("KLT002"));
        QCOMPARE(cell(grid, 0, 2), QString()); // a field the dataset does not have shows nothing

        grid.setColumns({});
        QCOMPARE(grid.model()->columnCount(), 24);
    }

    void aDraggedWidthSurvivesReopening() {
        f->addAssets(1);
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        grid.setColumns({{QStringLiteral("ASSETID"), QStringLiteral("Asset"), 90}});
        f->open();
        grid.horizontalHeader()->resizeSection(0, 140); // as dragging the title's edge does
        f->open();
        QCOMPARE(grid.horizontalHeader()->sectionSize(0), 140);
        QCOMPARE(grid.columns()[0].width, 140);
    }

    void rowsFollowInsertCancelAppendAndDelete() {
        f->addAssets(3);
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        QAbstractItemModelTester tester(grid.model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        f->open(QStringLiteral("ASSETID, Description"));
        QCOMPARE(grid.model()->rowCount(), 3);

        f->ds.moveTo(1);
        f->ds.insert();
        QCOMPARE(grid.model()->rowCount(), 4);
        QCOMPARE(cell(grid, 1, 0), QString());
        QCOMPARE(cell(grid, 2, 0), QStringLiteral("KLT002"));
        QCOMPARE(grid.currentIndex().row(), 1);

        f->ds.cancel();
        QCOMPARE(grid.model()->rowCount(), 3);
        QCOMPARE(cell(grid, 1, 0), QStringLiteral("KLT002"));

        f->ds.append();
        QCOMPARE(grid.model()->rowCount(), 4);
        QCOMPARE(grid.currentIndex().row(), 3);
        f->ds.fieldByName(QStringLiteral("ASSETID")).setAsString(QStringLiteral("KLT009"));
        QCOMPARE(cell(grid, 3, 0), QStringLiteral("KLT009")); // the record being typed shows as it is typed
        f->ds.post();
        QCOMPARE(grid.model()->rowCount(), 4);
        QCOMPARE(cell(grid, 3, 0), QStringLiteral("KLT009"));

        f->ds.moveTo(0);
        f->ds.deleteRecord();
        QCOMPARE(grid.model()->rowCount(), 3);
        QCOMPARE(cell(grid, 0, 0), QStringLiteral("KLT002"));
        QCOMPARE(grid.currentIndex().row(), 0);
        QCOMPARE(f->reg.count(QStringLiteral("SELECT COUNT(*) FROM assets")), 3LL);
    }

    void clickingARowMakesItsRecordCurrent() {
        f->addAssets(5);
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        f->open();
        showAndActivate(grid);

        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, rowCentre(grid, 2));
        QCOMPARE(f->ds.recNo(), 2);
        QCOMPARE(f->ds.fieldByName(QStringLiteral("ASSETID")).asString(), QStringLiteral("KLT003"));
        // The keys then move on from the clicked row (keysMoveBetweenRecordsOnly).
        QCOMPARE(grid.currentIndex().row(), 2);
        QVERIFY(DialogScript::messages().empty());
    }

    void keysMoveBetweenRecordsOnly_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<int>("presses");
        QTest::addColumn<int>("row"); // the current record afterwards; the grid starts on record 30 of 60
        QTest::newRow("Down") << int(Qt::Key_Down) << 0 << 1 << 31;
        QTest::newRow("Up") << int(Qt::Key_Up) << 0 << 2 << 28;
        QTest::newRow("Home") << int(Qt::Key_Home) << 0 << 1 << 0;
        QTest::newRow("End") << int(Qt::Key_End) << 0 << 1 << 59;
        QTest::newRow("Ctrl+Home") << int(Qt::Key_Home) << int(Qt::ControlModifier) << 1 << 0;
        QTest::newRow("Tab seven times") << int(Qt::Key_Tab) << 0 << 7 << 30;
        QTest::newRow("Shift+Tab seven times") << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << 7 << 30;
        QTest::newRow("Right seven times") << int(Qt::Key_Right) << 0 << 7 << 30;
        QTest::newRow("Left") << int(Qt::Key_Left) << 0 << 1 << 30;
    }

    // Rows are selected whole, so no key moves from cell to cell: the keys that move change the current
    // record, Tab leaves the grid (here, alone in its window, the focus stays), and Left and Right only scroll.
    void keysMoveBetweenRecordsOnly() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(int, presses);
        QFETCH(int, row);
        f->addAssets(60);
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        f->open();
        showAndActivate(grid);
        grid.setFocus();
        f->ds.moveTo(30);
        QCOMPARE(grid.currentIndex().row(), 30);
        const int column = grid.currentIndex().column();
        for (int i = 0; i < presses; ++i) {
            QTest::keyClick(&grid, Qt::Key(key), Qt::KeyboardModifiers(modifiers));
        }
        QCOMPARE(f->ds.recNo(), row);
        QCOMPARE(grid.currentIndex().row(), row);
        QCOMPARE(grid.currentIndex().column(), column);
        QVERIFY(DialogScript::messages().empty());
    }

    void movingTheDatasetSelectsTheRow() {
        f->addAssets(60);
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        f->open();
        showAndActivate(grid);
        QCOMPARE(grid.currentIndex().row(), 0);

        f->ds.last();
        QCOMPARE(grid.currentIndex().row(), 59);
        const QModelIndexList selected = grid.selectionModel()->selectedRows();
        QCOMPARE(selected.size(), 1);
        QCOMPARE(selected.first().row(), 59);
        QVERIFY(grid.viewport()->rect().contains(rowCentre(grid, 59))); // scrolled into view

        f->ds.locate(QStringLiteral("ASSETID"), QStringLiteral("klt010"));
        QCOMPARE(grid.currentIndex().row(), 9);
        QCOMPARE(f->ds.recNo(), 9); // following the dataset did not move it anywhere else
    }

    void aMoveThatCannotPostStaysOnTheEditedRecord() {
        f->addAssets(3);
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        f->open();
        showAndActivate(grid);

        f->ds.edit();
        f->ds.fieldByName(QStringLiteral("Description")).setAsString(QStringLiteral("Mine"));
        // Another program changes the same record meanwhile, so posting this edit is refused.
        f->reg.exec(QStringLiteral("UPDATE assets SET Description = 'Theirs' WHERE ASSETID = 'KLT001'"));

        QTest::mouseClick(grid.viewport(), Qt::LeftButton, {}, rowCentre(grid, 2));
        QCOMPARE(DialogScript::messages().size(), size_t(1));
        QVERIFY(DialogScript::messages()[0].text.contains(QStringLiteral("cannot be located")));
        QCOMPARE(f->ds.recNo(), 0);
        QCOMPARE(f->ds.state(), Dataset::State::Edit);
        QTRY_COMPARE(grid.currentIndex().row(), 0);
        QCOMPARE(grid.selectionModel()->selectedRows().size(), 1);
        QCOMPARE(grid.selectionModel()->selectedRows().first().row(), 0);

        // A double click on another row cannot reach its record either, so it is not reported.
        QSignalSpy doubleClicks(&grid, &TDBGrid::doubleClicked);
        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, rowCentre(grid, 1));
        QCOMPARE(doubleClicks.size(), 0);
        QCOMPARE(DialogScript::messages().size(), size_t(2));
        QCOMPARE(f->ds.recNo(), 0);
    }

    void typedValuesShowInTheirTextForm() {
        f->reg.addAsset(QStringLiteral("KLT001"), QStringLiteral("KLT"),
                        QStringLiteral("DatePurchased, isElectrical, TotalCost, itemBorrowed"),
                        QStringLiteral("'2027-01-01', 1, 12.5, 0"));
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        f->open(QStringLiteral("DatePurchased, isElectrical, TotalCost, itemBorrowed, LastTestTag"));
        QCOMPARE(cell(grid, 0, 0), QStringLiteral("1/1/2027"));
        QCOMPARE(cell(grid, 0, 1), QStringLiteral("True"));
        QCOMPARE(cell(grid, 0, 2), QStringLiteral("12.5"));
        QCOMPARE(cell(grid, 0, 3), QStringLiteral("False"));
        QCOMPARE(cell(grid, 0, 4), QString());
        // Amounts line up on the right, as figures do.
        QCOMPARE(grid.model()->index(0, 2).data(Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
                 int(Qt::AlignRight));
        QCOMPARE(grid.model()->index(0, 0).data(Qt::TextAlignmentRole).toInt() & Qt::AlignHorizontal_Mask,
                 int(Qt::AlignLeft));
    }

    void aLargeDatasetIsReadOnlyAsFarAsItIsShown() {
        // Fewer on a server, where filling the register takes most of the test's time; what is read is the same.
        const int n = testingOnServer() ? 20000 : 100000;
        f->reg.addAssets(QStringLiteral("ASSETID, ItemGroup, Description"), n, [](int i) {
            return QVariantList{QStringLiteral("KLT%1").arg(i, 6, 10, QLatin1Char('0')), QStringLiteral("KLT"),
                                QStringLiteral("Item %1").arg(i)};
        });
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        f->open();
        QCOMPARE(grid.model()->rowCount(), n);
        QCOMPARE(grid.datasetModel()->cellsRead(), 0);

        showAndActivate(grid);
        QCoreApplication::processEvents();
        const qint64 afterShowing = grid.datasetModel()->cellsRead();
        QVERIFY(afterShowing > 0);
        // A screen holds a few dozen rows; reading far more than that would mean the grid walks the dataset.
        QVERIFY2(afterShowing < 200 * 24, qPrintable(QString::number(afterShowing)));

        f->ds.last();
        QCoreApplication::processEvents();
        QCOMPARE(cell(grid, n - 1, 0), QStringLiteral("KLT%1").arg(n, 6, 10, QLatin1Char('0')));
        QVERIFY(grid.datasetModel()->cellsRead() < 2 * 200 * 24);
    }

    // A list that reads the rest of its rows between events shows its first rows at once; whatever happens
    // next, it ends with every row in order and no read lock left for another program to wait on.
    void aLongListShowsItsFirstRowsAndReadsTheRestBetweenEvents_data() {
        QTest::addColumn<QString>("then");
        for (const char* then : {"events run", "the view scrolled to its end", "Ctrl+End", "an edit is saved",
                                 "the list is closed", "another client saves first", "the rest cannot be read"}) {
            QTest::newRow(then) << QString::fromLatin1(then);
        }
    }
    void aLongListShowsItsFirstRowsAndReadsTheRestBetweenEvents() {
        QFETCH(QString, then);
        const int n = 5000;
        f->reg.addAssets(QStringLiteral("ASSETID, ItemGroup, Description"), n, [](int i) {
            return QVariantList{QStringLiteral("KLT%1").arg(i, 6, 10, QLatin1Char('0')), QStringLiteral("KLT"),
                                QStringLiteral("Item %1").arg(i)};
        });
        const auto id = [](int row) { return QStringLiteral("KLT%1").arg(row + 1, 6, 10, QLatin1Char('0')); };
        f->ds.setReadRestBetweenEvents(true);
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        f->open();
        QVERIFY(grid.model()->rowCount() < n);
        QCOMPARE(cell(grid, 0, 0), id(0));
        showAndActivate(grid);
        if (then == u"events run") {
            // A server holds no lock for the rest, and is asked for it only when it is needed.
            if (testingOnServer()) {
                QTest::qWait(50);
                QVERIFY(grid.model()->rowCount() < n);
                QCOMPARE(f->ds.recordCount(), n);
            }
            QTRY_COMPARE(grid.model()->rowCount(), n);
        } else if (then == u"another client saves first") {
            if (!testingOnServer()) {
                QSKIP("a file's list holds its read lock until its rows are read");
            }
            // A record leaves the rows shown, another comes into their range, a third after them: the first
            // stays in its place, the second waits for the next search, the third comes last.
            f->reg.exec(QStringLiteral("DELETE FROM assets WHERE ASSETID = 'KLT000010'"));
            for (const char* added : {"KLT000010a", "KLT999999"}) {
                f->reg.exec(QStringLiteral("INSERT INTO assets (ASSETID, ItemGroup) VALUES ('%1', 'KLT')")
                                .arg(QLatin1String(added)));
            }
            QCOMPARE(f->ds.recordCount(), n + 1);
            QCOMPARE(cell(grid, 9, 0), id(9)); // as read before it was deleted
            QCOMPARE(cell(grid, 10, 0), id(10));
            QTRY_COMPARE(grid.model()->rowCount(), n + 1);
            QCOMPARE(cell(grid, n, 0), QStringLiteral("KLT999999"));
            QCOMPARE(cell(grid, n - 1, 0), id(n - 1));
            return;
        } else if (then == u"the rest cannot be read") {
            if (!testingOnServer()) {
                QSKIP("a file's list holds its read lock until its rows are read");
            }
            // Said once, and the list stays as far as it was read rather than passing for the whole result.
            f->reg.exec(QStringLiteral("ALTER TABLE assets RENAME TO assets_away"));
            grid.scrollToBottom();
            QTRY_COMPARE(DialogScript::messages().size(), size_t(1));
            QCOMPARE(grid.model()->rowCount(), 1024);
            QVERIFY_THROWS_EXCEPTION(DatabaseError, f->ds.recordCount());
            f->reg.exec(QStringLiteral("ALTER TABLE assets_away RENAME TO assets"));
            return;
        } else if (then == u"the view scrolled to its end") {
            grid.scrollToBottom();
            QTRY_COMPARE(grid.model()->rowCount(), n);
        } else if (then == u"Ctrl+End") {
            QTest::keyClick(&grid, Qt::Key_End, Qt::ControlModifier);
            QCOMPARE(f->ds.recNo(), n - 1);
        } else if (then == u"an edit is saved") {
            f->ds.edit();
            f->ds.fieldByName(QStringLiteral("Make")).setAsString(QStringLiteral("edited"));
            f->ds.post();
        } else {
            f->ds.close();
        }
        if (f->ds.active()) {
            QCOMPARE(grid.model()->rowCount(), n);
            QCOMPARE(f->ds.recordCount(), n);
            for (const int row : {1023, 1024, n - 1}) {
                QCOMPARE(cell(grid, row, 0), id(row));
            }
        }
        f->reg.side().setBusyTimeout(0);
        f->reg.exec(QStringLiteral("UPDATE assets SET Location = 'moved' WHERE ASSETID = 'KLT000001'"));
    }

    void doubleClickAndCtrlDeleteAreReported() {
        f->addAssets(3);
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        f->open();
        showAndActivate(grid);
        QSignalSpy doubleClicks(&grid, &TDBGrid::doubleClicked);
        QSignalSpy ctrlDeletes(&grid, &TDBGrid::ctrlDeletePressed);

        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, rowCentre(grid, 1));
        QCOMPARE(doubleClicks.size(), 1);
        QCOMPARE(f->ds.recNo(), 1);
        QCOMPARE(QApplication::focusWidget(), &grid); // no cell editor opened and took the focus

        // Below the last row there is no record to act on.
        QTest::mouseDClick(grid.viewport(), Qt::LeftButton, {}, QPoint(10, grid.viewport()->height() - 5));
        QCOMPARE(doubleClicks.size(), 1);

        grid.setFocus();
        QTest::keyClick(&grid, Qt::Key_Delete);
        QCOMPARE(ctrlDeletes.size(), 0);
        QTest::keyClick(&grid, Qt::Key_Delete, Qt::ControlModifier);
        QCOMPARE(ctrlDeletes.size(), 1);
        QCOMPARE(grid.model()->rowCount(), 3); // the grid leaves deleting to whoever handles the signal
        QCOMPARE(f->reg.count(QStringLiteral("SELECT COUNT(*) FROM assets")), 3LL);
    }

    // Another program holds the register locked while the grid scrolls to rows it has not read: the error is
    // shown once, the program goes on, and the rows appear once the lock ends.
    void aReadThatFailsWhilePaintingIsShownOnce() {
        f->reg.addAssets(QStringLiteral("ASSETID, ItemGroup"), 2000, [](int i) {
            return QVariantList{QStringLiteral("KLT%1").arg(i, 4, 10, QLatin1Char('0')), QStringLiteral("1")};
        });
        f->conn.setBusyTimeout(20);
        TDBGrid grid(QStringLiteral("DBGrid1"), &f->source);
        grid.datasetModel()->setReadRetryDelay(0);
        f->open();
        showAndActivate(grid);
        QCoreApplication::processEvents();

        f->reg.lock();
        grid.scrollToBottom();
        grid.viewport()->repaint();
        QCOMPARE(cell(grid, 1990, 0), QString());
        QCoreApplication::processEvents();
        QCOMPARE(DialogScript::messages().size(), size_t(1));
        QVERIFY2(DialogScript::messages()[0].text.contains(QLatin1String("' is busy")),
                 qPrintable(DialogScript::messages()[0].text));

        f->reg.unlock();
        grid.viewport()->repaint();
        QCOMPARE(cell(grid, 1990, 0), QStringLiteral("KLT1991"));
        QCOMPARE(DialogScript::messages().size(), size_t(1));
    }
};

QTEST_MAIN(TestDBGrid)
#include "tst_dbgrid.moc"
