// Pages are shown from their bytes rather than through QTextBrowser::setSource, so that the 8-bit report
// files are decoded as Latin-1 and a save writes back exactly what was read. QTextBrowser lays a table out
// whole, and again whenever a row is added to it, so a long table is shown in blocks instead: each block
// of rows is parsed on its own (behind the page's markup up to the table's start tag, so it is styled as
// on the page) and its table is inserted after the previous block's, with the first block's format and
// column widths and a negative top margin that lays its top border over the previous block's bottom
// border. Only the new block's table is laid out, so a block takes a fraction of a second however many
// rows are already shown.
#include "widgets/htmlview.h"

#include "data/errors.h"
#include "widgets/dialogs.h"

#include <QAbstractTextDocumentLayout>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QPrinter>
#include <QSaveFile>
#include <QScrollBar>
#include <QTemporaryFile>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextTable>
#include <QTimer>
#include <QUrl>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>
#include <vector>
#ifdef __GLIBC__
#include <malloc.h>
#endif

namespace {

// Pages whose longest table starts further in than this are shown whole: every block is parsed behind
// the markup before the table, and beyond this that would cost more than the rows themselves.
constexpr qsizetype kMaxMarkupBeforeTable = 256 * 1024;

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

// ---------------------------------------------------------------------------------------------------------
// Reading the page's tags

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool isNameChar(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

// Whether the bytes [from, to) are word, which is lower case, without regard to case.
bool sameName(const char* data, qsizetype from, qsizetype to, const char* word) {
    const qsizetype length = static_cast<qsizetype>(std::strlen(word));
    if (to - from != length) {
        return false;
    }
    for (qsizetype i = 0; i < length; ++i) {
        if (lowerAscii(data[from + i]) != word[i]) {
            return false;
        }
    }
    return true;
}

// The first place at or after from where needle (lower case) starts, without regard to case; size when none.
qsizetype findNoCase(const char* data, qsizetype size, qsizetype from, const char* needle) {
    const qsizetype length = static_cast<qsizetype>(std::strlen(needle));
    for (qsizetype i = from; i + length <= size; ++i) {
        if (lowerAscii(data[i]) != needle[0]) {
            continue;
        }
        qsizetype k = 1;
        while (k < length && lowerAscii(data[i + k]) == needle[k]) {
            ++k;
        }
        if (k == length) {
            return i;
        }
    }
    return size;
}

// The '>' that ends the tag whose name ends at from; quoted attribute values may hold '>'. size when the
// page ends first.
qsizetype tagEnd(const char* data, qsizetype size, qsizetype from) {
    for (qsizetype i = from; i < size; ++i) {
        const char c = data[i];
        if (c == '>') {
            return i;
        }
        if (c == '"' || c == '\'') {
            const void* close = std::memchr(data + i + 1, c, static_cast<size_t>(size - i - 1));
            if (!close) {
                return size;
            }
            i = static_cast<const char*>(close) - data;
        }
    }
    return size;
}

// ---------------------------------------------------------------------------------------------------------
// The tables of a QTextDocument

void collectTables(QTextFrame* frame, QList<QTextTable*>& out) {
    const QList<QTextFrame*> children = frame->childFrames();
    for (QTextFrame* child : children) {
        if (auto* table = qobject_cast<QTextTable*>(child)) {
            out.append(table);
        }
        collectTables(child, out);
    }
}

// Every table of document in the order their start tags had on the page.
QList<QTextTable*> tablesOf(QTextDocument& document) {
    QList<QTextTable*> tables;
    collectTables(document.rootFrame(), tables);
    return tables;
}

// How many of the tables listed (by start offset, ascending) start in [from, to).
qsizetype tablesBetween(const QList<qsizetype>& starts, qsizetype from, qsizetype to) {
    auto first = std::lower_bound(starts.begin(), starts.end(), from);
    auto last = std::lower_bound(starts.begin(), starts.end(), to);
    return last - first;
}

} // namespace

HtmlTableRows findLongestTable(const QByteArray& page) {
    struct OpenTable {
        qsizetype start;
        qsizetype openEnd;
        QList<qsizetype> rows;
        bool hasCells = false;
        bool spansRows = false;
    };
    HtmlTableRows best;
    QList<OpenTable> open;
    const char* data = page.constData();
    const qsizetype size = page.size();

    auto closeTable = [&](qsizetype end) {
        OpenTable table = open.takeLast();
        if (table.hasCells) {
            best.tablesWithCells.append(table.start);
        }
        if (table.rows.size() > best.rowStarts.size()) {
            best.tableStart = table.start;
            best.tableOpenEnd = table.openEnd;
            best.tableEnd = end;
            best.rowStarts = std::move(table.rows);
            best.spansRows = table.spansRows;
        }
    };

    qsizetype at = 0;
    while (at < size) {
        const void* found = std::memchr(data + at, '<', static_cast<size_t>(size - at));
        if (!found) {
            break;
        }
        const qsizetype lt = static_cast<const char*>(found) - data;
        if (size - lt >= 4 && std::memcmp(data + lt, "<!--", 4) == 0) {
            const qsizetype close = findNoCase(data, size, lt + 4, "-->");
            at = close + 3;
            continue;
        }
        qsizetype nameStart = lt + 1;
        const bool closing = nameStart < size && data[nameStart] == '/';
        if (closing) {
            ++nameStart;
        }
        qsizetype nameEnd = nameStart;
        while (nameEnd < size && isNameChar(data[nameEnd])) {
            ++nameEnd;
        }
        if (nameEnd == nameStart) {
            at = lt + 1; // a '<' in text, or a declaration
            continue;
        }
        const qsizetype gt = tagEnd(data, size, nameEnd);
        at = gt + 1;
        if (closing) {
            if (sameName(data, nameStart, nameEnd, "table") && !open.isEmpty()) {
                closeTable(lt);
            }
            continue;
        }
        if (sameName(data, nameStart, nameEnd, "table")) {
            open.append(OpenTable{lt, std::min(gt + 1, size), {}});
        } else if (sameName(data, nameStart, nameEnd, "tr")) {
            if (!open.isEmpty()) {
                open.last().rows.append(lt);
            }
        } else if (sameName(data, nameStart, nameEnd, "td") || sameName(data, nameStart, nameEnd, "th")) {
            if (!open.isEmpty()) {
                open.last().hasCells = true;
                if (findNoCase(data, gt, nameEnd, "rowspan") < gt) {
                    open.last().spansRows = true;
                }
            }
        } else if (sameName(data, nameStart, nameEnd, "style") || sameName(data, nameStart, nameEnd, "script")) {
            // Their text is not markup; it runs to the matching end tag.
            const char* endTag = sameName(data, nameStart, nameEnd, "style") ? "</style" : "</script";
            at = findNoCase(data, size, at, endTag);
        }
    }
    while (!open.isEmpty()) {
        closeTable(size);
    }
    std::sort(best.tablesWithCells.begin(), best.tablesWithCells.end());
    return best;
}

// ---------------------------------------------------------------------------------------------------------
// The rows still to show

// Holds a split page: the bytes, where its longest table's rows lie, how many of them are shown and the
// table that shows the last of them. It appends blocks as the view nears the last row shown, or one per
// pass of the event loop once the user has asked for the end.
class TextBrowserView::RowFeeder : public QObject {
public:
    explicit RowFeeder(QTextBrowser& browser);

