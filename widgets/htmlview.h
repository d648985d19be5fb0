// The view that shows the program's HTML reports and help pages: it loads a local page, saves it as a page
// or a PDF through its own save dialog, and prints it through the print dialog. A page whose longest table
// has many rows is shown a block of rows at a time, so a long list appears at once however long it is.
#pragma once

#include <QByteArray>
#include <QList>
#include <QPointer>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QPrinter;
class QSizeF;
class QTextBrowser;
class QTextDocument;
class QTextTable;
class QWidget;

// What the report viewer needs from a page view. Failures raise ControlError naming the file.
class HtmlView {
public:
    virtual ~HtmlView() = default;

    // Shows the local page at address ("file://" and an absolute path). A page that does not exist is
    // shown as a notice saying so, not raised as an error.
    virtual void navigate(const QString& address) = 0;
    // Asks for a file name; a name ending in ".pdf" gets the page printed to PDF, any other the page's own
    // bytes. Cancelling writes nothing.
    virtual void saveAs() = 0;
    // Asks for a printer and prints the page on it; cancelling prints nothing.
    virtual void print() = 0;
    // Lets go of the page shown and everything held for it, so a closed viewer keeps no memory of it.
    virtual void clear() = 0;
    // The control to place in a window.
    virtual QWidget* widget() = 0;
};

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

// A page view drawn by QTextBrowser. Pages are read as 8-bit Latin-1 text, and pictures named relative to
// a page are looked up in the page's folder. A page whose longest table has more than kSplitRows rows is
// shown with only the first kFirstBlockRows of them laid out; every further block of kBlockRows rows holds
// its place with a blank as tall as its rows are expected to be, so the page has its whole length at once,
// and is laid out when the view comes near it (a block per pass of the event loop). End, Ctrl+End or the
// scroll bar reach the end of any page at once, and blocks the view never comes near cost nothing. Saving
// and printing always use the whole page.
class TextBrowserView : public HtmlView {
public:
    // QTextBrowser takes about half a millisecond a row to lay a table out, so a table of up to kSplitRows
    // rows is shown whole in about a quarter of a second; a longer one starts with kFirstBlockRows rows
    // (ten screens or so) and lays out kBlockRows rows at a time, some fifty milliseconds a block, so the
    // view is never kept from the user's input for long.
    static constexpr int kSplitRows = 400;
    static constexpr int kFirstBlockRows = 200;
    static constexpr int kBlockRows = 100;
    static_assert(kSplitRows >= kFirstBlockRows, "a split page has rows after its first block");

    // A stretch of a page laid out for printing, and the threads that lay the stretches out.
    struct PrintPiece;
    class PieceThreads;

    explicit TextBrowserView(QWidget* parent = nullptr);
    ~TextBrowserView() override;
    TextBrowserView(const TextBrowserView&) = delete;
    TextBrowserView& operator=(const TextBrowserView&) = delete;

    void navigate(const QString& address) override;
    void saveAs() override;
    void print() override;
    void clear() override;
    QWidget* widget() override;

    // The address last navigated to, as given.
    QString currentAddress() const { return address_; }
    // The text of the page as shown so far, without markup: of a long table only the blocks laid out.
    QString documentText() const;
    // The document shown (of a long table only the blocks laid out, the others' blanks in their place).
    QTextDocument* document() const;
    // True when every row of the page is laid out in the document shown.
    bool pageComplete() const;
    // True when every row within reach of the view is laid out: the view shows the page as it stays until
    // it is moved or resized.
    bool viewSettled() const;
    // Brings every remaining row into the document shown at once.
    void showWholePage();

protected:
    // Lays the whole page out on printer and prints it, with a progress window that can cancel it once a
    // second has passed. False when the user cancelled (the printer's job aborted); throws ControlError when
    // nothing could be printed.
    virtual bool printTo(QPrinter& printer);

private:
    class RowFeeder;

    void showPage(const QByteArray& bytes, const QString& folder);
    // The page cut for printing into pieces laid out width wide at printer's resolution: the page up to the
    // first kFirstBlockRows rows of its long table, then blocks of kBlockRows rows, each parsed behind the
    // page's markup up to the table and given the first block's column widths, laid out on as many
    // threads as the machine has cores. ready(n, of) is told on this thread whenever the first n pieces
    // are all laid out, and returns false to stop. False when stopped, or, having told nothing, when the
    // page has no long table to cut.
    bool printPieces(QPrinter& printer, qreal width, std::vector<PrintPiece>& pieces, PieceThreads& threads,
                     const std::function<bool(size_t, size_t)>& ready) const;
    // The whole page as one document laid out on pages of the given size.
    std::unique_ptr<QTextDocument> printDocument(QPrinter& printer, const QSizeF& pageSize) const;
    void savePdf(const QString& fileName);
    void saveBytes(const QString& fileName);

    QPointer<QTextBrowser> browser_;
    // Belongs to the browser, so it goes when a window destroys the browser with its other children.
    QPointer<RowFeeder> feeder_;
    QString address_;
    // What a save as a web page writes: the loaded file's bytes, or the notice shown in place of a missing one.
    QByteArray bytes_;
};
