// Production shows Qt's own dialogs; scripted mode answers from the queues a test filled.
#include "widgets/dialogs.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QStandardPaths>
#include <deque>
#include <limits>

namespace {

struct Script {
    bool enabled = false;
    std::deque<Answer> answers;
    std::deque<std::function<void(QDialog&)>> drivers;
    std::deque<std::function<void(QProgressDialog&)>> progressDrivers;
    std::deque<std::pair<QString, QString>> fileNames; // name, file type chosen
    std::deque<bool> printAnswers;
    std::vector<ShownMessage> messages;
    std::vector<QString> unexpected;
};

Script& script() {
    static Script s;
    return s;
}

// The folder of the last file a save or print-to-file dialog gave in this run; empty before the first.
QString& lastFileFolder() {
    static QString folder;
    return folder;
}

void rememberFolderOf(const QString& fileName) {
    if (!fileName.isEmpty()) {
        lastFileFolder() = QFileInfo(fileName).absolutePath();
    }
}

// While it lives, the working folder is the one a file dialog opens in: the print dialog proposes its file to
// print to there (when it lies in the user's home, as the documents folder does).
class InFileDialogFolder {
public:
    InFileDialogFolder() : previous_(QDir::currentPath()) { QDir::setCurrent(Dialogs::fileDialogFolder()); }
    ~InFileDialogFolder() { QDir::setCurrent(previous_); }
    InFileDialogFolder(const InFileDialogFolder&) = delete;
    InFileDialogFolder& operator=(const InFileDialogFolder&) = delete;

private:
    QString previous_;
};

// Records a box in scripted mode and returns the queued answer, or fallback when none is queued.
Answer scripted(const QString& title, const QString& text, MessageIcon icon, Answer fallback) {
    Script& s = script();
    Answer a = fallback;
    if (!s.answers.empty()) {
        a = s.answers.front();
        s.answers.pop_front();
    }
    s.messages.push_back({title, text, icon, a});
    return a;
}

QMessageBox::Icon qtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::Question:
        return QMessageBox::Question;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QMessageBox::StandardButton runBox(const QString& title, const QString& text, MessageIcon icon,
                                   QMessageBox::StandardButtons buttons, QMessageBox::StandardButton def) {
    QMessageBox box(qtIcon(icon), title, text, buttons, QApplication::activeWindow());
    box.setDefaultButton(def);
    return static_cast<QMessageBox::StandardButton>(box.exec());
}

} // namespace

