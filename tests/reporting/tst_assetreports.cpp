// The report catalogue: each of the nine GO buttons on one register full of edge cases (empty dates,
// returned items, groups sharing a description, an asset of no group, a group with nothing written off),
// checked by its title and the rows of the table the viewer was given; then the typed number of years, the
// date text, the preset dates and the window itself.
#include "data/datamodule.h"
#include "data/textvalues.h"
#include "reporting/assetreports.h"
#include "reporting/reportwriter.h"
#include "tests/support/reportfixture.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"

#include <QDateEdit>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>

namespace {

const QDate kToday = QDate::currentDate();

QString daysAgo(int days) {
    return QStringLiteral("'%1'").arg(kToday.addDays(-days).toString(Qt::ISODate));
}

// What a report put on its page: the title of the page, the column titles and the data rows' cells.
struct ShownReport {
    QString title;
    QStringList columnTitles;
    QList<QStringList> rows;
    bool shown = false;
};

ShownReport parseReport(const QByteArray& bytes) {
    ShownReport report;
    report.shown = true;
    const QStringList lines = QString::fromLatin1(bytes).split(QStringLiteral("\r\n"));
    static const QRegularExpression title(QStringLiteral("<title>(.*)</title>"));
    static const QRegularExpression columnTitle(
        QStringLiteral("^<div align=\"center\"><strong>(.*)</strong></div></td>$"));
    static const QRegularExpression cell(QStringLiteral("^<td><div align=\"center\">(.*)&nbsp;</div></td>$"));
    bool inTable = false;
    for (const QString& line : lines) {
        if (const auto m = title.match(line); m.hasMatch() && report.title.isEmpty()) {
            report.title = m.captured(1);
        } else if (line.startsWith(QStringLiteral("<table align=\"center\" width=\"100%\" border=\"1\""))) {
            inTable = true;
        } else if (!inTable) {
            continue;
        } else if (line == QStringLiteral("</table>")) {
            inTable = false;
        } else if (line == QStringLiteral("<tr>")) {
            report.rows.append(QStringList());
        } else if (const auto t = columnTitle.match(line); t.hasMatch()) {
            report.columnTitles.append(t.captured(1));
        } else if (const auto c = cell.match(line); c.hasMatch()) {
            report.rows.last().append(c.captured(1));
        }
    }
    return report;
}

} // namespace