    // Forgets the page shown, if it was split.
    void reset();
    // Shows page with only the first block of its longest table's rows; false (with nothing settled)
    // when the document made of that part does not hold the tables the page's tags promise, or its table
    // cannot be continued seamlessly.
    bool showSplit(const QByteArray& page, HtmlTableRows rows);
    bool split() const { return !lastTable_.isNull(); }
    bool complete() const { return !split() || nextRow_ >= rows_.rowStarts.size(); }
    // Appends every row not yet shown.
    void finish();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void schedule();
    void tick();
    // Appends the next block of rows; false when it could not be made, in which case the page has been
    // shown whole instead.
    bool appendBlock();
    // Gives the first table column widths the blocks after it will share, from the widths it was laid out
    // with; a table whose columns all have widths keeps them.
    void fixColumnWidths();
    void showWhole();
    bool nearLastRow() const;

    QTextBrowser& browser_;
    QTimer tick_;
    QByteArray page_;
    HtmlTableRows rows_;
    qsizetype tableIndex_ = 0; // the table's place among the page's tables that have cells
    qsizetype nextRow_ = 0;
    QPointer<QTextTable> lastTable_;
    qreal bottomMargin_ = 0;
    bool widthsFixed_ = false;
    bool toEnd_ = false;   // the user asked for the end: every block is brought in
    bool atBottom_ = true; // the view was at the bottom when last moved
};

TextBrowserView::RowFeeder::RowFeeder(QTextBrowser& browser) : QObject(&browser), browser_(browser) {
    tick_.setSingleShot(true);
    tick_.setInterval(0);
    connect(&tick_, &QTimer::timeout, this, &RowFeeder::tick);
    QScrollBar* bar = browser.verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, [this, bar](int value) {
        atBottom_ = value >= bar->maximum();
        schedule();
    });
    connect(bar, &QScrollBar::rangeChanged, this, [this, bar](int, int maximum) {
        // While every row is brought in, a view left at the bottom stays there as the rows arrive.
        if (toEnd_ && atBottom_ && !bar->isSliderDown()) {
            bar->setValue(maximum);
        }
        schedule();
    });
    connect(bar, &QScrollBar::actionTriggered, this, [this](int action) {
        if (action == QAbstractSlider::SliderToMaximum) {
            toEnd_ = true;
            schedule();
        }
    });
    connect(bar, &QScrollBar::sliderMoved, this, [this, bar](int value) {
        if (value >= bar->maximum()) {
            toEnd_ = true;
            schedule();
        }
    });
    browser.installEventFilter(this);
}