namespace Dialogs {

void showMessage(const QString& text) {
    if (script().enabled) {
        scripted(QStringLiteral("Vantrel"), text, MessageIcon::None, Answer::Ok);
        return;
    }
    runBox(QStringLiteral("Vantrel"), text, MessageIcon::None, QMessageBox::Ok, QMessageBox::Ok);
}

void showError(const QString& text, const QString& title) {
    if (script().enabled) {
        scripted(title, text, MessageIcon::Error, Answer::Ok);
        return;
    }
    runBox(title, text, MessageIcon::Error, QMessageBox::Ok, QMessageBox::Ok);
}

bool askYesNo(const QString& text) {
    if (script().enabled) {
        return scripted(QStringLiteral("Question"), text, MessageIcon::None, Answer::Yes) == Answer::Yes;
    }
    return runBox(QStringLiteral("Question"), text, MessageIcon::None, QMessageBox::Yes | QMessageBox::No,
                  QMessageBox::Yes) == QMessageBox::Yes;
}

bool confirm(const QString& text) {
    if (script().enabled) {
        return scripted(QStringLiteral("Confirm"), text, MessageIcon::Question, Answer::Ok) == Answer::Ok;
    }
    return runBox(QStringLiteral("Confirm"), text, MessageIcon::Question, QMessageBox::Ok | QMessageBox::Cancel,
                  QMessageBox::Ok) == QMessageBox::Ok;
}

int showModal(QDialog& dialog) {
    Script& s = script();
    if (!s.enabled) {
        return dialog.exec();
    }
    if (s.drivers.empty()) {
        s.unexpected.push_back(dialog.objectName());
        return QDialog::Rejected;
    }
    auto driver = std::move(s.drivers.front());
    s.drivers.pop_front();
    // Shown without a nested event loop: the driver presses the window's buttons, which close it.
    dialog.setResult(0);
    dialog.show();
    driver(dialog);
    if (dialog.isVisible()) {
        s.unexpected.push_back(dialog.objectName() + QStringLiteral(" (left open)"));
        dialog.done(QDialog::Rejected);
    }
    return dialog.result();
}

QString fileDialogFolder() {
    if (!lastFileFolder().isEmpty() && QFileInfo(lastFileFolder()).isDir()) {
        return lastFileFolder();
    }
    // The register's own folder is no place to look for one's files: it is a hidden data folder on a desktop.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    return !documents.isEmpty() && QFileInfo(documents).isDir() ? documents : QDir::homePath();
}

QString getSaveFileName(QWidget* parent, const QString& caption, const QString& filter, QString* selectedFilter) {
    Script& s = script();
    QString name;
    if (!s.enabled) {
        name = QFileDialog::getSaveFileName(parent, caption, fileDialogFolder(), filter, selectedFilter);
    } else if (!s.fileNames.empty()) {
        name = s.fileNames.front().first;
        if (selectedFilter) {
            *selectedFilter = s.fileNames.front().second;
        }
        s.fileNames.pop_front();
    }
    rememberFolderOf(name);
    return name;
}

bool execPrintDialog(QWidget* parent, QPrinter& printer) {
    Script& s = script();
    if (!s.enabled) {
        QPrintDialog dialog(&printer, parent);
        bool accepted = false;
        {
            const InFileDialogFolder there;
            accepted = dialog.exec() == QDialog::Accepted;
        }
        if (accepted) {
            rememberFolderOf(printer.outputFileName());
        }
        return accepted;
    }
    if (s.printAnswers.empty()) {
        return false;
    }
    bool accepted = s.printAnswers.front();
    s.printAnswers.pop_front();
    return accepted;
}

ProgressWindow::ProgressWindow(QWidget* parent, const QString& text, int steps)
    : dialog_(std::make_unique<QProgressDialog>(text, QStringLiteral("Cancel"), 0, steps, parent)) {
    dialog_->setWindowTitle(QStringLiteral("Vantrel"));
    dialog_->setWindowModality(Qt::WindowModal);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    Script& s = script();
    if (!s.enabled) {
        dialog_->setMinimumDuration(1000);
    } else {
        // A test's window shows when the script says so, never by the clock.
        dialog_->setMinimumDuration(std::numeric_limits<int>::max());
        if (!s.progressDrivers.empty()) {
            driver_ = std::move(s.progressDrivers.front());
            s.progressDrivers.pop_front();
        }
    }
    dialog_->setValue(0);
}

ProgressWindow::~ProgressWindow() = default;

void ProgressWindow::setValue(int value) {
    dialog_->setValue(value);
    if (driver_ && value > dialog_->minimum()) {
        const auto driver = std::move(driver_);
        driver_ = nullptr;
        dialog_->show();
        driver(*dialog_);
    }
}

int ProgressWindow::value() const {
    return dialog_->value();
}

bool ProgressWindow::wasCanceled() const {
    return dialog_->wasCanceled();
}

} // namespace Dialogs

namespace DialogScript {

void enable() {
    script().enabled = true;
}
bool enabled() {
    return script().enabled;
}

void reset() {
    bool on = script().enabled;
    script() = Script{};
    script().enabled = on;
}

void setNextAnswer(Answer answer) {
    script().answers.push_back(answer);
}
void setNextModal(std::function<void(QDialog&)> driver) {
    script().drivers.push_back(std::move(driver));
}
void setNextProgress(std::function<void(QProgressDialog&)> driver) {
    script().progressDrivers.push_back(std::move(driver));
}
void setNextFileName(const QString& fileName, const QString& fileType) {
    script().fileNames.push_back({fileName, fileType});
}
void setNextPrintAccepted(bool accepted) {
    script().printAnswers.push_back(accepted);
}
const std::vector<ShownMessage>& messages() {
    return script().messages;
}
void clearMessages() {
    script().messages.clear();
}
const std::vector<QString>& unexpectedModals() {
    return script().unexpected;
}

int pendingScript() {
    const Script& s = script();
    return static_cast<int>(s.answers.size() + s.drivers.size() + s.progressDrivers.size() + s.fileNames.size() +
                            s.printAnswers.size());
}

} // namespace DialogScript
