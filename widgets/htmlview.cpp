// The page view. Pages are shown from their bytes rather than through QTextBrowser::setSource, so that the
// 8-bit report files are decoded as Latin-1 and a save writes back exactly what was read. The view keeps
// those bytes: a long table is fed into the browser a block at a time from them (rowfeeder.h), and printing
// and saving as PDF lay the page out from them afresh (pageprinter.h), so both always have the whole page.
#include "widgets/htmlview.h"

#include "data/errors.h"
#include "widgets/dialogs.h"
#include "widgets/htmlscan.h"
#include "widgets/pageprinter.h"
#include "widgets/rowfeeder.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPrinter>
#include <QSaveFile>
#include <QTemporaryFile>
#include <QTextBrowser>
#include <QUrl>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#ifdef __GLIBC__
#include <malloc.h>
#endif

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

// The permissions the user's new files get: read and write for all, less what the process's mask takes.
QFileDevice::Permissions newFilePermissions() {
    const mode_t mask = umask(0);
    umask(mask);
    QFileDevice::Permissions p;
    const mode_t mode = 0666 & ~mask;
    if (mode & S_IRUSR)
        p |= QFileDevice::ReadOwner | QFileDevice::ReadUser;
    if (mode & S_IWUSR)
        p |= QFileDevice::WriteOwner | QFileDevice::WriteUser;
    if (mode & S_IRGRP)
        p |= QFileDevice::ReadGroup;
    if (mode & S_IWGRP)
        p |= QFileDevice::WriteGroup;
    if (mode & S_IROTH)
        p |= QFileDevice::ReadOther;
    if (mode & S_IWOTH)
        p |= QFileDevice::WriteOther;
    return p;
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
    // Nothing is ever undone in a view, and rows appended to a long page would only fill the undo stack.
    browser_->document()->setUndoRedoEnabled(false);
    feeder_ = new RowFeeder(*browser_);
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

bool TextBrowserView::pageComplete() const {
    return feeder_->complete();
}

bool TextBrowserView::viewSettled() const {
    return feeder_->settled();
}

void TextBrowserView::showWholePage() {
    feeder_->finish();
}

void TextBrowserView::clear() {
    feeder_->reset();
    bytes_ = QByteArray();
    pageFile_.reset();
    address_.clear();
    browser_->document()->clear();
    browser_->setSearchPaths({});
    browser_->document()->setBaseUrl(QUrl());
    // The page's memory goes back to the system rather than staying with the allocator.
#ifdef __GLIBC__
    malloc_trim(0);
#endif
}

void TextBrowserView::navigate(const QString& address) {
    address_ = address;
    QString path = localFileOf(address);
    auto file = std::make_unique<QFile>(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !file->open(QIODevice::ReadOnly)) {
        showPage(notFoundPage(address), QString());
        pageFile_.reset();
        return;
    }
    // Mapped, not read: showing a long page's first rows touches only them and the page's other parts. The
    // page's own folder belongs to this user and this run, so nobody changes the file while it is shown.
    const qint64 size = file->size();
    const uchar* mapped = size > 0 ? file->map(0, size) : nullptr;
    const QByteArray bytes =
        mapped ? QByteArray::fromRawData(reinterpret_cast<const char*>(mapped), size) : file->readAll();
    showPage(bytes, QFileInfo(path).absolutePath(), writtenTableOf(QFileInfo(path).absoluteFilePath()));
    // The page shown before may be in the old mapping until now.
    pageFile_ = std::move(file);
}

void TextBrowserView::showPage(const QByteArray& bytes, const QString& folder, const HtmlTableRows& written) {
    feeder_->reset();
    bytes_ = bytes;
    if (folder.isEmpty()) {
        browser_->setSearchPaths({});
        browser_->document()->setBaseUrl(QUrl());
    } else {
        browser_->setSearchPaths({folder});
        browser_->document()->setBaseUrl(QUrl::fromLocalFile(folder + QLatin1Char('/')));
    }
    HtmlTableRows rows = written.tableStart >= 0 ? findLongestTable(bytes, written) : findLongestTable(bytes);
    if (PageBlocks::cutsIntoBlocks(rows) && feeder_->showSplit(bytes, std::move(rows))) {
        return;
    }
    browser_->setHtml(QString::fromLatin1(bytes));
}

void TextBrowserView::saveAs() {
    const QString pdfType = QStringLiteral("PDF (*.pdf)");
    QString fileType;
    QString fileName = Dialogs::getSaveFileName(browser_, QStringLiteral("Save As"),
                                                QStringLiteral("Web page (*.htm *.html);;") + pdfType, &fileType);
    if (fileName.isEmpty()) {
        return;
    }
    // A name's own ending decides; a name without one gets the ending of the file type chosen.
    const QString ending = QFileInfo(fileName).suffix().toLower();
    bool pdf = ending == QLatin1String("pdf");
    if (!pdf && ending != QLatin1String("htm") && ending != QLatin1String("html")) {
        pdf = fileType == pdfType;
        fileName += pdf ? QStringLiteral(".pdf") : QStringLiteral(".htm");
    }
    if (pdf) {
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
    // The PDF is printed into a new file beside the target and put in the target's place only when it is
    // complete, so a print that fails leaves a PDF already there as it was.
    const QFileInfo target(fileName);
    QTemporaryFile part(target.absolutePath() + QStringLiteral("/.") + target.fileName() + QStringLiteral(".XXXXXX"));
    if (!part.open()) {
        throw ControlError(QStringLiteral("Cannot save the page as %1: %2")
                               .arg(QDir::toNativeSeparators(fileName), part.errorString()));
    }
    part.close();
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(part.fileName());
    if (!printTo(printer)) {
        return; // cancelled: the file already there stays as it was
    }
    // A new file gets the permissions any new file of the user gets; a replaced one keeps its own.
    QFileDevice::Permissions permissions = target.exists() ? QFile::permissions(fileName) : newFilePermissions();
    QFile::setPermissions(part.fileName(), permissions);
    if (std::rename(QFile::encodeName(part.fileName()).constData(), QFile::encodeName(fileName).constData()) != 0) {
        throw ControlError(QStringLiteral("Cannot save the page as %1: %2")
                               .arg(QDir::toNativeSeparators(fileName), QString::fromLocal8Bit(std::strerror(errno))));
    }
    part.setAutoRemove(false);
}

void TextBrowserView::print() {
    QPrinter printer(QPrinter::HighResolution);
    if (!Dialogs::execPrintDialog(browser_, printer)) {
        return;
    }
    printTo(printer);
}

bool TextBrowserView::printTo(QPrinter& printer) {
    return printHtmlPage(bytes_, *browser_, printer);
}
