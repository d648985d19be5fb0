// The row feeder. QTextBrowser lays a table out whole, and again whenever a row is added to it, so a long
// table is shown in blocks instead: each block of rows is parsed on its own (behind the page's markup up to
// the table's start tag, so it is styled as on the page) and its table takes the place of the block's blank,
// with the first block's format and column widths and a negative top margin that lays its top border over
// the previous block's bottom border. Only the new block's table is laid out, so a block takes a fraction of
// a second however many rows the page has.
#include "widgets/rowfeeder.h"

#include "widgets/pageblocks.h"

#include <QAbstractTextDocumentLayout>
#include <QEvent>
#include <QKeyEvent>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextBrowser>
#include <QTextCursor>
#include <QTextDocumentFragment>
#include <QTextFrame>
#include <QTextTable>
#include <algorithm>

using PageBlocks::fixColumnWidths;
using PageBlocks::kBlockRows;
using PageBlocks::kFirstBlockRows;
using PageBlocks::tablesBetween;
using PageBlocks::tablesOf;

namespace {

// Finishes the layout the browser does a piece at a time after a change, and tells the browser the page's
// length, so its scroll bar reaches the page's end (asked for the size, the layout finishes without saying
// that the size changed).
void layOutToTheEnd(QTextBrowser& browser) {
    QAbstractTextDocumentLayout* layout = browser.document()->documentLayout();
    emit layout->documentSizeChanged(layout->documentSize());
}

// The format of a blank height tall with the given bottom margin, standing in for a block of rows: an
// empty table of one cell, so it abuts its neighbours as the blocks' tables do (a plain frame would get an
// empty paragraph between it and the next).
QTextTableFormat blankFormat(qreal height, qreal bottomMargin) {
    QTextTableFormat format;
    format.setBorder(0);
    format.setMargin(0);
    format.setPadding(0);
    format.setCellPadding(0);
    format.setCellSpacing(0);
    format.setBottomMargin(bottomMargin);
    format.setHeight(QTextLength(QTextLength::FixedLength, height));
    return format;
}

// The format of a table continuing first's rows: its top border lies over the bottom border of the table
// before, so the seam looks like the line between two rows of one table; no header rows, no bottom margin.
QTextTableFormat continuationFormat(const QTextTableFormat& first) {
    QTextTableFormat format = first;
    format.setTopMargin(-(2 * first.border() + first.cellSpacing()));
    format.setBottomMargin(0);
    format.setHeaderRowCount(0);
    return format;
}

} // namespace

RowFeeder::RowFeeder(QTextBrowser& browser) : QObject(&browser), browser_(browser) {
    tick_.setSingleShot(true);
    tick_.setInterval(0);
    connect(&tick_, &QTimer::timeout, this, &RowFeeder::tick);
    QScrollBar* bar = browser.verticalScrollBar();
    connect(bar, &QScrollBar::valueChanged, this, &RowFeeder::schedule);
    connect(bar, &QScrollBar::rangeChanged, this, &RowFeeder::schedule);
    browser.installEventFilter(this);
}

void RowFeeder::reset() {
    tick_.stop();
    page_.clear();
    rows_ = HtmlTableRows();
    blocks_.clear();
    waiting_ = 0;
}