void TextBrowserView::RowFeeder::reset() {
    tick_.stop();
    page_.clear();
    rows_ = HtmlTableRows();
    nextRow_ = 0;
    lastTable_.clear();
    widthsFixed_ = false;
    toEnd_ = false;
    atBottom_ = true;
}

bool TextBrowserView::RowFeeder::showSplit(const QByteArray& page, HtmlTableRows rows) {
    reset();
    const qsizetype firstBlockEnd = rows.rowStarts[kFirstBlockRows];
    QByteArray shown;
    shown.reserve(firstBlockEnd + page.size() - rows.tableEnd);
    shown.append(page.constData(), firstBlockEnd);
    shown.append(page.constData() + rows.tableEnd, page.size() - rows.tableEnd);
    browser_.setHtml(QString::fromLatin1(shown));

    QTextDocument& document = *browser_.document();
    const QList<QTextTable*> tables = tablesOf(document);
    const QList<qsizetype>& starts = rows.tablesWithCells;
    const qsizetype expected =
        tablesBetween(starts, 0, firstBlockEnd) + tablesBetween(starts, rows.tableEnd, page.size());
    const qsizetype index = tablesBetween(starts, 0, rows.tableStart);
    if (tables.size() != expected || index >= tables.size() || tables[index]->format().borderCollapse()) {
        return false;
    }
    page_ = page;
    rows_ = std::move(rows);
    tableIndex_ = index;
    nextRow_ = kFirstBlockRows;
    lastTable_ = tables[index];
    bottomMargin_ = lastTable_->format().bottomMargin();
    schedule();
    return true;
}

void TextBrowserView::RowFeeder::finish() {
    while (!complete() && appendBlock()) {
    }
}

bool TextBrowserView::RowFeeder::eventFilter(QObject* watched, QEvent* event) {
    if (watched == &browser_ && split()) {
        if (event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_End) {
            toEnd_ = true;
            atBottom_ = true;
            schedule();
        } else if (event->type() == QEvent::Show || event->type() == QEvent::Resize) {
            schedule();
        }
    }
    return QObject::eventFilter(watched, event);
}

void TextBrowserView::RowFeeder::schedule() {
    if (!complete() && !tick_.isActive()) {
        tick_.start();
    }
}

void TextBrowserView::RowFeeder::tick() {
    // A view closed while its rows arrive stops bringing them in; shown again, it carries on.
    if (complete() || !browser_.isVisible()) {
        return;
    }
    if ((toEnd_ || nearLastRow()) && appendBlock()) {
        // Checked again once the view has taken the new rows in: one block may not be enough.
        schedule();
    }
}

bool TextBrowserView::RowFeeder::nearLastRow() const {
    if (!lastTable_) {
        return false;
    }
    const qreal viewHeight = browser_.viewport()->height();
    const qreal viewBottom = browser_.verticalScrollBar()->value() + viewHeight;
    const qreal rowsBottom = browser_.document()->documentLayout()->frameBoundingRect(lastTable_).bottom();
    return rowsBottom - viewBottom < 2 * viewHeight;
}

