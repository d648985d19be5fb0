// The Labels window on a real register, driven through its controls: the assets it labels, the runs it
// refuses without printing anything, the offset it keeps per stock on this machine, and Print through the
// print dialog. What is printed is read back from the PDF by the independent decoder.
#include "data/datamodule.h"
#include "labels/labelswindow.h"
#include "tests/support/guitest.h"
#include "tests/support/labelreading.h"
#include "tests/support/testregister.h"
#include "widgets/dialogs.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSysInfo>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestLabelsWindow : public QObject {
    Q_OBJECT

    std::unique_ptr<TestRegister> reg;
    std::unique_ptr<DataModule> dm;
    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<LabelsWindow> w;

    QString settingsFile() const { return dir->filePath(u"labels.conf"_s); }

    void open() {
        w = std::make_unique<LabelsWindow>(nullptr, *dm, settingsFile());
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    }

    void chooseStock(const QString& key) { w->stockCombo->setCurrentIndex(w->stockCombo->findData(key)); }

    // What zbarimg reads in the QR codes of the first labels of page 1 of pdf on the a4-65 sheet.
    QStringList readBack(const QString& pdf, int labels) {
        const LabelStock stock = *presetStock(u"a4-65"_s);
        std::vector<QRectF> places;
        for (int i = 0; i < labels; ++i) {
            places.push_back(stock.labelRect(i));
        }
        QStringList read;
        for (const auto& symbols : decodeRegions(renderPdfPage(pdf, 1), places)) {
            read << (symbols.empty() ? QString() : symbols.front().data);
        }
        return read;
    }