class TestAssetReports : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { fx.start(); }

    void init() {
        QVERIFY(fx.begin());
        fx.reg->exec(QStringLiteral("INSERT INTO Groups (GroupNumber, Description) VALUES ('1', 'Computers'), "
                                    "('2', 'Furniture'), ('3', 'Computers'), ('4', 'Vehicles'), ('5', '')"));
        const QString cols = QStringLiteral("DatePurchased, isElectrical, LastTestTag, itemBorrowed, BorrowedOn, "
                                            "ExpectedReturn, WrittenOff, WrittenOffDate, WrittenOffReason, TotalCost");
        auto add = [&](const char* id, const char* group, const QString& values) {
            fx.reg->addAsset(QString::fromLatin1(id), QString::fromLatin1(group), cols, values);
        };
        // An old electrical item, checked over a year ago.
        add("K1001", "1", daysAgo(3650) + ", 1, " + daysAgo(400) + ", 0, NULL, NULL, 0, NULL, NULL, 100");
        // An electrical item never checked.
        add("K1002", "1", daysAgo(30) + ", 1, NULL, 0, NULL, NULL, 0, NULL, NULL, 50");
        // No purchase date; checked recently; a group sharing its description with group 1.
        add("K3001", "3", "NULL, 1, " + daysAgo(10) + ", 0, NULL, NULL, 0, NULL, NULL, 25");
        // Written off recently: an electrical item long unchecked that no longer counts.
        add("K2001", "2",
            daysAgo(800) + ", 1, " + daysAgo(500) + ", 0, NULL, NULL, 1, " + daysAgo(20) + ", 'Broken <glass>', 70");
        // On loan and overdue.
        add("K2002", "2", daysAgo(200) + ", 0, NULL, 1, " + daysAgo(40) + ", " + daysAgo(10) + ", 0, NULL, NULL, 30");
        // Returned long ago: its expected return date is past, but it is no longer on loan. Bought exactly five
        // years (5 x 365 days) ago.
        add("K4001", "4", daysAgo(1825) + ", 0, NULL, 0, " + daysAgo(100) + ", " + daysAgo(70) + ", 0, NULL, NULL, 40");
        // Bought and last checked exactly a year (365 days) ago: on the edge of the reports that look a year back.
        add("K4003", "4", daysAgo(365) + ", 1, " + daysAgo(365) + ", 0, NULL, NULL, 0, NULL, NULL, 7.5");
        // Written off over a year ago.
        add("K1003", "1", daysAgo(1000) + ", 0, NULL, 0, NULL, NULL, 1, " + daysAgo(400) + ", 'Lost', 10");
        // Of a group that does not exist.
        add("K9001", "9", daysAgo(5) + ", 0, NULL, 0, NULL, NULL, 0, NULL, NULL, 999");
        // On loan, not yet due.
        add("K4002", "4", daysAgo(1) + ", 0, NULL, 1, " + daysAgo(5) + ", " + daysAgo(-25) + ", 0, NULL, NULL, 15");
        // Of the group without a name.
        add("K5001", "5", daysAgo(2000) + ", 0, NULL, 0, NULL, NULL, 0, NULL, NULL, 5");
        // Written off without a date.
        add("K3002", "3", daysAgo(900) + ", 0, NULL, 0, NULL, NULL, 1, NULL, 'Stolen', 20");

        fx.openRegister();
        query2Grid_ = std::make_unique<TDBGrid>(QStringLiteral("Query2Grid"), &fx.dm->Query2DataSource);
        form_ = std::make_unique<Tassetreportsfrm>(nullptr, *fx.dm, *query2Grid_, *fx.writer);
        form_->presetDates(kToday);
    }

    void cleanup() {
        form_.reset();
        query2Grid_.reset();
        fx.end();
    }

    void everyReport_data() {
        QTest::addColumn<int>("report");
        QTest::addColumn<QString>("years");
        QTest::addColumn<QString>("title");
        QTest::addColumn<QStringList>("columnTitles");
        // Each row's cells joined with '|'; for the group totals, sorted, since the engine orders them.
        QTest::addColumn<QStringList>("rows");
        const auto row = [](const char* name, int report, const QString& years, const QString& title,
                            const QStringList& columnTitles, const QStringList& rows) {
            QTest::newRow(name) << report << years << title << columnTitles << rows;
        };

        const QStringList purchased = {"AssetID", "Make", "Model", "SerialNumber", "DatePurchased"};
        const QStringList loans = {"AssetID",  "Make",       "Model",         "SerialNumber",
                                   "Borrower", "Borrowedon", "ExpectedReturn"};
        auto purchase = [](const char* id, int days) {
            return QStringLiteral("%1||||%2").arg(id, dateToText(kToday.addDays(-days)));
        };

        row("1: older than 5 years", 1, "5", "Items older than 5 years", purchased,
            QStringList{purchase("K1001", 3650), purchase("K5001", 2000), purchase("K4001", 1825)});
        row("1: \"05\" stays as typed in the title", 1, "05", "Items older than 05 years", purchased,
            QStringList{purchase("K1001", 3650), purchase("K5001", 2000), purchase("K4001", 1825)});
        row("1: \"0\" is every active item bought by today", 1, "0", "Items older than 0 years", purchased,
            QStringList{purchase("K1001", 3650), purchase("K5001", 2000), purchase("K4001", 1825),
                        purchase("K4003", 365), purchase("K2002", 200), purchase("K1002", 30), purchase("K9001", 5),
                        purchase("K4002", 1)});
        row("2: acquired since", 2, "5", "Items Acquired Since " + dateToText(kToday.addDays(-365)), purchased,
            QStringList{purchase("K4003", 365), purchase("K2002", 200), purchase("K1002", 30), purchase("K9001", 5),
                        purchase("K4002", 1)});
        row("3: due for a check, never checked first", 3, "5", "Items Due for an Electrical Check ",
            QStringList{"AssetID", "Make", "Model", "SerialNumber", "LastTestTag"},
            QStringList{"K1002||||", "K1001||||" + dateToText(kToday.addDays(-400)),
                        "K4003||||" + dateToText(kToday.addDays(-365))});
        row("4: on loan", 4, "5", "Items Currently on Loan", loans,
            QStringList{"K2002|||||" + dateToText(kToday.addDays(-40)) + "|" + dateToText(kToday.addDays(-10)),
                        "K4002|||||" + dateToText(kToday.addDays(-5)) + "|" + dateToText(kToday.addDays(25))});
        row("5: overdue, returned items left out", 5, "5", "Items Overdue to be Returned", loans,
            QStringList{"K2002|||||" + dateToText(kToday.addDays(-40)) + "|" + dateToText(kToday.addDays(-10))});
        row("6: written off since", 6, "5", "Items Written Off Since " + dateToText(kToday.addDays(-365)),
            QStringList{"AssetID", "Make", "Model", "SerialNumber", "WrittenOffDate", "WrittenOffReason"},
            QStringList{"K2001||||" + dateToText(kToday.addDays(-20)) + "|Broken &lt;glass&gt;"});
        row("7: disposed per group", 7, "5", "Total Items Disposed of per Asset Group",
            QStringList{"Description", "Total"}, QStringList{"Computers|2", "Furniture|1"});
        row("8: value acquired since", 8, "5", "Value of Assets Acquired Since " + dateToText(kToday.addDays(-365)),
            QStringList{"Description", "TotalValue"}, QStringList{"Computers|50", "Furniture|30", "Vehicles|22.5"});
        row("9: value of all", 9, "5", "Total Value of all Assets", QStringList{"Description", "TotalValue"},
            QStringList{"Computers|175", "Furniture|30", "Vehicles|62.5", "|5"});
    }
    void everyReport() {
        QFETCH(int, report);
        QFETCH(QString, years);
        QFETCH(QString, title);
        QFETCH(QStringList, columnTitles);
        QFETCH(QStringList, rows);

        form_->years->setText(years);
        const ShownReport shown = press(form_->findChild<QPushButton*>(QStringLiteral("Button%1").arg(report)));
        QVERIFY(shown.shown);
        for (const ShownMessage& m : DialogScript::messages()) {
            QFAIL(qPrintable(m.text));
        }
        QCOMPARE(fx.writer->ReportTitle(), title);
        QCOMPARE(shown.title, title.toHtmlEscaped());
        // Titles are the field names as the engine reports them, whose letter case the engine may choose.
        QCOMPARE(shown.columnTitles.join(QLatin1Char(',')).toLower(), columnTitles.join(QLatin1Char(',')).toLower());
        QCOMPARE(shown.columnTitles.size(), query2Grid_->columns().size());
        for (qsizetype i = 0; i < shown.columnTitles.size(); ++i) {
            QCOMPARE(shown.columnTitles[i], query2Grid_->columns()[i].title);
        }
        QStringList joined;
        for (const QStringList& row : shown.rows) {
            joined.append(row.join(QLatin1Char('|')));
        }
        if (report >= 7) {
            joined.sort();
            rows.sort();
        }
        QCOMPARE(joined, rows);
    }

    void yearsThatMakeNoReportLeaveQuery2Alone_data() {
        QTest::addColumn<QString>("years");
        QTest::addColumn<QString>("said");
        const QString notANumber = QStringLiteral("'%1' is not a valid integer value");
        QTest::newRow("letters") << "x" << notANumber.arg("x");
        QTest::newRow("empty") << "" << notANumber.arg("");
        QTest::newRow("fraction") << "1.5" << notANumber.arg("1.5");
        QTest::newRow("negative") << "-3"
                                  << "'-3' is not a valid number of years: it cannot be negative.";
        QTest::newRow("before the year 1")
            << "99999"
            << "'99999' years reaches back before the year 1, the earliest date a register holds.";
    }
    void yearsThatMakeNoReportLeaveQuery2Alone() {
        QFETCH(QString, years);
        QFETCH(QString, said);
        QVERIFY(press(form_->Button4).shown);
        const QStringList before = fx.dm->Query2.sqlLines();
        const int row = fx.dm->Query2.recNo();

        form_->years->setText(years);
        form_->Button1->click(); // no viewer is expected: none is queued
        QCOMPARE(DialogScript::messages().size(), size_t(1));
        QCOMPARE(DialogScript::messages().front().text, said);
        QCOMPARE(DialogScript::messages().front().icon, MessageIcon::Error);
        QCOMPARE(fx.dm->Query2.sqlLines(), before);
        QVERIFY(fx.dm->Query2.active());
        QCOMPARE(fx.dm->Query2.recNo(), row);
        QCOMPARE(fx.writer->ReportTitle(), QStringLiteral("Items Currently on Loan"));
    }

    void dateTextIgnoresTheLocale() {
        QCOMPARE(reportDateText(QDate(2026, 7, 4)), QStringLiteral("7/4/2026"));
        QCOMPARE(reportDateText(QDate(2026, 12, 31)), QStringLiteral("12/31/2026"));
        QCOMPARE(reportDateText(QDate(999, 3, 9)), QStringLiteral("3/9/0999"));

        // A German locale writes the title's date its own way, but the report asks for the date picked: the asset
        // bought on 10 February is listed, as it would not be if 5 February were read as 2 May.
        const int year = kToday.year() + 2;
        fx.reg->addAsset(QStringLiteral("K8001"), QStringLiteral("4"), QStringLiteral("DatePurchased"),
                         QStringLiteral("'%1-02-10'").arg(year));
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        form_->itemssince->setDate(QDate(year, 2, 5));
        const ShownReport shown = press(form_->Button2);
        QVERIFY(shown.shown);
        QVERIFY(DialogScript::messages().empty());
        QCOMPARE(fx.writer->ReportTitle(), QStringLiteral("Items Acquired Since 05.02.%1").arg(year));
        QCOMPARE(shown.rows, (QList<QStringList>{{"K8001", "", "", "", dateToText(QDate(year, 2, 10))}}));
    }

    void presetDatesAreAYearBefore() {
        // 365 days, not a calendar year: across a leap day the date moves by one.
        form_->presetDates(QDate(2024, 3, 1));
        for (QDateEdit* picker : {form_->itemssince, form_->purchasedsince, form_->disposedsince}) {
            QCOMPARE(picker->date(), QDate(2023, 3, 2));
            QVERIFY(picker->calendarPopup());
        }
        form_->presetDates(QDate(2026, 6, 15));
        QCOMPARE(form_->disposedsince->date(), QDate(2025, 6, 15));
    }

    void windowStaysOpenAcrossReportsAndCloses() {
        QCOMPARE(form_->size(), QSize(417, 529));
        QCOMPARE(form_->windowTitle(), QStringLiteral("Asset Reports"));
        QCOMPARE(form_->years->text(), QStringLiteral("5"));

        // The order Tab visits the year count, the GO buttons, the date pickers and Close in; whatever else lies
        // in the focus chain is passed over.
        const QList<QWidget*> expected = {
            form_->years,   form_->Button1, form_->Button2,        form_->itemssince, form_->Button3,
            form_->Button4, form_->Button5, form_->Button6,        form_->Button7,    form_->disposedsince,
            form_->Button8, form_->Button9, form_->purchasedsince, form_->BitBtn1};
        QList<QWidget*> chain;
        QWidget* w = form_->years;
        for (int step = 0; step < 500 && chain.size() < expected.size(); ++step, w = w->nextInFocusChain()) {
            if (expected.contains(w) && !chain.contains(w)) {
                chain.append(w);
            }
        }
        QCOMPARE(chain, expected);

        int reportsShown = 0;
        bool openAfterReports = false;
        DialogScript::setNextModal([&](QDialog& catalogue) {
            reportsShown += press(form_->Button4).shown ? 1 : 0;
            reportsShown += press(form_->Button9).shown ? 1 : 0;
            openAfterReports = catalogue.isVisible();
            QTest::keyClick(&catalogue, Qt::Key_Escape);
        });
        QCOMPARE(Dialogs::showModal(*form_), mrCancel);
        QCOMPARE(reportsShown, 2);
        QVERIFY(openAfterReports);
    }

private:
    // Presses a GO button, reading the page while the viewer shows it and then dismissing the viewer.
    ShownReport press(QPushButton* button) {
        QByteArray page;
        fx.readNextPage(page);
        button->click();
        return page.isEmpty() ? ShownReport() : parseReport(page);
    }

    ReportFixture fx;
    std::unique_ptr<TDBGrid> query2Grid_;
    std::unique_ptr<Tassetreportsfrm> form_;
};

QTEST_MAIN(TestAssetReports)
#include "tst_assetreports.moc"
