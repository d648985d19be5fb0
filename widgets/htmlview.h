// The view that shows the program's HTML reports and help pages: it loads a local page, saves it as a page
// or a PDF through its own save dialog, and prints it through the print dialog.
#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>

class QPrinter;
class QTextBrowser;
class QTextDocument;
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
    // The control to place in a window.
    virtual QWidget* widget() = 0;
};

// A page view drawn by QTextBrowser. Pages are read as 8-bit Latin-1 text, and pictures named relative to
// a page are looked up in the page's folder.
class TextBrowserView : public HtmlView {
public:
    explicit TextBrowserView(QWidget* parent = nullptr);
    ~TextBrowserView() override;
    TextBrowserView(const TextBrowserView&) = delete;
    TextBrowserView& operator=(const TextBrowserView&) = delete;

    void navigate(const QString& address) override;
    void saveAs() override;
    void print() override;
    QWidget* widget() override;

    // The address last navigated to, as given.
    QString currentAddress() const { return address_; }
    // The text of the page shown, without markup.
    QString documentText() const;
    QTextDocument* document() const;

protected:
    // Lays the page out on printer and prints it. Throws ControlError when nothing could be printed.
    virtual void printTo(QPrinter& printer);

private:
    void showPage(const QByteArray& bytes, const QString& folder);
    void savePdf(const QString& fileName);
    void saveBytes(const QString& fileName);

    QPointer<QTextBrowser> browser_;
    QString address_;
    // What a save as a web page writes: the loaded file's bytes, or the notice shown in place of a missing one.
    QByteArray bytes_;
};