bool RowFeeder::showSplit(const QByteArray& page, HtmlTableRows rows) {
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
    QTextTable& first = *tables[index];
    if (document.pageSize().width() <= 0) {
        // A view never shown has not laid its page out; it is measured as wide as the view is now.
        document.setTextWidth(browser_.viewport()->width());
    }
    fixColumnWidths(document, first);
    QTextTableFormat format = first.format();
    bottomMargin_ = format.bottomMargin();
    blockFormat_ = continuationFormat(format);
    format.setBottomMargin(0);
    first.setFormat(format);

    // The blocks still to come are expected to have rows as tall as the first block's after its first.
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    const auto rowTop = [&](int row) {
        return layout->blockBoundingRect(first.cellAt(row, 0).firstCursorPosition().block()).top();
    };
    const int shownRows = first.rows();
    qreal rowHeight = layout->frameBoundingRect(&first).height() / std::max(shownRows, 1);
    if (shownRows > 2 && rowTop(shownRows - 1) > rowTop(1)) {
        rowHeight = (rowTop(shownRows - 1) - rowTop(1)) / (shownRows - 2);
    }

    page_ = page;
    rows_ = std::move(rows);
    tableIndex_ = index;
    rowHeight_ = rowHeight;
    const qsizetype total = rows_.rowStarts.size();
    blocks_.push_back(Block{0, kFirstBlockRows, nullptr});
    for (qsizetype row = kFirstBlockRows; row < total; row += kBlockRows) {
        blocks_.push_back(Block{row, std::min(row + kBlockRows, total), nullptr});
    }
    // One blank stands for every block after the first until the view comes near one of them.
    QTextCursor at(&document);
    at.setPosition(first.lastPosition() + 1);
    if (!putBlanks(at, first.parentFrame(), {{1, blocks_.size()}})) {
        reset();
        return false;
    }
    waiting_ = static_cast<qsizetype>(blocks_.size()) - 1;
    // Laid out to the end now, so the scroll bar has the page's whole length before the user can move it.
    layOutToTheEnd(browser_);
    schedule();
    return true;
}

void RowFeeder::finish() {
    for (size_t i = 0; i < blocks_.size() && !complete(); ++i) {
        if (blocks_[i].standIn && !showBlock(i)) {
            return;
        }
    }
}

bool RowFeeder::eventFilter(QObject* watched, QEvent* event) {
    if (watched != &browser_) {
        return QObject::eventFilter(watched, event);
    }
    if (event->type() == QEvent::KeyPress) {
        // A read-only browser moves no cursor, so Home and End, with or without Ctrl, go to the top and the
        // bottom of the page.
        const auto* key = static_cast<QKeyEvent*>(event);
        const bool plain = (key->modifiers() & ~(Qt::ControlModifier | Qt::KeypadModifier)) == Qt::NoModifier;
        if (plain && (key->key() == Qt::Key_End || key->key() == Qt::Key_Home)) {
            layOutToTheEnd(browser_);
            browser_.verticalScrollBar()->triggerAction(key->key() == Qt::Key_End ? QAbstractSlider::SliderToMaximum
                                                                                  : QAbstractSlider::SliderToMinimum);
            return true;
        }
    } else if (split() && (event->type() == QEvent::Show || event->type() == QEvent::Resize)) {
        schedule();
    }
    return QObject::eventFilter(watched, event);
}

void RowFeeder::schedule() {
    if (!complete() && !tick_.isActive()) {
        tick_.start();
    }
}

void RowFeeder::tick() {
    // A view closed while its rows arrive stops bringing them in; shown again, it carries on.
    if (complete() || !browser_.isVisible()) {
        return;
    }
    // The page laid out to its end first (a resized view lays out lazily), so the view's place is known.
    layOutToTheEnd(browser_);
    const qsizetype next = nearestWaitingBlock();
    if (next >= 0 && showBlock(static_cast<size_t>(next))) {
        // Checked again once the view has taken the new rows in: one block may not be enough.
        schedule();
    }
}

