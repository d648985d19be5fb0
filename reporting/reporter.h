// The report writer and the report viewer. A report is one HTML file in the reports folder: the header
// template, a body the program writes, the footer template; the viewer shows it and deletes it on closing.
#pragma once

#include "widgets/form.h"

#include <QString>
#include <memory>

class Dataset;
class QFrame;
class QToolButton;
class TDBGrid;
class TextBrowserView;

// The report viewer: shows the file ReportName names, offers Save and Print through the page view's own
// dialogs, and deletes the file whenever it closes.
class Treporterfrm : public Form {
    Q_OBJECT
public:
    explicit Treporterfrm(QWidget* parent);
    ~Treporterfrm() override;

    QFrame* ToolBar1;
    QToolButton* DisMissReportBtn;
    QToolButton* ToolButton1;
    QToolButton* ToolButton2;
    // The page view; its widget fills the window below the toolbar.
    std::unique_ptr<TextBrowserView> web;

    void reject() override;

protected:
    void FormShow() override;
    void FormClose() override;

private:
    void DisMissReportBtnClick();
    void ToolButton1Click();
    void ToolButton2Click();
    QToolButton* makeToolButton(const QString& name, const QString& caption, const QString& picture);
};

extern Treporterfrm* reporterfrm;

// The settings dataset the COMPANYNAME placeholder reads; start-up hands it over.
void InitReportWriter(Dataset& SystemTable);

extern QString ReportTitle;
extern QString ReportUser;
extern QString ReportName;

// The full path of the current report file: the reports folder, ReportName, ".htm".
QString ReportFilePath();

// Sets ReportTitle and ReportUser; when reports are enabled, creates a report file under a newly drawn
// name that no existing file has and copies the expanded header template into it.
void BeginReport(const QString& title, const QString& user);
// Appends line and CR LF to the report file (8-bit; characters outside Latin-1 become '?'). The file is
// opened and closed around the line, so what is on disk is always complete. Does nothing when disabled.
void WriteReportLine(const QString& line);
// Appends the expanded footer template. Does nothing when disabled.
void EndReport();
// The line with every ~NAME~ replaced by its value, HTML-escaped; an unmatched tilde drops the rest.
QString ExpandPlaceholders(const QString& line);
// The raw value of one placeholder name (already upper-cased and trimmed); empty for unknown names.
QString PlaceholderValue(const QString& name);
// Writes the grid's dataset as a table (one row per record, the cursor left past the end) and shows it in
// the viewer; returns when the viewer closes. A failure while writing hides the status window first.
void ReportGridAsTable(const QString& title, TDBGrid& grid);
// Writes every field of the current record of the grid's dataset as a line and shows it in the viewer; the
// cursor does not move. A failure while writing hides the status window first.
void ReportRecordAsList(const QString& title, TDBGrid& grid);
