// The report writer. Report files are 8-bit Latin-1 with CR LF line ends (latin1text.h). The program's own
// text (titles, field names, values, placeholder values) is HTML-escaped on the way in, the templates'
// markup is copied as it stands. Templates are read from the installed reports folder; pages are written
// into this run's folder (runfolder.h), so the program works when its own folder cannot be written and no
// other user can read a page. Every open and write is checked: a report that cannot be written stops with
// one message naming the file and the reason, and its page is deleted.
#include "reporting/reportwriter.h"

#include "app/session.h"
#include "app/status.h"
#include "data/dataset.h"
#include "data/errors.h"
#include "data/textvalues.h"
#include "reporting/latin1text.h"
#include "reporting/placeholders.h"
#include "reporting/reporter.h"
#include "widgets/dbgrid.h"
#include "widgets/htmlscan.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRandomGenerator>
#include <QTime>
#include <algorithm>
#include <exception>
#include <functional>
#include <vector>

namespace {

const QString kStatusCaption = QStringLiteral("Preparing Print Preview");
const QString kProducerUser = QStringLiteral("s");
constexpr int kReportNumbers = 10000;
constexpr int kRandomDraws = 100;
constexpr int kWalkBlock = 512; // records read in one statement by a report's walk

QString escaped(const QString& text) {
    return text.toHtmlEscaped();
}

// Holds back the controls showing a dataset (the grid, edits, lists) from following a producer's walk over
// its records: the grid would select, scroll to and repaint every record, and an edit lay its text out
// again for each, at far more cost than the writing itself. They are told once, at the end.
class ControlsHeld {
public:
    explicit ControlsHeld(Dataset& data) : data_(data) { data_.holdControls(); }
    ~ControlsHeld() { data_.releaseControls(); }
    ControlsHeld(const ControlsHeld&) = delete;
    ControlsHeld& operator=(const ControlsHeld&) = delete;

private:
    Dataset& data_;
};

// Runs its action when the scope is left by an error, and only then.
class OnError {
public:
    explicit OnError(std::function<void()> action) : action_(std::move(action)), pending_(std::uncaught_exceptions()) {}
    ~OnError() {
        if (std::uncaught_exceptions() > pending_) {
            action_();
        }
    }
    OnError(const OnError&) = delete;
    OnError& operator=(const OnError&) = delete;

private:
    std::function<void()> action_;
    int pending_;
};

} // namespace

// Keeps the status window up for the time of a producer's writing. When the writing ends with an error,
// the window is hidden and its timers stopped before the error travels on, and the unfinished report file
// is deleted, since no viewer will show it.
class ReportWriter::StatusShown {
public:
    StatusShown(ReportWriter& writer, const QString& caption, int steps) : writer_(writer) {
        writer_.status_.ShowStatus(caption, steps);
    }
    ~StatusShown() {
        if (!done_) {
            writer_.DiscardReportFile();
            writer_.status_.HideStatus();
        }
    }
    StatusShown(const StatusShown&) = delete;
    StatusShown& operator=(const StatusShown&) = delete;
    void hide() {
        done_ = true;
        writer_.status_.HideStatus();
    }

private:
    ReportWriter& writer_;
    bool done_ = false;
};

ReportWriter::ReportWriter(Session& session, Dataset& settings, TStatusFrm& status, Treporterfrm& viewer)
    : session_(session), settings_(settings), status_(status), viewer_(viewer) {
    RunFolder::removeAbandoned();
}

ReportWriter::~ReportWriter() {
    DiscardReportFile();
}

// The lines of a template file, split at LF with a CR before it removed. Throws when it cannot be read.
QStringList ReportWriter::TemplateLines(const QString& fileName) const {
    QFile file(session_.ReportsPath(fileName));
    if (!file.open(QIODevice::ReadOnly)) {
        throw ControlError(QStringLiteral("Cannot read the report template %1: %2")
                               .arg(QDir::toNativeSeparators(file.fileName()), file.errorString()));
    }
    const QByteArray bytes = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        throw ControlError(QStringLiteral("Cannot read the report template %1: %2")
                               .arg(QDir::toNativeSeparators(file.fileName()), file.errorString()));
    }
    QString text = QString::fromLatin1(bytes);
    if (text.isEmpty()) {
        return {};
    }
    QStringList lines = text.split(QLatin1Char('\n'));
    if (text.endsWith(QLatin1Char('\n'))) {
        lines.removeLast();
    }
    for (QString& line : lines) {
        if (line.endsWith(QLatin1Char('\r'))) {
            line.chop(1);
        }
    }
    return lines;
}

QIODevice& ReportWriter::PageOutput(QFile& created) {
    return created;
}

void ReportWriter::AppendLine(const QString& line) {
    if (!owned_) {
        return;
    }
    appendEightBit(buffer_, line);
    EndLine();
}

// Ends the line gathered and writes the lines out once they fill the buffer.
void ReportWriter::EndLine() {
    appendBytes(buffer_, "\r\n", 2);
    if (buffer_.size() >= kWriteBufferBytes) {
        FlushBuffer();
    }
}

