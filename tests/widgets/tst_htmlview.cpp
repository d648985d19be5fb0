// The page view: local pages with pictures beside them, the notice for a missing page, saving as a page
// or a PDF through the save dialog, and printing through the print dialog.
#include "data/errors.h"
#include "widgets/dialogs.h"
#include "widgets/htmlview.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWidget>
#include <QtPrintSupport/QPrinter>

namespace {

const QColor kLogoColour(230, 20, 30);

// A view whose printing goes to a PDF file in place of the printer the dialog would have chosen,
// counting the pages sent.
class PdfPrintingView : public TextBrowserView {
public:
    explicit PdfPrintingView(QString pdf) : pdf_(std::move(pdf)) {}
    int printed = 0;

protected:
    void printTo(QPrinter& printer) override {
        ++printed;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(pdf_);
        TextBrowserView::printTo(printer);
    }

private:
    QString pdf_;
};

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The text of the ControlError work raises, or an empty string when it raises none.
template <typename Work> QString controlErrorText(Work work) {
    try {
        work();
    } catch (const ControlError& e) {
        return e.text();
    }
    return QString();
}

} // namespace

class TestHtmlView : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void localPageShowsTextAndRelativePicture();
    void missingPageShowsNotice();
    void addressIsTakenLiterally();
    void saveAsPageWritesTheOriginalBytes();
    void saveAsPdfWritesPdf();
    void saveAsCancelledWritesNothing();
    void saveAsUnwritableFileIsAnError();
    void printCancelledPrintsNothing();
    void printAcceptedPrintsThePage();

private:
    QString pagePath() const { return dir_->filePath(QStringLiteral("report.htm")); }
    QString address() const { return QStringLiteral("file://") + pagePath(); }

    std::unique_ptr<QTemporaryDir> dir_;
    QByteArray pageBytes_;
};

void TestHtmlView::initTestCase() {
    DialogScript::enable();
}

void TestHtmlView::init() {
    DialogScript::reset();
    dir_ = std::make_unique<QTemporaryDir>();
    QVERIFY(dir_->isValid());
    QImage logo(60, 40, QImage::Format_RGB32);
    logo.fill(kLogoColour);
    QVERIFY(logo.save(dir_->filePath(QStringLiteral("logo.png"))));
    // An 8-bit page: "Caf\xe9" is Latin-1 and not valid UTF-8.
    pageBytes_ = QByteArray("<html><body><h1>Asset list</h1><p>Caf\xe9 chairs</p>"
                            "<p><img src=\"logo.png\"></p></body></html>\r\n");
    QFile page(pagePath());
    QVERIFY(page.open(QIODevice::WriteOnly));
    page.write(pageBytes_);
}

void TestHtmlView::cleanup() {
    QCOMPARE(DialogScript::pendingScript(), 0);
    QVERIFY(DialogScript::unexpectedModals().empty());
    dir_.reset();
}

void TestHtmlView::localPageShowsTextAndRelativePicture() {
    TextBrowserView view;
    view.navigate(address());
    QCOMPARE(view.currentAddress(), address());
    QVERIFY(view.documentText().contains(QStringLiteral("Caf\u00e9 chairs")));

    QWidget* widget = view.widget();
    widget->resize(400, 300);
    QImage shown = widget->grab().toImage();
    int logoPixels = 0;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            logoPixels += shown.pixelColor(x, y) == kLogoColour ? 1 : 0;
        }
    }
    QVERIFY2(logoPixels >= 60 * 40 / 2, "the picture beside the page was not shown");
}

void TestHtmlView::missingPageShowsNotice() {
    TextBrowserView view;
    view.navigate(address());
    QString missing = QStringLiteral("file://") + dir_->filePath(QStringLiteral("nowhere.htm"));
    view.navigate(missing);
    QCOMPARE(view.currentAddress(), missing);
    QVERIFY(view.documentText().contains(QStringLiteral("cannot be found")));
    QVERIFY(!view.documentText().contains(QStringLiteral("Asset list")));
    QVERIFY(DialogScript::messages().empty());

    // Saving a missing page writes the notice shown, not the page shown before it.
    QString saved = dir_->filePath(QStringLiteral("notice.htm"));
    DialogScript::setNextFileName(saved);
    view.saveAs();
    QVERIFY(readAll(saved).contains("cannot be found"));
}

