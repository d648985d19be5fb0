// The report writer and viewer: the placeholder scanner, the exact bytes of both page layouts, reports
// disabled, the report file's life from creation to every way of closing the viewer, names already taken,
// and a producer that fails half way.
#include "app/globals.h"
#include "app/status.h"
#include "data/datamodule.h"
#include "data/errors.h"
#include "data/textvalues.h"
#include "reporting/reporter.h"
#include "tests/support/reportfixture.h"
#include "tests/support/testregister.h"
#include "widgets/coolanimate.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"
#include "widgets/gauge.h"
#include "widgets/htmlview.h"

#include <QDir>
#include <QFile>
#include <QItemSelectionModel>
#include <QLocale>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBrowser>
#include <QTextDocument>
#include <QTimer>
#include <QToolButton>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// The "~" files in the reports folder.
QStringList reportFiles() {
    return QDir(ProgramFolder + QStringLiteral("reports")).entryList({QStringLiteral("~*")}, QDir::Files);
}

// The templates of the exact-bytes cases: LF and CR LF line ends, a last line without any, an unmatched
// tilde, and markup that must be copied as it stands.
const QByteArray kHeader = "<html><body title=\"a & b\">\n"
                           "<h1>~Title~</h1>\r\n"
                           "\n"
                           "<p>~ COMPANYNAME ~ for ~user~</p>";
const QByteArray kFooter = "<p>end of ~TITLE~ ~ unmatched\r\n"
                           "</body></html>\n";
const QByteArray kHeaderOut = "<html><body title=\"a & b\">\r\n"
                              "<h1>Loans &amp; &lt;Returns&gt;</h1>\r\n"
                              "\r\n"
                              "<p>Smith &amp; &quot;Sons&quot; for s</p>\r\n";

} // namespace

class TestReportWriter : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void placeholders_data();
    void placeholders();
    void tableReportBytes();
    void listReportBytes();
    void installedTemplatesMakeACompletePage();
    void reportsDisabledWriteNothingButShowTheViewer();
    void reportFileDeletedOnEveryWayOfClosing_data();
    void reportFileDeletedOnEveryWayOfClosing();
    void takenNamesAreNeverWritten();
    void failingProducerHidesStatusAndLeavesNoFile();

private:
    void openRegister();
    void useFixtureTemplates();

    std::unique_ptr<QTemporaryDir> programDir_;
    std::unique_ptr<TestRegister> reg_;
    std::unique_ptr<DataModule> dm_;
    std::unique_ptr<TDBGrid> grid_;
};

void TestReportWriter::initTestCase() {
    startReportTests();
}

void TestReportWriter::init() {
    programDir_ = installReportFiles();
    QVERIFY(ReportsEnabled);
    ReportName.clear();
    reg_ = std::make_unique<TestRegister>();
    reg_->exec(QStringLiteral("UPDATE System SET CompanyName = 'Smith & \"Sons\"'"));
    reg_->addAsset(QStringLiteral("A1"), QStringLiteral("1"), QStringLiteral("Description, TotalCost"),
                   QStringLiteral("'<5 kg & spare>', 12.5"));
    reg_->addAsset(QStringLiteral("A2"), QStringLiteral("1"));
    reg_->addAsset(QStringLiteral("A3"), QStringLiteral("2"), QStringLiteral("Description, TotalCost, isElectrical"),
                   QStringLiteral("'Caf\u00e9 \u20ac \"best\"', 3, 1"));
}

void TestReportWriter::openRegister() {
    dm_ = openDataModule(*reg_);
    dm_->mainquery.open();
    InitReportWriter(dm_->SystemTable);
    grid_ = std::make_unique<TDBGrid>(QStringLiteral("DBGrid1"), &dm_->mainsource);
    grid_->setColumns({{QStringLiteral("ASSETID"), QStringLiteral("Asset ID"), 80},
                       {QStringLiteral("Description"), QString(), 120},
                       {QStringLiteral("TotalCost"), QString(), 60}});
}

void TestReportWriter::useFixtureTemplates() {
    writeFile(reportsPath(QStringLiteral("header.htm")), kHeader);
    writeFile(reportsPath(QStringLiteral("footer.htm")), kFooter);
}

void TestReportWriter::cleanup() {
    QCOMPARE(DialogScript::pendingScript(), 0);
    QVERIFY(DialogScript::unexpectedModals().empty());
    QVERIFY(!StatusFrm->isVisible());
    grid_.reset();
    dm_.reset();
    reg_.reset();
    programDir_.reset();
}

