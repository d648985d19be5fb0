// The report writer. A report is one HTML page: the header template, a body the program writes, the footer
// template; the writer hands the page to the viewer, which deletes it on closing.
#pragma once

#include "reporting/runfolder.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>

class Dataset;
class QIODevice;
class Session;
class TDBGrid;
class TStatusFrm;
class Treporterfrm;

// The report writer: one report at a time, written into a page file that this writer created in a folder
// private to this run and this user, then handed to the viewer. Owns the page being written, its title,
// user and name, and the run's page folder; reads the templates from the installed reports folder, the
// company name from the settings dataset, and shows the status window while a producer writes.
class ReportWriter {
public:
    // Lines are gathered up to this many bytes before they are written out.
    static constexpr qsizetype kWriteBufferBytes = 64 * 1024;

    // settings is the settings dataset the COMPANYNAME placeholder reads; all four outlive the writer.
    // Removes the page folders of runs that ended without removing their own (a crash, a kill).
    ReportWriter(Session& session, Dataset& settings, TStatusFrm& status, Treporterfrm& viewer);
    // A report still being written is deleted: no viewer will show it. So is this run's page folder.
    virtual ~ReportWriter();
    ReportWriter(const ReportWriter&) = delete;
    ReportWriter& operator=(const ReportWriter&) = delete;

    // The title and user text of the report last begun: the values of TITLE and USER.
    const QString& ReportTitle() const { return title_; }
    const QString& ReportUser() const { return user_; }
    // The base name of the report file ("~" and a number from 0 to 9999); empty at first, and empty after a
    // report whose file could not be created.
    const QString& ReportName() const { return name_; }
    // The full path of the current report file: the page folder, ReportName, ".htm".
    QString ReportFilePath() const;
    // The folder this run writes its pages into, readable by its owner only; made by the first report.
    const QString& PagesFolder() const { return run_.path(); }

    // Sets the title and user; when reports are enabled, creates a report file under a newly drawn name
    // that no existing file has and copies the expanded header template into it. A report begun before and
    // never ended is deleted first. Throws ControlError, naming the file and the system's reason, when the
    // page cannot be created or written or a template cannot be read; the page is then deleted.
    void BeginReport(const QString& title, const QString& user);
    // Appends line and CR LF to the report (8-bit Latin-1, any other character as a numeric character
    // reference such as &#8364;). Lines are written out in blocks of up to kWriteBufferBytes. Does nothing
    // when disabled. Throws ControlError and deletes the page when a write fails.
    void WriteReportLine(const QString& line);
    // Appends the expanded footer template, writes out what is gathered and closes the file. Does nothing
    // when disabled. Throws ControlError and deletes the page when a write fails.
    void EndReport();
    // The line with every ~NAME~ replaced by its value, HTML-escaped; an unmatched tilde drops the rest.
    QString ExpandPlaceholders(const QString& line) const;
    // The raw value of one placeholder name (already upper-cased and trimmed); empty for unknown names.
    QString PlaceholderValue(const QString& name) const;

    // Writes the grid's dataset as a table (one row per record, the cursor left past the end) and shows it in
    // the viewer; returns when the viewer closes. A failure while writing hides the status window and
    // deletes the page first; no viewer opens.
    void ReportGridAsTable(const QString& title, TDBGrid& grid);
    // Writes every field of the current record of the grid's dataset as a line and shows it in the viewer;
    // the cursor does not move. A failure while writing hides the status window and deletes the page first.
    void ReportRecordAsList(const QString& title, TDBGrid& grid);

protected:
    // Where the bytes of a newly created page go: the page file itself. A test puts a device that fails
    // in its place.
    virtual QIODevice& PageOutput(QFile& created);

private:
    class StatusShown;

    QStringList TemplateLines(const QString& fileName) const;
    void AppendLine(const QString& line);
    void AppendCellLine(QLatin1StringView before, QByteArrayView utf8, QLatin1StringView after);
    void EndLine();
    void AppendTemplate(const QString& fileName);
    void FlushBuffer();
    [[noreturn]] void FailWriting(const QString& reason);
    void DiscardReportFile();
    bool CreateReportFile(int n, bool& taken);
    void ClaimReportNumber();
    void ShowReport();

    Session& session_;
    Dataset& settings_;
    TStatusFrm& status_;
    Treporterfrm& viewer_;
    QString title_;
    QString user_;
    QString name_;
    // This run's page folder, made by the first report.
    RunFolder run_;
    // The file of the report being written, open from BeginReport to EndReport, and where its bytes go.
    QFile file_;
    QIODevice* out_ = nullptr;
    // Lines not yet written out; never more than about kWriteBufferBytes.
    QByteArray buffer_;
    qint64 flushed_ = 0; // bytes of the page written out before buffer_
    // Where the next line starts in the page.
    qint64 Position() const { return flushed_ + buffer_.size(); }
    bool owned_ = false; // BeginReport created the file and the report is not finished: only then is it written
};