bool TextBrowserView::RowFeeder::appendBlock() {
    const qsizetype total = rows_.rowStarts.size();
    const qsizetype last = std::min(nextRow_ + kBlockRows, total);
    const qsizetype from = rows_.rowStarts[nextRow_];
    const qsizetype to = last < total ? rows_.rowStarts[last] : rows_.tableEnd;

    // The block's rows behind everything up to the table's start tag, so they are styled as on the page.
    QByteArray html;
    html.reserve(rows_.tableOpenEnd + (to - from) + 8);
    html.append(page_.constData(), rows_.tableOpenEnd);
    html.append(page_.constData() + from, to - from);
    html.append("</table>");
    QTextDocument scratch;
    scratch.setUndoRedoEnabled(false);
    scratch.setHtml(QString::fromLatin1(html));
    const QList<QTextTable*> tables = tablesOf(scratch);
    const QList<qsizetype>& starts = rows_.tablesWithCells;
    if (tables.size() != tablesBetween(starts, 0, rows_.tableOpenEnd) + tablesBetween(starts, from, to) ||
        tableIndex_ >= tables.size()) {
        showWhole();
        return false;
    }
    if (!widthsFixed_) {
        fixColumnWidths();
        widthsFixed_ = true;
    }
    // The block's table takes the previous block's format before it is moved, so it is laid out once.
    QTextTableFormat previous = lastTable_->format();
    QTextTableFormat format = previous;
    // Its top border lies over the previous block's bottom border, so the seam looks like the line
    // between two rows of one table.
    format.setTopMargin(-(2 * previous.border() + previous.cellSpacing()));
    format.setBottomMargin(bottomMargin_);
    format.setHeaderRowCount(0);
    QTextTable* source = tables[tableIndex_];
    source->setFormat(format);
    QTextCursor pick(&scratch);
    pick.setPosition(source->firstPosition() - 1);
    pick.setPosition(source->lastPosition() + 1, QTextCursor::KeepAnchor);
    const QTextDocumentFragment block(pick);

    if (previous.bottomMargin() != 0) {
        previous.setBottomMargin(0);
        lastTable_->setFormat(previous);
    }
    QTextFrame* parent = lastTable_->parentFrame();
    const int after = lastTable_->lastPosition() + 1;
    QTextCursor at(browser_.document());
    at.setPosition(after);
    at.insertFragment(block);
    QTextTable* added = nullptr;
    for (QTextFrame* child : parent->childFrames()) {
        if (child->firstPosition() > after) {
            added = qobject_cast<QTextTable*>(child);
            break;
        }
    }
    if (!added) {
        showWhole();
        return false;
    }
    lastTable_ = added;
    nextRow_ = last;
    return true;
}

void TextBrowserView::RowFeeder::fixColumnWidths() {
    QTextTable& table = *lastTable_;
    QTextTableFormat format = table.format();
    const int columns = table.columns();
    const QList<QTextLength> given = format.columnWidthConstraints();
    const bool allGiven = given.size() == columns && std::none_of(given.begin(), given.end(), [](const QTextLength& l) {
                              return l.type() == QTextLength::VariableLength;
                          });
    if (allGiven || columns == 0) {
        return;
    }
    QTextDocument& document = *browser_.document();
    if (document.pageSize().width() <= 0) {
        // A view never shown has not laid its page out; it is measured as wide as the view is now.
        document.setTextWidth(browser_.viewport()->width());
    }
    // Each column's left edge and text width from a cell that spans it alone. A column's width is the
    // distance to the next column's left edge less the borders and spacing between them; the last one's is
    // its text width plus the padding the first column has around its text.
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    const auto count = static_cast<size_t>(columns);
    std::vector<qreal> left(count, -1);
    std::vector<qreal> text(count, -1);
    for (size_t c = 0; c < count; ++c) {
        for (int r = 0; r < table.rows(); ++r) {
            const QTextTableCell cell = table.cellAt(r, static_cast<int>(c));
            if (cell.column() != static_cast<int>(c) || cell.columnSpan() != 1) {
                continue;
            }
            const QTextBlock block = cell.firstCursorPosition().block();
            const QTextBlockFormat blockFormat = block.blockFormat();
            const qreal before = blockFormat.leftMargin() + blockFormat.indent() * document.indentWidth();
            const QRectF rect = layout->blockBoundingRect(block);
            left[c] = rect.left() - before;
            text[c] = rect.width() + before + blockFormat.rightMargin();
            break;
        }
        if (left[c] < 0) {
            return; // no cell spans this column alone: the blocks keep the page's own widths
        }
    }
    const qreal between = 2 * format.border() + format.cellSpacing();
    std::vector<qreal> widths(count);
    for (size_t c = 0; c + 1 < count; ++c) {
        widths[c] = left[c + 1] - left[c] - between;
    }
    widths[count - 1] = text[count - 1] + (count > 1 ? widths[0] - text[0] : 2 * format.cellPadding());
    qreal sum = 0;
    for (qreal w : widths) {
        if (w <= 0) {
            return;
        }
        sum += w;
    }
    // A table as wide as its contents keeps its columns' widths. In a table as wide as a share of the page
    // the columns keep their shares, so the blocks stay aligned however the view is resized, and the last
    // column takes what rounding leaves, so the table stays as wide as before.
    QList<QTextLength> constraints;
    const bool contentWide = format.width().type() == QTextLength::VariableLength;
    for (size_t c = 0; c < count; ++c) {
        if (contentWide) {
            constraints.append(QTextLength(QTextLength::FixedLength, widths[c]));
        } else if (c + 1 < count) {
            // An eighth of a pixel more, so the layout's rounding down of a share does not cost a pixel.
            constraints.append(QTextLength(QTextLength::PercentageLength, 100.0 * (widths[c] + 1.0 / 8) / sum));
        } else {
            constraints.append(QTextLength());
        }
    }
    format.setColumnWidthConstraints(constraints);
    table.setFormat(format);
}