void TestReportWriter::placeholders_data() {
    QTest::addColumn<QString>("line");
    QTest::addColumn<QString>("expanded");
    QTest::newRow("lower case, blanks inside the tildes") << "<title>~ title ~</title>"
                                                          << "<title>Loans &amp; &lt;Returns&gt;</title>";
    QTest::newRow("mixed case company name") << "by ~CompanyName~."
                                             << "by Smith &amp; &quot;Sons&quot;.";
    QTest::newRow("tab and line feed trimmed") << "~\tUSER\n~"
                                               << "s";
    QTest::newRow("unknown name leaves both blanks") << "a ~NOPE~ b"
                                                     << "a  b";
    QTest::newRow("two tildes give nothing") << "x~~y"
                                             << "xy";
    QTest::newRow("unmatched tilde drops the rest") << "keep ~TITLE and all this"
                                                    << "keep ";
    QTest::newRow("adjacent placeholders") << "~USER~~USER~"
                                           << "ss";
    QTest::newRow("markup outside kept") << "<b class=\"x\">&amp;</b>"
                                         << "<b class=\"x\">&amp;</b>";
    QTest::newRow("letters beyond ASCII are not upper-cased") << "[~us\u00e9r~]"
                                                              << "[]";
    QTest::newRow("date") << "~DATE~" << dateToText(QDate::currentDate());
}

void TestReportWriter::placeholders() {
    QFETCH(QString, line);
    QFETCH(QString, expanded);
    openRegister();
    ReportTitle = QStringLiteral("Loans & <Returns>");
    ReportUser = QStringLiteral("s");
    QCOMPARE(ExpandPlaceholders(line), expanded);
}

void TestReportWriter::tableReportBytes() {
    openRegister();
    useFixtureTemplates();
    const QByteArray expected = kHeaderOut + "<table align=\"center\" width=\"100%\" border=\"1\" cellpadding=\"0\" "
                                             "cellspacing=\"0\" bordercolor=\"#333333\">\r\n"
                                             "<tr bgcolor=\"#CCCCCC\">\r\n"
                                             "<td>\r\n<div align=\"center\"><strong>Asset ID</strong></div></td>\r\n"
                                             "<td>\r\n<div align=\"center\"><strong>Description</strong></div></td>\r\n"
                                             "<td>\r\n<div align=\"center\"><strong>TotalCost</strong></div></td>\r\n"
                                             "</tr>\r\n"
                                             "<tr>\r\n"
                                             "<td><div align=\"center\">A1&nbsp;</div></td>\r\n"
                                             "<td><div align=\"center\">&lt;5 kg &amp; spare&gt;&nbsp;</div></td>\r\n"
                                             "<td><div align=\"center\">12.5&nbsp;</div></td>\r\n"
                                             "</tr>\r\n"
                                             "<tr>\r\n"
                                             "<td><div align=\"center\">A2&nbsp;</div></td>\r\n"
                                             "<td><div align=\"center\">&nbsp;</div></td>\r\n"
                                             "<td><div align=\"center\">&nbsp;</div></td>\r\n"
                                             "</tr>\r\n"
                                             "<tr>\r\n"
                                             "<td><div align=\"center\">A3&nbsp;</div></td>\r\n"
                                             "<td><div align=\"center\">Caf\xe9 ? &quot;best&quot;&nbsp;</div></td>\r\n"
                                             "<td><div align=\"center\">3&nbsp;</div></td>\r\n"
                                             "</tr>\r\n"
                                             "</table>\r\n"
                                             "<p>end of Loans &amp; &lt;Returns&gt; \r\n"
                                             "</body></html>\r\n";
    QByteArray written;
    int progress = -1;
    DialogScript::setNextModal([&](QDialog& viewer) {
        written = readAll(ReportFilePath());
        progress = StatusFrm->gauge->progress();
        QVERIFY(!StatusFrm->isVisible());
        viewer.findChild<QToolButton*>(QStringLiteral("DisMissReportBtn"))->click();
    });
    // The list follows the walk once, at its end, rather than record by record.
    QSignalSpy gridMoves(grid_->selectionModel(), &QItemSelectionModel::currentRowChanged);
    ReportGridAsTable(QStringLiteral("Loans & <Returns>"), *grid_);
    QCOMPARE(gridMoves.count(), 1);
    QCOMPARE(written, expected);
    QVERIFY(ReportName.startsWith(QLatin1Char('~')));
    QCOMPARE(ReportUser, QStringLiteral("s"));
    QCOMPARE(progress, 3);
    // The walk leaves the cursor past the end, on the last record.
    QVERIFY(dm_->mainquery.eof());
    QCOMPARE(dm_->mainquery.fieldByName(QStringLiteral("ASSETID")).asString(), QStringLiteral("A3"));
    QCOMPARE(grid_->currentIndex().row(), 2);
    QVERIFY(grid_->updatesEnabled());
}