private slots:
    void initTestCase() { DialogScript::enable(); }

    void init() {
        DialogScript::reset();
        reg = std::make_unique<TestRegister>();
        reg->exec(u"UPDATE System SET CompanyName = 'Kelvin Lane Trust'"_s);
        reg->exec(u"INSERT INTO Groups (GroupNumber, Description) VALUES ('1', 'Computers')"_s);
        for (const char* id : {"KLT1001", "KLT1002", "KLT1003", "SŁ1004"}) {
            reg->addAsset(QString::fromUtf8(id), u"1"_s, u"DatePurchased"_s, u"'2026-01-10'"_s);
        }
        dm = openDataModule(*reg);
        dm->mainquery.open();
        dir = std::make_unique<QTemporaryDir>();
    }

    void cleanup() {
        w.reset();
        dm.reset();
        reg.reset();
        QVERIFY(DialogScript::unexpectedModals().empty());
    }

    void labelsTheAssetsChosen_data() {
        QTest::addColumn<QString>("choice");
        QTest::addColumn<QString>("copies");
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("at first, the list's current asset")
            << u"selected"_s << QString() << QStringList{u"KLT1002"_s, QString()};
        QTest::newRow("the list, twice each")
            << u"list"_s << u"2"_s << QStringList{u"KLT1001"_s, u"KLT1001"_s, u"KLT1002"_s, u"KLT1002"_s,
                                                  u"KLT1003"_s, u"KLT1003"_s, u"SŁ1004"_s,  u"SŁ1004"_s};
        QTest::newRow("typed, in their order, ASCII letter case aside")
            << u"ids"_s << u"1"_s << QStringList{u"SŁ1004"_s, u"KLT1001"_s};
        QTest::newRow("purchased since") << u"purchased"_s << u"1"_s
                                         << QStringList{u"KLT1001"_s, u"KLT1002"_s, u"SŁ1004"_s};
    }
    // At first the window labels the list's current asset, on the first sheet. Save writes the labels into the
    // file named, with .pdf added when the name lacks it.
    void labelsTheAssetsChosen() {
        QFETCH(QString, choice);
        QFETCH(QString, copies);
        QFETCH(QStringList, labels);
        reg->exec(u"UPDATE assets SET DatePurchased = '2025-12-31' WHERE ASSETID = 'KLT1003'"_s);
        dm->mainquery.moveTo(1);
        open();
        if (choice == u"selected"_s) {
            QVERIFY(w->selectedRadio->isChecked());
            QCOMPARE(w->selectedRadio->text(), u"The &selected asset: KLT1002"_s);
            QCOMPARE(w->listRadio->text(), u"The &list as searched: 4 assets"_s);
        } else if (choice == u"list"_s) {
            w->listRadio->click();
        } else if (choice == u"ids"_s) {
            w->idsEdit->setPlainText(u"SŁ1004,\nklt1001"_s); // pasted
            QVERIFY(w->idsRadio->isChecked());
        } else {
            typeInto(w->purchasedEdit, u"2026-01-01"_s);
            QVERIFY(w->purchasedRadio->isChecked());
        }
        if (!copies.isEmpty()) {
            typeInto(w->copiesEdit, copies);
        }
        DialogScript::setNextFileName(dir->filePath(choice == u"selected"_s ? u"labels"_s : u"labels.pdf"_s));
        w->saveButton->click();
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(readBack(dir->filePath(u"labels.pdf"_s), int(labels.size())), labels);
    }

    void refusedRunsPrintNothing_data() {
        QTest::addColumn<QString>("field");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("problem");
        QTest::newRow("custom stock off the page")
            << u"labelWidthEdit"_s << u"80"_s << u"The labels do not fit across the page: 3 columns of 80 mm"_s;
        QTest::newRow("zero height") << u"labelHeightEdit"_s << u"0"_s
                                     << u"The label height must be more than 0 mm; it is 0 mm."_s;
        QTest::newRow("negative margin") << u"marginTopEdit"_s << u"-3"_s
                                         << u"The top margin must be 0 mm or more; it is -3 mm."_s;
        QTest::newRow("not a number") << u"pageWidthEdit"_s << u"wide"_s
                                      << u"The page width 'wide' is not a number of millimetres."_s;
        QTest::newRow("too small for the code")
            << u"labelHeightEdit"_s << u"6"_s << u"Labels of 63.5 x 6 mm are too small for a readable QR code"_s;
        QTest::newRow("10,000 copies") << u"copiesEdit"_s << u"10000"_s
                                       << u"Each asset may have 1 to 1,000 labels; 10,000 were asked for."_s;
        QTest::newRow("an identifier no asset has")
            << u"idsEdit"_s << u"KLT1001 KLT9999"_s << u"No asset has the identifier 'KLT9999'."_s;
    }
    // The preview says why in place of the page, and neither Print nor Save can be pressed.
    void refusedRunsPrintNothing() {
        QFETCH(QString, field);
        QFETCH(QString, typed);
        QFETCH(QString, problem);
        open();
        chooseStock(u"custom"_s);
        QVERIFY(w->previewView->problem().isEmpty());
        typeInto(w->findChild<QWidget*>(field), typed);
        QVERIFY2(w->previewView->problem().contains(problem), qPrintable(w->previewView->problem()));
        QVERIFY(!w->saveButton->isEnabled());
        QVERIFY(!w->printButton->isEnabled());
    }

    // A fault found beyond the first page, which the preview does not look at, stops Save before any file.
    void aRunRefusedPastThePreviewWritesNoFile() {
        open();
        chooseStock(u"roll-57x32"_s); // one label a page: the preview reads one identifier
        typeInto(w->idsEdit, u"KLT1001 KLT9999"_s);
        QVERIFY(w->saveButton->isEnabled());
        DialogScript::setNextFileName(dir->filePath(u"labels.pdf"_s));
        w->saveButton->click();
        QCOMPARE(messageTexts(), QStringList{u"No labels were printed:\n\nNo asset has the identifier 'KLT9999'."_s});
        QCOMPARE(filesIn(dir->path()), QStringList());
        QCOMPARE(DialogScript::pendingScript(), 1); // no file was asked for
    }

    // An identifier with a letter Code 128 cannot carry is labelled with its QR code alone, and the window says
    // why.
    void saysWhyAnIdentifierHasNoCode128() {
        open();
        w->idsEdit->setPlainText(u"SŁ1004 KLT1001"_s);
        w->code128Check->click();
        QCOMPARE(
            w->notesLabel->text(),
            u"SŁ1004 has no Code 128 symbol: Code 128 carries only ASCII letters, digits and signs, and 'Ł' is not "
            "one of them. Its labels carry the QR code alone, in UTF-8."_s);
    }

    // The offset is kept for the stock it was printed with, on this machine, in the user's settings.
    void theOffsetIsRememberedPerStockOnThisMachine() {
        open();
        chooseStock(u"a4-21"_s);
        QCOMPARE(w->offsetXEdit->text(), u"0"_s);
        typeInto(w->offsetXEdit, u"1.5"_s);
        typeInto(w->offsetYEdit, u"-0,5"_s);
        DialogScript::setNextFileName(dir->filePath(u"labels.pdf"_s));
        w->saveButton->click();
        QCOMPARE(messageTexts(), QStringList());
        const QSettings stored(settingsFile(), QSettings::IniFormat);
        QCOMPARE(stored.value(QSysInfo::machineHostName() + u"/offset-a4-21-y"_s).toDouble(), -0.5);

        open();
        QCOMPARE(w->stockCombo->currentData().toString(), u"a4-21"_s);
        QCOMPARE(w->offsetXEdit->text(), u"1.5"_s);
        chooseStock(u"a4-24"_s);
        QCOMPARE(w->offsetXEdit->text(), u"0"_s);
        chooseStock(u"a4-21"_s);
        QCOMPARE(w->offsetYEdit->text(), u"-0.5"_s);
    }

    // Print goes through the print dialog; the labels come out on the stock's page.
    void printsThroughThePrintDialog() {
        open();
        chooseStock(u"letter-30"_s);
        const QString pdf = dir->filePath(u"printed.pdf"_s);
        w->printer().setOutputFileName(pdf);
        DialogScript::setNextPrintAccepted(false);
        w->printButton->click();
        QVERIFY(!QFile::exists(pdf));
        DialogScript::setNextPrintAccepted(true);
        w->printButton->click();
        QCOMPARE(messageTexts(), QStringList());
        const std::vector<PdfPage> pages = readPdfPages(pdf);
        QCOMPARE(pages.size(), size_t(1));
        QVERIFY(std::abs(pages[0].mm.width() - 215.9) < 0.2 && std::abs(pages[0].mm.height() - 279.4) < 0.2);
        const auto decoded = decodeRegions(renderPdfPage(pdf, 1), {presetStock(u"letter-30"_s)->labelRect(0)});
        QCOMPARE(decoded[0].size(), size_t(1));
        QCOMPARE(decoded[0][0].data, u"KLT1001"_s);
    }
};

QTEST_MAIN(TestLabelsWindow)
#include "tst_labelswindow.moc"