void TestHtmlView::addressIsTakenLiterally() {
    // A folder name that a URL parser would read as a fragment and an escape.
    QString folder = dir_->filePath(QStringLiteral("Room #2 100%20"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QFile::copy(pagePath(), folder + QStringLiteral("/report.htm")));
    TextBrowserView view;
    view.navigate(QStringLiteral("file://") + folder + QStringLiteral("/report.htm"));
    QVERIFY(view.documentText().contains(QStringLiteral("Asset list")));

    // The same page through an encoded URL.
    view.navigate(QUrl::fromLocalFile(folder + QStringLiteral("/report.htm")).toString(QUrl::FullyEncoded));
    QVERIFY(view.documentText().contains(QStringLiteral("Asset list")));
}

void TestHtmlView::saveAsPageWritesTheOriginalBytes() {
    TextBrowserView view;
    view.navigate(address());
    QString saved = dir_->filePath(QStringLiteral("copy.htm"));
    DialogScript::setNextFileName(saved);
    view.saveAs();
    QCOMPARE(readAll(saved), pageBytes_);

    // An existing file is replaced whole.
    QFile old(dir_->filePath(QStringLiteral("old.html")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write(QByteArray(4096, 'x'));
    old.close();
    DialogScript::setNextFileName(old.fileName());
    view.saveAs();
    QCOMPARE(readAll(old.fileName()), pageBytes_);
}

void TestHtmlView::saveAsPdfWritesPdf() {
    TextBrowserView view;
    view.navigate(address());
    QString saved = dir_->filePath(QStringLiteral("copy.PDF"));
    DialogScript::setNextFileName(saved);
    view.saveAs();
    QByteArray pdf = readAll(saved);
    QVERIFY(pdf.startsWith("%PDF"));
    QVERIFY(pdf.size() > 1000);
}

void TestHtmlView::saveAsCancelledWritesNothing() {
    TextBrowserView view;
    view.navigate(address());
    QStringList before = QDir(dir_->path()).entryList(QDir::Files);
    view.saveAs(); // no name queued: the dialog is cancelled
    QCOMPARE(QDir(dir_->path()).entryList(QDir::Files), before);
}

void TestHtmlView::saveAsUnwritableFileIsAnError() {
    TextBrowserView view;
    view.navigate(address());
    for (const QString& name : {QStringLiteral("copy.htm"), QStringLiteral("copy.pdf")}) {
        QString target = dir_->filePath(QStringLiteral("no such folder/") + name);
        DialogScript::setNextFileName(target);
        QString text = controlErrorText([&] { view.saveAs(); });
        QVERIFY2(text.contains(QDir::toNativeSeparators(target)), qPrintable(text));
        QVERIFY(!QFile::exists(target));
    }
}

void TestHtmlView::printCancelledPrintsNothing() {
    QString pdf = dir_->filePath(QStringLiteral("printed.pdf"));
    PdfPrintingView view(pdf);
    view.navigate(address());
    DialogScript::setNextPrintAccepted(false);
    view.print();
    QCOMPARE(view.printed, 0);
    QVERIFY(!QFile::exists(pdf));
}

void TestHtmlView::printAcceptedPrintsThePage() {
    QString pdf = dir_->filePath(QStringLiteral("printed.pdf"));
    PdfPrintingView view(pdf);
    view.navigate(address());
    DialogScript::setNextPrintAccepted(true);
    view.print();
    QCOMPARE(view.printed, 1);
    QVERIFY(readAll(pdf).startsWith("%PDF"));
}

QTEST_MAIN(TestHtmlView)
#include "tst_htmlview.moc"