qsizetype RowFeeder::nearestWaitingBlock() const {
    const qreal viewHeight = browser_.viewport()->height();
    const qreal viewTop = browser_.verticalScrollBar()->value();
    const qreal viewBottom = viewTop + viewHeight;
    QAbstractTextDocumentLayout* layout = browser_.document()->documentLayout();
    qsizetype nearest = -1;
    qreal nearestDistance = 0;
    for (size_t i = 0; i < blocks_.size();) {
        if (!blocks_[i].standIn) {
            ++i;
            continue;
        }
        // The blocks sharing a stand-in lie in it one below the other, each as tall as its rows are expected.
        const auto [first, end] = standingWith(i);
        const QRectF frame = layout->frameBoundingRect(blocks_[first].standIn);
        const qreal scale =
            frame.height() / (rowHeight_ * static_cast<qreal>(blocks_[end - 1].endRow - blocks_[first].firstRow));
        for (size_t k = first; k < end; ++k) {
            const qreal top =
                frame.top() + scale * rowHeight_ * static_cast<qreal>(blocks_[k].firstRow - blocks_[first].firstRow);
            const qreal bottom = top + scale * rowHeight_ * static_cast<qreal>(blocks_[k].endRow - blocks_[k].firstRow);
            if (top > viewBottom + 2 * viewHeight) {
                return nearest; // the blocks lie in page order: the rest are further down still
            }
            if (bottom < viewTop - viewHeight) {
                // Too far above; the blocks below it in the stand-in are reached by arithmetic, not one by one.
                const qreal perRow = scale * rowHeight_;
                if (perRow > 0) {
                    const qsizetype skipRows = static_cast<qsizetype>((viewTop - viewHeight - bottom) / perRow);
                    const size_t skip = static_cast<size_t>(std::max<qsizetype>(0, skipRows / kBlockRows - 1));
                    k += std::min(skip, end - k - 1);
                }
                continue;
            }
            const qreal distance = bottom < viewTop ? viewTop - bottom : std::max(0.0, top - viewBottom);
            if (nearest < 0 || distance < nearestDistance) {
                nearest = static_cast<qsizetype>(k);
                nearestDistance = distance;
            }
        }
        i = end;
    }
    return nearest;
}

std::pair<size_t, size_t> RowFeeder::standingWith(size_t index) const {
    const QTextFrame* frame = blocks_[index].standIn;
    size_t first = index;
    while (first > 0 && blocks_[first - 1].standIn == frame) {
        --first;
    }
    size_t end = index + 1;
    while (end < blocks_.size() && blocks_[end].standIn == frame) {
        ++end;
    }
    return {first, end};
}

bool RowFeeder::standAlone(size_t index) {
    const auto [first, end] = standingWith(index);
    if (end - first == 1) {
        return true;
    }
    QTextFrame* shared = blocks_[index].standIn;
    std::vector<std::pair<size_t, size_t>> pieces;
    for (const auto& piece : {std::pair{first, index}, std::pair{index, index + 1}, std::pair{index + 1, end}}) {
        if (piece.first < piece.second) {
            pieces.push_back(piece);
        }
    }
    QTextCursor at(browser_.document());
    at.setPosition(shared->firstPosition() - 1);
    at.setPosition(shared->lastPosition() + 1, QTextCursor::KeepAnchor);
    const bool placed = putBlanks(at, shared->parentFrame(), pieces);
    if (!placed) {
        showWhole();
    }
    return placed;
}

