// The print choice: "Current List" and "Details of Selected Item" on a list and on an empty one, where the
// list's cursor stands afterwards, the keys, and the choice kept between showings.
#include "app/status.h"
#include "data/datamodule.h"
#include "reporting/print.h"
#include "reporting/reportwriter.h"
#include "tests/support/reportfixture.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"
#include "widgets/gauge.h"

#include <QDirIterator>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

class TestPrint : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { fx.start(); }

    void init() { QVERIFY(fx.begin()); }

    void cleanup() {
        form_.reset();
        grid_.reset();
        fx.end();
    }

    // The current list prints the grid as shown; the details, every field of the current asset. The choice is
    // kept for the next showing.
    void listAndDetailsPrintWhatTheListShows() {
        openList(true);
        QCOMPARE(form_->size(), QSize(306, 133));
        QCOMPARE(form_->windowTitle(), QStringLiteral("Print"));
        QCOMPARE(form_->itemIndex(), 0);
        int result = 0;
        const QByteArray page = printWith(0, &result);
        QCOMPARE(result, mrOk);
        QCOMPARE(fx.writer->ReportTitle(), QStringLiteral("Asset List"));
        QVERIFY(page.contains("<title>Asset List</title>"));
        // Seven titled columns, then the active assets in the list's order.
        qsizetype at = 0;
        for (const char* title : {"Asset ID", "Make", "Model", "Serial", "Description", "Supplier", "Order"}) {
            at = page.indexOf(QByteArray("<strong>") + title + "</strong>", at);
            QVERIFY2(at >= 0, title);
        }
        QCOMPARE(page.count("<tr>\r\n"), 3 + 1); // the header template's own row, then three assets
        const qsizetype first = page.indexOf("KLT1001&nbsp;");
        const qsizetype second = page.indexOf("KLT1002&nbsp;");
        const qsizetype third = page.indexOf("KLT2001&nbsp;");
        QVERIFY(first > 0 && first < second && second < third);
        QVERIFY(!page.contains("KLT1003"));
        // The walk leaves the last asset current.
        QCOMPARE(fx.dm->mainquery.fieldByName(QStringLiteral("ASSETID")).asString(), QStringLiteral("KLT2001"));
        QVERIFY(fx.dm->mainquery.eof());

        fx.dm->mainquery.moveTo(1);
        result = 0;
        const QByteArray details = printWith(1, &result);
        QCOMPARE(result, mrOk);
        QCOMPARE(fx.writer->ReportTitle(), QStringLiteral("Item Details"));
        QVERIFY(details.contains("<b>ASSETID</b> : KLT1002<br>\r\n<b>ItemGroup</b> : 1<br>\r\n"));
        QVERIFY(details.contains("<b>WrittenDownValue</b> : <br>\r\n"));
        QCOMPARE(details.count("<br>\r\n"), 24);
        QCOMPARE(fx.dm->mainquery.recNo(), 1);
        QVERIFY(!fx.dm->mainquery.eof());
        QCOMPARE(form_->itemIndex(), 1);
    }

    void emptyList() {
        openList(false);
        const QByteArray table = printWith(0);
        QVERIFY(table.contains("<strong>Order</strong></div></td>\r\n</tr>\r\n</table>\r\n"));
        QVERIFY(!table.contains("&nbsp;</div></td>"));

        const QByteArray details = printWith(1);
        QVERIFY(details.contains("<b>ASSETID</b> : <br>\r\n<b>ItemGroup</b> : <br>\r\n"));
        QVERIFY(details.contains("<b>WrittenOff</b> : <br>\r\n"));
        QCOMPARE(details.count("</b> : <br>\r\n"), 24);
    }

    void enterIsOkAndEscapeIsCancel() {
        openList(true);
        fx.session.ReportsEnabled = false; // a report that only names its title
        fx.writer->BeginReport(QStringLiteral("no report yet"), QStringLiteral("s"));
        fx.session.ReportsEnabled = true;
        DialogScript::setNextModal([](QDialog& choice) { QTest::keyClick(&choice, Qt::Key_Escape); });
        QCOMPARE(Dialogs::showModal(*form_), mrCancel);
        QCOMPARE(fx.writer->ReportTitle(), QStringLiteral("no report yet"));

        int viewerShown = 0;
        DialogScript::setNextModal([](QDialog& choice) { QTest::keyClick(&choice, Qt::Key_Return); });
        DialogScript::setNextModal([&viewerShown](QDialog& viewer) {
            ++viewerShown;
            viewer.close();
        });
        QCOMPARE(Dialogs::showModal(*form_), mrOk);
        QCOMPARE(viewerShown, 1);
        QCOMPARE(fx.writer->ReportTitle(), QStringLiteral("Asset List"));
    }

    // While a report is written the status window lets events through; the user's clicks and keys among them
    // are dropped, so OK pressed again (by mouse or by Enter) starts no second report: one viewer, no page left.
    void pressingOkAgainDuringALongReportDoesNothing() {
        // Long enough that the status window lets events through several times, however fast the machine.
        fx.reg->addAssets(QStringLiteral("ASSETID, ItemGroup"), 30000, [](int i) {
            return QVariantList{QStringLiteral("KLT%1").arg(29999 + i), QStringLiteral("1")};
        });
        openList(true);
        int pressed = 0;
        QTimer presser;
        presser.setInterval(0);
        QObject::connect(&presser, &QTimer::timeout, [&] {
            if (fx.StatusFrm->isVisible() && fx.StatusFrm->gauge->progress() > 0 && pressed < 6) {
                ++pressed;
                if (pressed % 2) {
                    QTest::mouseClick(form_->BitBtn1, Qt::LeftButton);
                } else {
                    QTest::keyClick(form_.get(), Qt::Key_Return);
                }
            }
        });
        int viewers = 0;
        DialogScript::setNextModal([&](QDialog& dialog) {
            form_->CurrentListItem->setChecked(true);
            presser.start();
            dialog.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
        });
        DialogScript::setNextModal([&](QDialog& viewer) {
            ++viewers;
            presser.stop();
            viewer.close();
        });
        Dialogs::showModal(*form_);
        presser.stop();
        QVERIFY2(pressed >= 2, "the report ended before OK could be pressed by mouse and by key"); // both ways tried
        QCOMPARE(viewers, 1);
        QVERIFY(DialogScript::unexpectedModals().empty());
        QDirIterator pages(fx.runtime.path(), {QStringLiteral("~*")}, QDir::Files, QDirIterator::Subdirectories);
        QVERIFY(!pages.hasNext());
        QVERIFY(QDir(fx.session.ProgramFolder + QStringLiteral("reports")).entryList({QStringLiteral("~*")}).isEmpty());
        QVERIFY(!fx.StatusFrm->holdingInput());
    }