void TestReportWriter::listReportBytes() {
    openRegister();
    useFixtureTemplates();
    dm_->mainquery.moveTo(2);
    QByteArray expected = "<html><body title=\"a & b\">\r\n"
                          "<h1>Item Details</h1>\r\n"
                          "\r\n"
                          "<p>Smith &amp; &quot;Sons&quot; for s</p>\r\n";
    const QList<QByteArray> fields = {
        "ASSETID : A3",      "ItemGroup : 2",       "OrderNumber : ",      "Make : ",
        "Model : ",          "DatePurchased : ",    "SerialNumber : ",     "Description : Caf\xe9 ? &quot;best&quot;",
        "Supplier : ",       "PurchasedBy : ",      "Location : ",         "TotalCost : 3",
        "WarrantyPeriod : ", "isElectrical : True", "LastTestTag : ",      "itemBorrowed : False",
        "Borrower : ",       "BorrowedOn : ",       "ExpectedReturn : ",   "WrittenOff : False",
        "WrittenOffDate : ", "WrittenOffBy : ",     "WrittenOffReason : ", "WrittenDownValue : "};
    for (const QByteArray& f : fields) {
        const qsizetype colon = f.indexOf(" : ");
        expected += "<b>" + f.left(colon) + "</b>" + f.mid(colon) + "<br>\r\n";
    }
    expected += "<p>end of Item Details \r\n</body></html>\r\n";
    QByteArray written;
    DialogScript::setNextModal([&](QDialog& viewer) {
        written = readAll(ReportFilePath());
        QCOMPARE(StatusFrm->gauge->maxValue(), 24);
        viewer.close();
    });
    ReportRecordAsList(QStringLiteral("Item Details"), *grid_);
    QCOMPARE(written, expected);
    QCOMPARE(dm_->mainquery.recNo(), 2);
    QVERIFY(!dm_->mainquery.eof());
}

void TestReportWriter::installedTemplatesMakeACompletePage() {
    openRegister();
    QByteArray written;
    QString shown;
    bool logoLoaded = false;
    DialogScript::setNextModal([&](QDialog& viewer) {
        written = readAll(ReportFilePath());
        auto* view = reporterfrm->web.get();
        shown = view->documentText();
        QCOMPARE(view->currentAddress(), QStringLiteral("file://") + ProgramFolder + QStringLiteral("reports/") +
                                             ReportName + QStringLiteral(".htm"));
        const QVariant logo =
            view->document()->resource(QTextDocument::ImageResource, QUrl(QStringLiteral("reportlogo.jpg")));
        logoLoaded = logo.isValid() && !logo.value<QImage>().isNull();
        QTest::keyClick(&viewer, Qt::Key_Escape);
    });
    ReportGridAsTable(QStringLiteral("Asset List"), *grid_);
    QVERIFY(written.startsWith("<!DOCTYPE"));
    QVERIFY(written.endsWith("</html>\r\n"));
    QCOMPARE(written.count("\n"), written.count("\r\n"));
    QVERIFY(!written.contains('~'));
    QVERIFY(written.contains("<title>Asset List</title>"));
    QVERIFY(written.contains("Smith &amp; &quot;Sons&quot;"));
    QVERIFY(shown.contains(QStringLiteral("Asset List")));
    QVERIFY(shown.contains(QStringLiteral("Smith & \"Sons\"")));
    QVERIFY(shown.contains(QStringLiteral("<5 kg & spare>")));
    QVERIFY(shown.contains(dateToText(QDate::currentDate())));
    QVERIFY(logoLoaded);
}

void TestReportWriter::reportsDisabledWriteNothingButShowTheViewer() {
    QVERIFY(QFile::remove(reportsPath(QStringLiteral("footer.htm"))));
    QVERIFY(!CheckReportFiles());
    openRegister();
    const QByteArray header = readAll(reportsPath(QStringLiteral("header.htm")));
    int viewerShown = 0;
    QStringList filesWhileShown;
    int progress = -1;
    auto driver = [&](QDialog& viewer) {
        ++viewerShown;
        filesWhileShown += reportFiles();
        progress = StatusFrm->gauge->progress();
        QVERIFY(reporterfrm->web->documentText().contains(QStringLiteral("cannot be found")));
        viewer.findChild<QToolButton*>(QStringLiteral("DisMissReportBtn"))->click();
    };
    DialogScript::setNextModal(driver);
    ReportGridAsTable(QStringLiteral("Asset List"), *grid_);
    QCOMPARE(progress, 3);
    DialogScript::setNextModal(driver);
    ReportRecordAsList(QStringLiteral("Item Details"), *grid_);
    QCOMPARE(progress, 24);
    QCOMPARE(viewerShown, 2);
    QVERIFY(filesWhileShown.isEmpty());
    QVERIFY(reportFiles().isEmpty());
    QCOMPARE(ReportName, QString());
    QCOMPARE(ReportTitle, QStringLiteral("Item Details"));
    QCOMPARE(readAll(reportsPath(QStringLiteral("header.htm"))), header);
}

