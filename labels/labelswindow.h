// The Labels window: which assets, on which stock, from which label of a part-used sheet, how many of each,
// what each label shows and how far this machine's printer feeds off centre; a preview of the first page; then
// Print, through the system's print dialog, or Save as PDF. The drawing is labelsheet's, as vnrdb's is.
#pragma once

#include "labels/labelsheet.h"
#include "widgets/form.h"

#include <QWidget>
#include <memory>
#include <optional>

class DataModule;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPrinter;
class QPushButton;
class QRadioButton;

// The first page of a run as it will print, on a white page, with the places of the labels not printed on
// traced faintly; or, when the run cannot be printed, why.
class LabelPreview : public QWidget {
    Q_OBJECT
public:
    explicit LabelPreview(QWidget* parent);
    // Shows sheet's first page; without a sheet, problem instead.
    void showSheet(std::shared_ptr<const LabelSheet> sheet, const QString& problem);
    const QString& problem() const { return problem_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::shared_ptr<const LabelSheet> sheet_;
    QString problem_;
};

// The user's own settings for labels, kept per machine: a printer's feed belongs to the machine it stands by.
// Owns nothing but the file's path; each call reads or writes the file.
class LabelSettings {
public:
    explicit LabelSettings(QString file);
    // ~/.config/vantrel/labels.conf ($XDG_CONFIG_HOME/vantrel).
    static QString defaultFile();

    // The print offset remembered for stockKey on this machine; none: 0, 0.
    QPointF offset(const QString& stockKey) const;
    // The stock last printed on, and the custom stock's last measures; empty when none.
    QString lastStock() const;
    std::optional<LabelStock> customStock() const;
    // Remembers the offset for stockKey on this machine, stock as the last one printed on, and a custom stock's
    // measures. Throws ControlError naming the file when it cannot be written.
    void remember(const LabelStock& stock, const QPointF& offset) const;

private:
    QString file_;
};

class LabelsWindow : public Form {
    Q_OBJECT
public:
    // The list and its current asset are data's mainquery; the register is data's connection. Settings are
    // read from and written to settingsFile.
    LabelsWindow(QWidget* parent, DataModule& data, const QString& settingsFile = LabelSettings::defaultFile());
    ~LabelsWindow() override;

    // Which assets.
    QGroupBox* assetsBox;
    QRadioButton* listRadio;      // the main window's list as searched
    QRadioButton* selectedRadio;  // its current asset
    QRadioButton* purchasedRadio; // purchased on or after purchasedEdit's date
    QLineEdit* purchasedEdit;
    QRadioButton* idsRadio; // the identifiers typed or pasted into idsEdit
    QPlainTextEdit* idsEdit;
    // The stock: a preset, whose measures the fields show, or custom, whose measures are typed there. The
    // tape's label height is the length it is cut at.
    QGroupBox* stockBox;
    QComboBox* stockCombo;
    QLineEdit* pageWidthEdit;
    QLineEdit* pageHeightEdit;
    QLineEdit* columnsEdit;
    QLineEdit* rowsEdit;
    QLineEdit* labelWidthEdit;
    QLineEdit* labelHeightEdit;
    QLineEdit* gapAcrossEdit;
    QLineEdit* gapDownEdit;
    QLineEdit* marginLeftEdit;
    QLineEdit* marginTopEdit;
    // The run.
    QGroupBox* runBox;
    QLineEdit* startEdit;
    QLineEdit* copiesEdit;
    QLineEdit* offsetXEdit; // mm right
    QLineEdit* offsetYEdit; // mm down
    // What each label shows besides the identifier and its QR code.
    QGroupBox* contentBox;
    QCheckBox* code128Check;
    QCheckBox* companyCheck;
    QCheckBox* groupCheck;
    QCheckBox* descriptionCheck;
    QCheckBox* checkDateCheck;
    QCheckBox* outlinesCheck;

    LabelPreview* previewView;
    QLabel* notesLabel; // what the labels leave out and why
    QPushButton* printButton;
    QPushButton* saveButton;
    QPushButton* closeButton;

    // The printer the labels go to; it keeps the person's choice from one printing to the next.
    QPrinter& printer();
    // Shows the first page of the run as the window now describes it.
    void refreshPreview();

    void reject() override;

protected:
    void FormShow() override;

private:
    void stockComboChanged();
    void printButtonClick();
    void saveButtonClick();
    void closeButtonClick();

    // The run the window describes, with up to limit assets (all when negative): the sheet, or why there is none.
    struct Run {
        std::unique_ptr<LabelSheet> sheet;
        QStringList problems;
    };
    Run describeRun(int limit);
    std::optional<LabelStock> stockFromFields(QStringList& problems) const;
    void showStockFields(const LabelStock& stock);
    // The whole run, or nothing after saying why it cannot be printed.
    std::unique_ptr<LabelSheet> runToPrint();
    // Draws sheet on device with a progress window that can stop it once a second has passed.
    bool printWithProgress(const LabelSheet& sheet, QPagedPaintDevice& device, const QString& what,
                           const std::function<void()>& abandon);
    void rememberSettings(const LabelJob& job);

    DataModule& data_;
    LabelSettings settings_;
    std::unique_ptr<QPrinter> printer_;
    LabelStock customStock_;
    bool showingStock_ = false; // the fields are being filled from a stock, not typed
};
