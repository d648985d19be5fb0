// Reading a page's tags without making a document of it: where the rows of the page's longest table lie in
// its bytes, so that a long table can be shown and printed a block of rows at a time.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

// Where the rows of a page's longest table lie in the page's bytes. Offsets point at the '<' of a tag.
struct HtmlTableRows {
    qsizetype tableStart = -1;   // the table's start tag; -1 when the page has no table with rows
    qsizetype tableOpenEnd = -1; // just past the '>' of that start tag
    qsizetype tableEnd = -1;     // the table's end tag, or the page's size when the table is never closed
    QList<qsizetype> rowStarts;  // the table's own "<tr" tags in page order (not those of tables inside it)
    bool spansRows = false;      // one of the table's own cells has a rowspan
    // The start tag of every table on the page that has at least one cell, in page order: the tables a
    // QTextDocument made from the page holds, in the same order.
    QList<qsizetype> tablesWithCells;
};

// Scans page for the table with the most rows of its own (the first of equals). Tag names are matched
// without regard to case; comments and the contents of style and script elements are skipped, and quoted
// attribute values may hold '>'.
HtmlTableRows findLongestTable(const QByteArray& page);
// The same, for a page holding a table its writer has described in written (its start tag, the end of that
// tag, its end tag and its rows, whose cells hold text only): when the scan meets that table's start tag, it
// takes the table as described instead of reading the rows, so a long page costs no more than its other
// parts. A description the page does not bear out (its tags are not where it says) is ignored.
HtmlTableRows findLongestTable(const QByteArray& page, const HtmlTableRows& written);

// The table of the page file written last, as its writer knows it, for the view that opens the file. Only
// that page's is kept, until the next page is begun (forgetWrittenTables).
void rememberWrittenTable(const QString& path, HtmlTableRows table);
void forgetWrittenTables();
// What is remembered of the file at path; an empty description (tableStart -1) when nothing is.
HtmlTableRows writtenTableOf(const QString& path);
