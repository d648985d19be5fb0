// The Stock-take window: start a stock-take (a name, and the location and groups it covers) or go back to one,
// then scan. The scan box keeps the focus, so a USB scanner, which types an identifier and Enter, or a person
// typing, is answered at once in words and colour (and a beep for anything but an expected asset found); the
// counters and the latest scans follow every scan, this program's and other programs', and the stock-take's
// lists go to the report viewer. Closing it may move the assets found there but recorded elsewhere, after the
// access password.
#pragma once

#include "data/stocktake.h"
#include "widgets/form.h"

#include <QColor>
#include <optional>

class DataModule;
class QCheckBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QTimer;
class QTreeWidget;
class ReportWriter;
class TDBGrid;
class Tlogonfrm;

// What a person is shown for an outcome: the colour of the answer's background, and of its text on it.
struct OutcomeLook {
    QColor background;
    QColor text;
};
OutcomeLook outcomeLook(ScanOutcome outcome);
// The answer to a scan in words: "Found: KLT1001, Laptop".
QString answerText(const ScanAnswer& answer);

class StockTakeWindow : public Form {
    Q_OBJECT
public:
    // The register is data's connection; logon is the password gate before assets are moved; Query2Grid and
    // writer are the main window's hidden grid on data's Query2 and the report writer, which write the lists.
    StockTakeWindow(QWidget* parent, DataModule& data, Tlogonfrm& logon, TDBGrid& Query2Grid, ReportWriter& writer);

    QStackedWidget* pages;
    // Starting or choosing one.
    QWidget* choosePage;
    QGroupBox* newBox;
    QLineEdit* nameEdit;
    QLineEdit* locationEdit;
    QCheckBox* groupChecks[10]; // by digit; a group without a name is not offered
    QPushButton* startButton;
    QGroupBox* openBox;
    QTreeWidget* stockTakeList; // every stock-take, open ones first
    QPushButton* resumeButton;
    QPushButton* closeButton;
    // Scanning one.
    QWidget* scanPage;
    QLabel* headingLabel; // the stock-take and what it covers
    QLineEdit* scanEdit;
    QLabel* answerLabel;
    QLabel* countsLabel;    // found of expected
    QLabel* othersLabel;    // the other outcomes' counts
    QTreeWidget* scansList; // the latest scans, newest on top
    QGroupBox* listsBox;
    QPushButton* missingButton;
    QPushButton* elsewhereButton;
    QPushButton* writtenOffButton;
    QPushButton* unknownButton;
    QPushButton* foundButton;
    QPushButton* closeStockTakeButton;
    QPushButton* doneButton; // back to the choice; the stock-take stays open

    // The stock-take being scanned; none while the choice is shown.
    const std::optional<StockTake>& current() const { return current_; }
    // Reads the counters and the latest scans again; the expected set too when withExpected.
    void refreshCounts(bool withExpected);

    void reject() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void FormShow() override;
    void FormClose() override;

private:
    void startButtonClick();
    void resumeButtonClick();
    void closeButtonClick();
    void scanEntered();
    void missingButtonClick();
    void elsewhereButtonClick();
    void writtenOffButtonClick();
    void unknownButtonClick();
    void foundButtonClick();
    void closeStockTakeButtonClick();
    void doneButtonClick();
    void refreshTick();
    void showList(StockTakeList list);
    void showChoice();
    void showScanning(const StockTake& t);
    void showAnswer(const ScanAnswer& answer);

    DataModule& data_;
    Tlogonfrm& logon_;
    TDBGrid& Query2Grid_;
    ReportWriter& writer_;
    std::optional<StockTake> current_;
    StockTakeCounts counts_;
    QTimer* refresh_;
    int ticks_ = 0;
};