private:
    void openList(bool withAssets) {
        if (withAssets) {
            fx.reg->addAsset(QStringLiteral("KLT1002"), QStringLiteral("1"), QStringLiteral("Make, Supplier"),
                             QStringLiteral("'Acme', 'Parts & Co'"));
            fx.reg->addAsset(QStringLiteral("KLT1001"), QStringLiteral("1"), QStringLiteral("Make, OrderNumber"),
                             QStringLiteral("'Zeta', 'PO-7'"));
            fx.reg->addAsset(QStringLiteral("KLT1003"), QStringLiteral("1"), QStringLiteral("WrittenOff"),
                             QStringLiteral("1"));
            fx.reg->addAsset(QStringLiteral("KLT2001"), QStringLiteral("2"), QStringLiteral("Description"),
                             QStringLiteral("'Desk'"));
        }
        fx.openRegister();
        // The main list's seven columns.
        grid_ = std::make_unique<TDBGrid>(QStringLiteral("DBGrid1"), &fx.dm->mainsource);
        grid_->setColumns({{QStringLiteral("ASSETID"), QStringLiteral("Asset ID"), 80},
                           {QStringLiteral("Make"), QStringLiteral("Make"), 80},
                           {QStringLiteral("Model"), QStringLiteral("Model"), 80},
                           {QStringLiteral("SerialNumber"), QStringLiteral("Serial"), 80},
                           {QStringLiteral("Description"), QStringLiteral("Description"), 80},
                           {QStringLiteral("Supplier"), QStringLiteral("Supplier"), 80},
                           {QStringLiteral("OrderNumber"), QStringLiteral("Order"), 80}});
        form_ = std::make_unique<Tprintfrm>(nullptr, *grid_, *fx.writer);
    }

    // Shows the print choice, choosing item and pressing OK; returns the page the viewer was given and
    // the window's result through result.
    QByteArray printWith(int item, int* result = nullptr) {
        QByteArray page;
        DialogScript::setNextModal([item](QDialog& choice) {
            auto* options = choice.findChild<QGroupBox*>(QStringLiteral("printoptions"));
            options->findChildren<QRadioButton*>().at(item)->click();
            choice.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
        });
        fx.readNextPage(page);
        const int r = Dialogs::showModal(*form_);
        if (result) {
            *result = r;
        }
        return page;
    }

    ReportFixture fx;
    std::unique_ptr<TDBGrid> grid_;
    std::unique_ptr<Tprintfrm> form_;
};

QTEST_MAIN(TestPrint)
#include "tst_print.moc"
