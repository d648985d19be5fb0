// How a page with a long table is cut into blocks of rows: the view shows the blocks as it comes near them
// (rowfeeder.h), and printing lays them out side by side on several threads (pageprinter.h). Each block is
// parsed on its own behind the page's markup up to the table's start tag, so it is styled as on the page;
// what both need of the documents made so is here: which of a document's tables is the page's long table,
// and column widths that every block shares.
#pragma once

#include "widgets/htmlscan.h"

#include <QList>

class QTextDocument;
class QTextTable;

namespace PageBlocks {

// QTextBrowser takes about half a millisecond a row to lay a table out, so a table of up to kSplitRows
// rows is shown whole in about a quarter of a second; a longer one starts with kFirstBlockRows rows
// (ten screens or so) and lays out kBlockRows rows at a time, some fifty milliseconds a block, so the
// view is never kept from the user's input for long.
constexpr int kSplitRows = 400;
constexpr int kFirstBlockRows = 200;
constexpr int kBlockRows = 100;
static_assert(kSplitRows >= kFirstBlockRows, "a split page has rows after its first block");
// Pages whose longest table starts further in than this are shown whole: every block is parsed behind
// the markup before the table, and beyond this that would cost more than the rows themselves.
constexpr qsizetype kMaxMarkupBeforeTable = 256 * 1024;

// Whether a page whose longest table is rows is cut into blocks: the table has more than kSplitRows rows,
// starts within kMaxMarkupBeforeTable, and has no cell that spans rows (it could not be cut between rows).
bool cutsIntoBlocks(const HtmlTableRows& rows);

// Every table of document in the order their start tags had on the page.
QList<QTextTable*> tablesOf(QTextDocument& document);
// How many of the tables listed (by start offset, ascending) start in [from, to).
qsizetype tablesBetween(const QList<qsizetype>& starts, qsizetype from, qsizetype to);
// Gives table column widths the blocks cut from its rows will share, from the widths it was laid out with
// in document; a table whose columns all have widths keeps them.
void fixColumnWidths(QTextDocument& document, QTextTable& table);

} // namespace PageBlocks