// Writes out the gathered lines; a write that does not take them all fails the report.
void ReportWriter::FlushBuffer() {
    if (buffer_.isEmpty() || !owned_) {
        return;
    }
    const qint64 written = out_->write(buffer_);
    if (written != buffer_.size()) {
        FailWriting(out_->errorString());
    }
    flushed_ += written;
    buffer_.resize(0); // keeps its room: the next lines are gathered without growing it again
}

// Deletes the unfinished page and raises the error that names it and the reason.
void ReportWriter::FailWriting(const QString& reason) {
    const QString path = file_.fileName();
    DiscardReportFile();
    throw ControlError(
        QStringLiteral("Cannot write the report page %1: %2").arg(QDir::toNativeSeparators(path), reason));
}

void ReportWriter::AppendTemplate(const QString& fileName) {
    for (const QString& line : TemplateLines(fileName)) {
        AppendLine(ExpandPlaceholders(line));
    }
}

// Closes and deletes the file of a report that will never be shown, so no unfinished page is left behind.
void ReportWriter::DiscardReportFile() {
    buffer_.clear();
    // A write that failed has nothing more to tell: the page is going.
    if (out_ && out_ != &file_) {
        out_->close();
    }
    out_ = nullptr;
    file_.close();
    if (owned_) {
        file_.remove();
        owned_ = false;
    }
}

// Creates the file of report number n, readable and writable by its owner only, unless a file of that name
// exists. Sets taken when one does.
bool ReportWriter::CreateReportFile(int n, bool& taken) {
    file_.close();
    file_.setFileName(run_.path() + QStringLiteral("/~%1.htm").arg(n));
    // NewOnly fails when the name exists, in the same step as the creation, so nothing can slip in between
    // the test and the create.
    if (file_.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered,
                   QFileDevice::ReadOwner | QFileDevice::WriteOwner)) {
        taken = false;
        return true;
    }
    taken = QFileInfo::exists(file_.fileName());
    return false;
}

// Draws report numbers until one names no existing file and creates that file; after kRandomDraws draws
// the numbers after the last one drawn are tried in turn, so the search ends even in a crowded folder.
// Gives up, owning no file, when every name is taken; throws when a file cannot be created for another
// reason.
void ReportWriter::ClaimReportNumber() {
    int n = static_cast<int>(QRandomGenerator::global()->bounded(kReportNumbers));
    bool taken = false;
    for (int draw = 0; draw < kRandomDraws + kReportNumbers; ++draw) {
        if (CreateReportFile(n, taken)) {
            owned_ = true;
            out_ = &PageOutput(file_);
            return;
        }
        if (!taken) {
            throw ControlError(QStringLiteral("Cannot create the report page %1: %2")
                                   .arg(QDir::toNativeSeparators(file_.fileName()), file_.errorString()));
        }
        n = draw + 1 < kRandomDraws ? static_cast<int>(QRandomGenerator::global()->bounded(kReportNumbers))
                                    : (n + 1) % kReportNumbers;
    }
}

void ReportWriter::ShowReport() {
    viewer_.showReport(ReportFilePath());
}

QString ReportWriter::ReportFilePath() const {
    const QString folder = run_.path().isEmpty() ? RunFolder::root() : run_.path();
    return folder + QLatin1Char('/') + name_ + QStringLiteral(".htm");
}

QString ReportWriter::PlaceholderValue(const QString& name) const {
    if (name == QLatin1String("TITLE")) {
        return title_;
    }
    if (name == QLatin1String("USER")) {
        return user_;
    }
    if (name == QLatin1String("DATE")) {
        return dateToText(QDate::currentDate());
    }
    if (name == QLatin1String("TIME")) {
        return QLocale().toString(QTime::currentTime(), longTimeFormat());
    }
    if (name == QLatin1String("COMPANYNAME")) {
        return settings_.fieldByName(QStringLiteral("companyname")).asString();
    }
    return QString();
}

QString ReportWriter::ExpandPlaceholders(const QString& line) const {
    return expandPlaceholders(line, [this](const QString& name) { return PlaceholderValue(name); });
}

void ReportWriter::BeginReport(const QString& title, const QString& user) {
    title_ = title;
    user_ = user;
    if (!session_.ReportsEnabled) {
        return;
    }
    DiscardReportFile();
    forgetWrittenTables();
    flushed_ = 0;
    name_.clear();
    // The template is read before the page exists, so a template that cannot be read leaves nothing behind.
    const QStringList header = TemplateLines(QStringLiteral("header.htm"));
    run_.prepare(session_.ReportsPath(QString()));
    ClaimReportNumber();
    // A name is kept only for a file this report created; otherwise the viewer must not delete the file of
    // that name, so it is pointed at no file at all, as when reports are disabled.
    name_ = owned_ ? QFileInfo(file_.fileName()).completeBaseName() : QString();
    for (const QString& line : header) {
        AppendLine(ExpandPlaceholders(line));
    }
}

