// The rows of a long page still to show: a page whose longest table is cut into blocks (pageblocks.h) is
// shown with its first block laid out and a blank of the right height for each of the others, and each
// blank gives way to its block's rows when the view comes near it.
#pragma once

#include "widgets/htmlscan.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <QTextTableFormat>
#include <QTimer>
#include <utility>
#include <vector>

class QEvent;
class QTextBrowser;
class QTextCursor;
class QTextFrame;

// Holds a split page: its bytes, where its longest table's rows lie, and the blocks those rows are cut
// into. The first block is shown as a table at once. The other blocks stand in the document as empty
// frames as tall as their rows are expected to be, so the page is as long as it will be from the start and
// the scroll bar, End and Ctrl+End reach any part of it at once. One frame stands for every waiting block
// between two shown ones, so a page of any length starts with one: the document's frames, which it looks
// through on every change, grow with the blocks shown, not with the page. A block the view comes near is
// given a frame of its own, which gives way to the block's table, one block per pass of the event loop, the
// nearest first; the blocks the view never comes near are never laid out. It belongs to the browser it feeds, and also
// gives that browser's Home and End keys their meaning on every page, split or not.
class RowFeeder : public QObject {
public:
    explicit RowFeeder(QTextBrowser& browser);

    // Forgets the page shown, if it was split.
    void reset();
    // Shows page with only the first block of its longest table's rows as a table, and the other blocks'
    // stand-ins; false (with nothing settled) when the document made of that part does not hold the tables
    // the page's tags promise, or its table cannot be continued seamlessly.
    bool showSplit(const QByteArray& page, HtmlTableRows rows);
    bool split() const { return !blocks_.empty(); }
    bool complete() const { return waiting_ == 0; }
    // True when no block within reach of the view waits to be shown.
    bool settled() const { return complete() || nearestWaitingBlock() < 0; }
    // Shows every block still waiting, in page order.
    void finish();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Block {
        qsizetype firstRow = 0;
        qsizetype endRow = 0;
        // The frame standing for the block and the waiting blocks beside it; null once its table is shown.
        QPointer<QTextFrame> standIn;
    };

    void schedule();
    void tick();
    // The waiting block nearest the view, if one lies within a screen above or two below it; -1 if none.
    qsizetype nearestWaitingBlock() const;
    // The blocks [first, end) that share the block's stand-in.
    std::pair<size_t, size_t> standingWith(size_t index) const;
    // Gives the block a stand-in of its own, the blocks before and after it in its stand-in one each; false
    // (the page shown whole instead) when the frames could not be made.
    bool standAlone(size_t index);
    // Puts a blank for each run of blocks [first, end) of pieces in place of at's selection, in the frame parent,
    // and makes it their stand-in; false when the blanks could not be found after the insertion.
    bool putBlanks(QTextCursor& at, QTextFrame* parent, const std::vector<std::pair<size_t, size_t>>& pieces);
    // Puts the block's table in place of its stand-in, keeping what the view shows where it is; false when
    // the table could not be made, in which case the page has been shown whole instead.
    bool showBlock(size_t index);
    void showWhole();

    QTextBrowser& browser_;
    QTimer tick_;
    QByteArray page_;
    HtmlTableRows rows_;
    qsizetype tableIndex_ = 0; // the table's place among the page's tables that have cells
    std::vector<Block> blocks_;
    qsizetype waiting_ = 0;
    QTextTableFormat blockFormat_; // the format of every block's table after the first
    qreal bottomMargin_ = 0;       // the page's table's own bottom margin, kept by the last block
    qreal rowHeight_ = 0;          // how tall a row still waiting is expected to be
};