void TextBrowserView::RowFeeder::showWhole() {
    const QByteArray page = page_;
    const int position = browser_.verticalScrollBar()->value();
    reset();
    browser_.setHtml(QString::fromLatin1(page));
    browser_.verticalScrollBar()->setValue(position);
}

// ---------------------------------------------------------------------------------------------------------
// The view

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

void TextBrowserView::showWholePage() {
    feeder_->finish();
}

void TextBrowserView::clear() {
    feeder_->reset();
    bytes_ = QByteArray();
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
    QFile file(path);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        showPage(notFoundPage(address), QString());
        return;
    }
    showPage(file.readAll(), QFileInfo(path).absolutePath());
}

void TextBrowserView::showPage(const QByteArray& bytes, const QString& folder) {
    feeder_->reset();
    bytes_ = bytes;
    if (folder.isEmpty()) {
        browser_->setSearchPaths({});
        browser_->document()->setBaseUrl(QUrl());
    } else {
        browser_->setSearchPaths({folder});
        browser_->document()->setBaseUrl(QUrl::fromLocalFile(folder + QLatin1Char('/')));
    }
    HtmlTableRows rows = findLongestTable(bytes);
    // A page with rows that span rows cannot be cut between rows.
    if (rows.rowStarts.size() > kSplitRows && !rows.spansRows && rows.tableOpenEnd <= kMaxMarkupBeforeTable &&
        feeder_->showSplit(bytes, std::move(rows))) {
        return;
    }
    browser_->setHtml(QString::fromLatin1(bytes));
}

QTextDocument* TextBrowserView::wholeDocument(std::unique_ptr<QTextDocument>& holder) const {
    QTextDocument* shown = browser_->document();
    if (!feeder_->split()) {
        return shown;
    }
    // Made a child of the browser, so pictures are looked up the same way as for the page shown.
    holder = std::make_unique<QTextDocument>(browser_.data());
    holder->setUndoRedoEnabled(false);
    holder->setDefaultFont(shown->defaultFont());
    holder->setDefaultStyleSheet(shown->defaultStyleSheet());
    holder->setDefaultTextOption(shown->defaultTextOption());
    holder->setDocumentMargin(shown->documentMargin());
    holder->setIndentWidth(shown->indentWidth());
    holder->setBaseUrl(shown->baseUrl());
    holder->setHtml(QString::fromLatin1(bytes_));
    return holder.get();
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
    printTo(printer);
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

void TextBrowserView::printTo(QPrinter& printer) {
    QString target = printer.outputFormat() == QPrinter::PdfFormat ? printer.outputFileName() : printer.printerName();
    if (target.isEmpty()) {
        throw ControlError(QStringLiteral("No printer or file was chosen to print the page to"));
    }
    if (!printer.isValid()) {
        throw ControlError(QStringLiteral("The printer %1 cannot be used").arg(target));
    }
    std::unique_ptr<QTextDocument> whole;
    wholeDocument(whole)->print(&printer);
    bool written = printer.outputFormat() != QPrinter::PdfFormat || QFileInfo(target).size() > 0;
    if (printer.printerState() == QPrinter::Error || !written) {
        throw ControlError(QStringLiteral("Could not print the page to %1").arg(QDir::toNativeSeparators(target)));
    }
}
