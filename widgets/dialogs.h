// The one seam through which windows show anything modal to the user: message boxes, questions, modal
// windows, file and print dialogs. Production shows the real Qt dialogs. Tests switch the seam into
// scripted mode and queue the answers and the code that drives each modal window; every message shown is
// recorded so a test can read its title and text.
#pragma once

#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QDialog;
class QPrinter;
class QProgressDialog;
class QWidget;

enum class MessageIcon { None, Information, Error, Question };
enum class Answer { Ok, Cancel, Yes, No };

struct ShownMessage {
    QString title;
    QString text;
    MessageIcon icon;
    Answer answer;
};

namespace Dialogs {

// A plain notice: caption "Vantrel", the text, one OK button.
void showMessage(const QString& text);
// The general error display: error icon, the text, caption "Vantrel" (or the title given).
void showError(const QString& text, const QString& title = QStringLiteral("Vantrel"));
// A question captioned "Question" with Yes and No and no icon; true for Yes.
bool askYesNo(const QString& text);
// A confirmation with OK and Cancel; true for OK.
bool confirm(const QString& text);
// Shows a window modally and returns its result (1 for OK; anything else is not OK).
int showModal(QDialog& dialog);
// A save-file dialog; empty when cancelled. fileType, when given, receives the file type chosen from filter.
// It opens in fileDialogFolder().
QString getSaveFileName(QWidget* parent, const QString& caption, const QString& filter, QString* fileType = nullptr);
// The folder the save and print-to-file dialogs open in: that of the last file they gave in this run, and
// before that the user's documents folder (their home when there is none).
QString fileDialogFolder();
// The print dialog for printer; true when the user confirmed it.
bool execPrintDialog(QWidget* parent, QPrinter& printer);

// A progress window over work done on this thread, modal to parent's window, captioned "Vantrel", with the
// text and a Cancel button. It shows once a second has passed; every step the work reports lets it take the
// user's input, and the work asks after each whether the user cancelled. Scripted, it shows only for a
// driver queued with setNextProgress, at the work's first step past the start.
class ProgressWindow {
public:
    ProgressWindow(QWidget* parent, const QString& text, int steps);
    ~ProgressWindow();
    ProgressWindow(const ProgressWindow&) = delete;
    ProgressWindow& operator=(const ProgressWindow&) = delete;

    // Moves the bar to value, from 0 to steps.
    void setValue(int value);
    int value() const;
    // True once the user has cancelled.
    bool wasCanceled() const;

private:
    std::unique_ptr<QProgressDialog> dialog_;
    std::function<void(QProgressDialog&)> driver_; // scripted: what the user does once the window shows
};

} // namespace Dialogs

// Scripted mode for tests.
namespace DialogScript {

void enable(); // from now on nothing real is shown
bool enabled();
void reset(); // forgets queued answers, drivers and recorded messages
// The answer to the next message box or question (the default when none is queued: OK for notices,
// the first button otherwise).
void setNextAnswer(Answer answer);
// Code that drives the next modal window: it runs while the window is shown and should close it
// (click a button, press Escape, or close it). A modal with no driver queued is recorded as unexpected
// and rejected at once.
void setNextModal(std::function<void(QDialog&)> driver);
// Code that answers the next progress window: it runs once the window shows, at the work's first step past
// the start, and may press its Cancel button. A progress window with no driver queued is not shown, and the
// work runs to its end.
void setNextProgress(std::function<void(QProgressDialog&)> driver);
// The file the next save dialog gives, and the file type chosen in it (one of the filter's entries).
void setNextFileName(const QString& fileName, const QString& fileType = QString());
void setNextPrintAccepted(bool accepted);

const std::vector<ShownMessage>& messages();
void clearMessages();
// Modal windows shown without a driver queued (window object names); empty in a passing test.
const std::vector<QString>& unexpectedModals();
// Answers, drivers and file names queued but never used.
int pendingScript();

} // namespace DialogScript