// A line of before, a cell's UTF-8 text HTML-escaped and after, written without building it as one string first: a
// long report writes hundreds of thousands of cells.
void ReportWriter::AppendCellLine(QLatin1StringView before, QByteArrayView utf8, QLatin1StringView after) {
    if (!session_.ReportsEnabled || !owned_) {
        return;
    }
    appendBytes(buffer_, before.data(), before.size());
    appendEightBit(buffer_, utf8, true);
    appendBytes(buffer_, after.data(), after.size());
    EndLine();
}

void ReportWriter::WriteReportLine(const QString& line) {
    if (!session_.ReportsEnabled) {
        return;
    }
    AppendLine(line);
}

void ReportWriter::EndReport() {
    if (!session_.ReportsEnabled || !owned_) {
        return;
    }
    const OnError discard([this] { DiscardReportFile(); });
    AppendTemplate(QStringLiteral("footer.htm"));
    FlushBuffer();
    file_.close();
    if (file_.error() != QFileDevice::NoError) {
        FailWriting(file_.errorString());
    }
    // The report is complete: from here on only the viewer touches the file.
    out_ = nullptr;
    owned_ = false;
}

void ReportWriter::ReportGridAsTable(const QString& title, TDBGrid& grid) {
    Dataset& data = grid.dataSource()->dataset();
    const QList<GridColumn> columns = grid.columns();
    StatusShown status(*this, kStatusCaption, data.recordCount());
    BeginReport(title, kProducerUser);
    // Where the table's tags go in the page, for the viewer, which then need not look for its rows.
    const bool writing = session_.ReportsEnabled && owned_;
    HtmlTableRows written;
    written.tableStart = Position();
    const QString tableTag = QStringLiteral("<table align=\"center\" width=\"100%\" border=\"1\" cellpadding=\"0\" "
                                            "cellspacing=\"0\" bordercolor=\"#333333\">");
    WriteReportLine(tableTag);
    written.tableOpenEnd = written.tableStart + tableTag.size();
    if (!columns.isEmpty()) {
        written.tablesWithCells.append(written.tableStart);
    }
    written.rowStarts.append(Position());
    WriteReportLine(QStringLiteral("<tr bgcolor=\"#CCCCCC\">"));
    for (const GridColumn& column : columns) {
        WriteReportLine(QStringLiteral("<td>"));
        WriteReportLine(QStringLiteral("<div align=\"center\"><strong>") + escaped(column.title) +
                        QStringLiteral("</strong></div></td>"));
    }
    WriteReportLine(QStringLiteral("</tr>"));

    // Field positions are looked up once; a column whose field the dataset lacks raises its error at the
    // first cell, as a look-up by name there would.
    std::vector<int> fields;
    for (const GridColumn& column : columns) {
        fields.push_back(data.findField(column.fieldName));
    }
    {
        ControlsHeld controls(data);
        // The walk starts as a walk over the records would (a pending change is saved first) and ends on
        // the last record, but the cells are read a long block at a time, only the columns shown.
        data.first();
        const int rows = data.recordCount();
        written.rowStarts.reserve(rows + 1);
        if (rows > 0) {
            for (size_t c = 0; c < fields.size(); ++c) {
                if (fields[c] < 0) {
                    data.fieldByName(columns[static_cast<qsizetype>(c)].fieldName);
                }
            }
        }
        const size_t width = fields.size();
        CellTexts texts; // kept from block to block
        for (int from = 0; from < rows; from += kWalkBlock) {
            const int count = std::min(kWalkBlock, rows - from);
            data.textsOf(from, count, fields, texts);
            for (int r = 0; r < count; ++r) {
                written.rowStarts.append(Position());
                WriteReportLine(QStringLiteral("<tr>"));
                for (size_t c = 0; c < width; ++c) {
                    AppendCellLine(QLatin1StringView("<td><div align=\"center\">"),
                                   texts.at(static_cast<size_t>(r) * width + c),
                                   QLatin1StringView("&nbsp;</div></td>"));
                }
                WriteReportLine(QStringLiteral("</tr>"));
                status_.StepStatus();
            }
        }
        data.last();
        data.next();
    }
    written.tableEnd = Position();
    WriteReportLine(QStringLiteral("</table>"));
    EndReport();
    if (writing) {
        rememberWrittenTable(QFileInfo(ReportFilePath()).absoluteFilePath(), std::move(written));
    }
    status.hide();
    ShowReport();
}

void ReportWriter::ReportRecordAsList(const QString& title, TDBGrid& grid) {
    Dataset& data = grid.dataSource()->dataset();
    StatusShown status(*this, kStatusCaption, data.fieldCount());
    BeginReport(title, kProducerUser);
    for (int f = 0; f < data.fieldCount(); ++f) {
        WriteReportLine(QStringLiteral("<b>") + escaped(data.fieldDef(f).name) + QStringLiteral("</b> : ") +
                        escaped(data.text(f)) + QStringLiteral("<br>"));
        status_.StepStatus();
    }
    EndReport();
    status.hide();
    ShowReport();
}