bool RowFeeder::putBlanks(QTextCursor& at, QTextFrame* parent, const std::vector<std::pair<size_t, size_t>>& pieces) {
    const qsizetype total = rows_.rowStarts.size();
    // The blanks are made in a document of their own and put in place in one insertion: inserted one by
    // one, each would have the page after it laid out again.
    QTextDocument blanks;
    blanks.setUndoRedoEnabled(false);
    QTextCursor make(&blanks);
    for (const auto& [from, to] : pieces) {
        const qsizetype rows = blocks_[to - 1].endRow - blocks_[from].firstRow;
        make.movePosition(QTextCursor::End);
        make.insertTable(
            1, 1,
            blankFormat(rowHeight_ * static_cast<qreal>(rows), blocks_[to - 1].endRow == total ? bottomMargin_ : 0));
    }
    const QList<QTextFrame*> made = blanks.rootFrame()->childFrames();
    QTextCursor pick(&blanks);
    pick.setPosition(made.first()->firstPosition() - 1);
    pick.setPosition(made.last()->lastPosition() + 1, QTextCursor::KeepAnchor);
    // One change, so the page after it is laid out again once; its frames are known once it has ended.
    at.beginEditBlock();
    at.removeSelectedText();
    const int position = at.position();
    at.insertFragment(QTextDocumentFragment(pick));
    at.endEditBlock();
    // The blanks are the parent's first frames after the place they were put, in page order.
    const QList<QTextFrame*> frames = parent->childFrames();
    auto placed = std::find_if(frames.begin(), frames.end(),
                               [&](const QTextFrame* frame) { return frame->firstPosition() > position; });
    if (frames.end() - placed < static_cast<qsizetype>(pieces.size())) {
        return false;
    }
    for (const auto& [from, to] : pieces) {
        for (size_t k = from; k < to; ++k) {
            blocks_[k].standIn = *placed;
        }
        ++placed;
    }
    return true;
}

bool RowFeeder::showBlock(size_t index) {
    if (!standAlone(index)) {
        return false;
    }
    Block& block = blocks_[index];
    const qsizetype total = rows_.rowStarts.size();
    const qsizetype from = rows_.rowStarts[block.firstRow];
    const qsizetype to = block.endRow < total ? rows_.rowStarts[block.endRow] : rows_.tableEnd;

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
    // The block's table takes its format before it is moved, so it is laid out once.
    QTextTableFormat format = blockFormat_;
    if (block.endRow == total) {
        format.setBottomMargin(bottomMargin_);
    }
    QTextTable* source = tables[tableIndex_];
    source->setFormat(format);
    QTextCursor pick(&scratch);
    pick.setPosition(source->firstPosition() - 1);
    pick.setPosition(source->lastPosition() + 1, QTextCursor::KeepAnchor);
    const QTextDocumentFragment rowsBlock(pick);

    QTextDocument& document = *browser_.document();
    QAbstractTextDocumentLayout* layout = document.documentLayout();
    QScrollBar* bar = browser_.verticalScrollBar();
    const int value = bar->value();
    const bool atBottom = value > 0 && value >= bar->maximum();
    const QRectF before = layout->frameBoundingRect(block.standIn);

    QTextFrame* parent = block.standIn->parentFrame();
    QTextCursor at(&document);
    at.beginEditBlock();
    at.setPosition(block.standIn->firstPosition() - 1);
    at.setPosition(block.standIn->lastPosition() + 1, QTextCursor::KeepAnchor);
    at.removeSelectedText();
    const int position = at.position();
    at.insertFragment(rowsBlock);
    at.endEditBlock();
    QTextTable* added = nullptr;
    for (QTextFrame* child : parent->childFrames()) {
        if (child->firstPosition() > position) {
            added = qobject_cast<QTextTable*>(child);
            break;
        }
    }
    if (!added) {
        showWhole();
        return false;
    }
    block.standIn = nullptr;
    --waiting_;

    // The rows may be taller or shorter than expected. What the view shows stays where it is: a block
    // above the view moves the view by the difference, one the view's top lies in keeps that row in place,
    // and a view at the bottom of the page stays there.
    layOutToTheEnd(browser_);
    const QRectF after = layout->frameBoundingRect(added);
    if (atBottom) {
        bar->setValue(bar->maximum());
    } else if (before.bottom() <= value) {
        bar->setValue(value + qRound(after.bottom() - before.bottom()));
    } else if (before.top() < value && before.height() > 0) {
        bar->setValue(qRound(after.top() + (value - before.top()) * after.height() / before.height()));
    }
    return true;
}

void RowFeeder::showWhole() {
    const QByteArray page = page_;
    const int position = browser_.verticalScrollBar()->value();
    reset();
    browser_.setHtml(QString::fromLatin1(page));
    browser_.verticalScrollBar()->setValue(position);
}
