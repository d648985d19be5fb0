// Pages are shown from their bytes rather than through QTextBrowser::setSource, so that the 8-bit report
// files are decoded as Latin-1 and a save writes back exactly what was read.
#include "widgets/htmlview.h"

#include "data/errors.h"
#include "widgets/dialogs.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QSaveFile>
#include <QTextBrowser>
#include <QUrl>

namespace {

// The local file an address names. Addresses are made as "file://" followed by the path as it stands, so
// the path is taken literally (a folder may hold '#' or '%'); an encoded URL is accepted as well.
QString localFileOf(const QString& address) {
    const QString scheme = QStringLiteral("file://");
    if (!address.startsWith(scheme, Qt::CaseInsensitive)) {
        return address;
    }
    QString literal = address.mid(scheme.size());
    if (QFileInfo::exists(literal)) {
        return literal;
    }
    return QUrl(address).toLocalFile();
}

QByteArray notFoundPage(const QString& address) {
    QString page = QStringLiteral("<html><head><title>Page not found</title></head><body>"
                                  "<h2>The page cannot be found</h2>"
                                  "<p>There is no page at %1.</p></body></html>")
                       .arg(address.toHtmlEscaped());
    return page.toLatin1();
}

} // namespace

TextBrowserView::TextBrowserView(QWidget* parent) : browser_(new QTextBrowser(parent)) {
    browser_->setObjectName(QStringLiteral("WebBrowser1"));
    browser_->setOpenLinks(false);
}

TextBrowserView::~TextBrowserView() {
    // The browser belongs to this view unless a window has already destroyed it with its other children.
    delete browser_.data();
}

QWidget* TextBrowserView::widget() {
    return browser_;
}

QTextDocument* TextBrowserView::document() const {
    return browser_->document();
}

QString TextBrowserView::documentText() const {
    return browser_->document()->toPlainText();
}

void TextBrowserView::navigate(const QString& address) {
    address_ = address;
    QString path = localFileOf(address);
    QFile file(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        showPage(notFoundPage(address), QString());
        return;
    }
    showPage(file.readAll(), QFileInfo(path).absolutePath());
}

void TextBrowserView::showPage(const QByteArray& bytes, const QString& folder) {
    bytes_ = bytes;
    if (folder.isEmpty()) {
        browser_->setSearchPaths({});
        browser_->document()->setBaseUrl(QUrl());
    } else {
        browser_->setSearchPaths({folder});
        browser_->document()->setBaseUrl(QUrl::fromLocalFile(folder + QLatin1Char('/')));
    }
    browser_->setHtml(QString::fromLatin1(bytes));
}

void TextBrowserView::saveAs() {
    QString fileName = Dialogs::getSaveFileName(browser_, QStringLiteral("Save As"),
                                                QStringLiteral("Web page (*.htm *.html);;PDF (*.pdf)"));
    if (fileName.isEmpty()) {
        return;
    }
    if (fileName.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)) {
        savePdf(fileName);
    } else {
        saveBytes(fileName);
    }
}

void TextBrowserView::saveBytes(const QString& fileName) {
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes_) != bytes_.size() || !file.commit()) {
        throw ControlError(QStringLiteral("Cannot save the page as %1: %2")
                               .arg(QDir::toNativeSeparators(fileName), file.errorString()));
    }
}

void TextBrowserView::savePdf(const QString& fileName) {
    // The PDF writer fails silently when it cannot open its file, so the file is tried first.
    QFile probe(fileName);
    if (!probe.open(QIODevice::WriteOnly)) {
        throw ControlError(QStringLiteral("Cannot save the page as %1: %2")
                               .arg(QDir::toNativeSeparators(fileName), probe.errorString()));
    }
    probe.close();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(fileName);
    printTo(printer);
}

void TextBrowserView::print() {
    QPrinter printer(QPrinter::HighResolution);
    if (!Dialogs::execPrintDialog(browser_, printer)) {
        return;
    }
    printTo(printer);
}

void TextBrowserView::printTo(QPrinter& printer) {
    QString target = printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName() : printer.printerName();
    if (target.isEmpty()) {
        throw ControlError(QStringLiteral("No printer or file was chosen to print the page to"));
    }
    if (!printer.isValid()) {
        throw ControlError(QStringLiteral("The printer %1 cannot be used").arg(target));
    }
    browser_->document()->print(&printer);
    bool written = printer.outputFormat() != QPrinter::PdfFormat || QFileInfo(target).size() > 0;
    if (printer.printerState() == QPrinter::Error || !written) {
        throw ControlError(QStringLiteral("Could not print the page to %1").arg(QDir::toNativeSeparators(target)));
    }
}
