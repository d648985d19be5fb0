// What the view and printing share of a long page's blocks. A block's table must line up with the first
// block's, so the first block's columns are measured as laid out and given to every block as fixed widths
// (or shares of the page's width).
#include "widgets/pageblocks.h"

#include <QAbstractTextDocumentLayout>
#include <QTextBlock>
#include <QTextDocument>
#include <QTextFrame>
#include <QTextTable>
#include <algorithm>
#include <vector>

namespace {

void collectTables(QTextFrame* frame, QList<QTextTable*>& out) {
    const QList<QTextFrame*> children = frame->childFrames();
    for (QTextFrame* child : children) {
        if (auto* table = qobject_cast<QTextTable*>(child)) {
            out.append(table);
        }
        collectTables(child, out);
    }
}

} // namespace

namespace PageBlocks {

bool cutsIntoBlocks(const HtmlTableRows& rows) {
    return rows.rowStarts.size() > kSplitRows && !rows.spansRows && rows.tableOpenEnd <= kMaxMarkupBeforeTable;
}

QList<QTextTable*> tablesOf(QTextDocument& document) {
    QList<QTextTable*> tables;
    collectTables(document.rootFrame(), tables);
    return tables;
}

qsizetype tablesBetween(const QList<qsizetype>& starts, qsizetype from, qsizetype to) {
    auto first = std::lower_bound(starts.begin(), starts.end(), from);
    auto last = std::lower_bound(starts.begin(), starts.end(), to);
    return last - first;
}

void fixColumnWidths(QTextDocument& document, QTextTable& table) {
    QTextTableFormat format = table.format();
    const int columns = table.columns();
    const QList<QTextLength> given = format.columnWidthConstraints();
    const bool allGiven = given.size() == columns && std::none_of(given.begin(), given.end(), [](const QTextLength& l) {
                              return l.type() == QTextLength::VariableLength;
                          });
    if (allGiven || columns == 0) {
        return;
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

} // namespace PageBlocks