void TestReportWriter::reportFileDeletedOnEveryWayOfClosing_data() {
    QTest::addColumn<QString>("way");
    QTest::newRow("Dismiss") << "dismiss";
    QTest::newRow("close box") << "close";
    QTest::newRow("Escape") << "escape";
    QTest::newRow("rejected") << "reject";
}

void TestReportWriter::reportFileDeletedOnEveryWayOfClosing() {
    QFETCH(QString, way);
    openRegister();
    const QString saved = programDir_->filePath(QStringLiteral("kept.htm"));
    QString path;
    QByteArray written;
    bool openAfterPrint = false;
    DialogScript::setNextModal([&](QDialog& viewer) {
        path = ReportFilePath();
        written = readAll(path);
        if (way == QLatin1String("dismiss")) {
            // A copy saved first survives; a print cancelled in its dialog leaves the viewer open.
            DialogScript::setNextFileName(saved);
            viewer.findChild<QToolButton*>(QStringLiteral("ToolButton1"))->click();
            DialogScript::setNextPrintAccepted(false);
            viewer.findChild<QToolButton*>(QStringLiteral("ToolButton2"))->click();
            openAfterPrint = viewer.isVisible();
            viewer.findChild<QToolButton*>(QStringLiteral("DisMissReportBtn"))->click();
        } else if (way == QLatin1String("close")) {
            viewer.close();
        } else if (way == QLatin1String("escape")) {
            QTest::keyClick(&viewer, Qt::Key_Escape);
        } else {
            viewer.reject();
        }
    });
    ReportGridAsTable(QStringLiteral("Asset List"), *grid_);
    QVERIFY(written.contains("A3&nbsp;"));
    QVERIFY(!QFile::exists(path));
    QVERIFY(reportFiles().isEmpty());
    const QDir installed(reportsSourceFolder());
    for (const QString& name : installed.entryList(QDir::Files)) {
        QCOMPARE(readAll(reportsPath(name)), readAll(installed.filePath(name)));
    }
    if (way == QLatin1String("dismiss")) {
        QVERIFY(openAfterPrint);
        QVERIFY(DialogScript::messages().empty());
        QCOMPARE(readAll(saved), written);
    }
}

void TestReportWriter::takenNamesAreNeverWritten() {
    openRegister();
    const QString folder = ProgramFolder + QStringLiteral("reports/");
    for (int n = 0; n < 10000; ++n) {
        writeFile(folder + QStringLiteral("~%1.htm").arg(n), "other program's report");
    }
    // Every name taken: nothing is written and the viewer is pointed at no file, so it deletes nothing.
    DialogScript::setNextModal([](QDialog& viewer) { viewer.close(); });
    ReportGridAsTable(QStringLiteral("Asset List"), *grid_);
    QCOMPARE(ReportName, QString());
    QCOMPARE(reportFiles().size(), 10000);

    // One name free: it is found, however the draws fall, and no other file is touched.
    QVERIFY(QFile::remove(folder + QStringLiteral("~4321.htm")));
    QByteArray written;
    DialogScript::setNextModal([&](QDialog& viewer) {
        written = readAll(ReportFilePath());
        viewer.close();
    });
    ReportGridAsTable(QStringLiteral("Asset List"), *grid_);
    QCOMPARE(ReportName, QStringLiteral("~4321"));
    QVERIFY(written.contains("A3&nbsp;"));
    const QStringList left = reportFiles();
    QCOMPARE(left.size(), 9999);
    for (const QString& name : left) {
        QCOMPARE(readAll(folder + name), QByteArray("other program's report"));
    }
}

void TestReportWriter::failingProducerHidesStatusAndLeavesNoFile() {
    openRegister();
    grid_->setColumns(
        {{QStringLiteral("ASSETID"), QStringLiteral("Asset ID"), 80}, {QStringLiteral("NoSuchColumn"), QString(), 80}});
    try {
        ReportGridAsTable(QStringLiteral("Asset List"), *grid_);
        QFAIL("the missing field was not reported");
    } catch (const DatabaseError& e) {
        QCOMPARE(e.text(), QStringLiteral("mainquery: Field 'NoSuchColumn' not found"));
    }
    QVERIFY(!StatusFrm->isVisible());
    QVERIFY(!StatusFrm->StatusTimer->isActive());
    QVERIFY(!StatusFrm->AniMate->active());
    QVERIFY(reportFiles().isEmpty());
    // The list is drawn again; its repainting was held back only for the walk.
    QVERIFY(grid_->updatesEnabled());
}

QTEST_MAIN(TestReportWriter)
#include "tst_reportwriter.moc"
