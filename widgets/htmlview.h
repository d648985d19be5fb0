// The view that shows the program's HTML reports and help pages: it loads a local page, saves it as a page
// or a PDF through its own save dialog, and prints it through the print dialog. A page whose longest table
// has many rows is shown a block of rows at a time (rowfeeder.h), so a long list appears at once however
// long it is, and printed in pieces laid out side by side (pageprinter.h).
#pragma once

#include "widgets/pageblocks.h"

#include <QByteArray>
#include <QFile>
#include <QPointer>
#include <QString>
#include <memory>

class QPrinter;
class QTextBrowser;
class QTextDocument;
class QWidget;
class RowFeeder;

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

// A page view drawn by QTextBrowser. Pages are read as 8-bit Latin-1 text, and pictures named relative to
// a page are looked up in the page's folder. A page whose longest table has more than kSplitRows rows is
// shown with only the first kFirstBlockRows of them laid out; every further block of kBlockRows rows holds
// its place with a blank as tall as its rows are expected to be, so the page has its whole length at once,
// and is laid out when the view comes near it (a block per pass of the event loop). End, Ctrl+End or the
// scroll bar reach the end of any page at once, and blocks the view never comes near cost nothing. Saving
// and printing always use the whole page.
class TextBrowserView : public HtmlView {
public:
    // The cut of a long page into blocks, as the view shows it.
    static constexpr int kSplitRows = PageBlocks::kSplitRows;
    static constexpr int kFirstBlockRows = PageBlocks::kFirstBlockRows;
    static constexpr int kBlockRows = PageBlocks::kBlockRows;

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
    void showPage(const QByteArray& bytes, const QString& folder, const HtmlTableRows& written = {});
    void savePdf(const QString& fileName);
    void saveBytes(const QString& fileName);

    QPointer<QTextBrowser> browser_;
    // Belongs to the browser, so it goes when a window destroys the browser with its other children.
    QPointer<RowFeeder> feeder_;
    QString address_;
    // The page file shown, mapped into memory: its bytes are read only where they are shown or saved.
    std::unique_ptr<QFile> pageFile_;
    // What a save as a web page writes: the loaded file's bytes, or the notice shown in place of a missing one.
    QByteArray bytes_;
};
