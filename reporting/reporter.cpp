// The report writer and the report viewer. Report files are 8-bit Latin-1 with CR LF line ends; the
// program's own text (titles, field names, values, placeholder values) is HTML-escaped on the way in, the
// templates' markup is copied as it stands. A report file is created only under a name no file has yet,
// so two running programs never write into or delete each other's report.
#include "reporting/reporter.h"

#include "app/globals.h"
#include "app/status.h"
#include "data/dataset.h"
#include "data/textvalues.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/htmlview.h"
#include "widgets/look.h"

#include <QApplication>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QHBoxLayout>
#include <QLocale>
#include <QPointer>
#include <QRandomGenerator>
#include <QTime>
#include <QToolButton>
#include <QVBoxLayout>
#include <vector>

Treporterfrm* reporterfrm = nullptr;

QString ReportTitle;
QString ReportUser;
QString ReportName;

namespace {

const QString kStatusCaption = QStringLiteral("Preparing Print Preview");
const QString kProducerUser = QStringLiteral("s");
constexpr int kReportNumbers = 10000;
constexpr int kRandomDraws = 100;

QPointer<Dataset> settingsTable;

// The file of the report being written, kept open from BeginReport to EndReport. Every line goes to the
// file in one unbuffered write as it is made, so the file on disk is complete up to the last line written
// and nothing of the body is held in memory; only the open and close per line are saved.
struct ReportFile {
    QFile file;
    bool owned = false; // BeginReport created the file: only then is anything written to it
};

ReportFile& reportFile() {
    static ReportFile r;
    return r;
}

// 8-bit text: Latin-1 characters as they are, any other character (a surrogate pair counts as one) as '?'.
QByteArray toEightBit(const QString& text) {
    QByteArray out;
    out.reserve(text.size() + 2);
    const qsizetype n = text.size();
    for (qsizetype i = 0; i < n; ++i) {
        const char16_t c = text.at(i).unicode();
        if (c < 256) {
            out.append(static_cast<char>(c));
            continue;
        }
        if (QChar::isHighSurrogate(c) && i + 1 < n && text.at(i + 1).isLowSurrogate()) {
            ++i;
        }
        out.append('?');
    }
    return out;
}

QString escaped(const QString& text) {
    return text.toHtmlEscaped();
}

// Upper-cases ASCII letters only and strips blanks and control characters from both ends, as a
// placeholder name is compared.
QString placeholderKey(QStringView name) {
    qsizetype from = 0;
    qsizetype to = name.size();
    while (from < to && name.at(from).unicode() <= ' ') {
        ++from;
    }
    while (to > from && name.at(to - 1).unicode() <= ' ') {
        --to;
    }
    QString key = name.mid(from, to - from).toString();
    for (QChar& c : key) {
        if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) {
            c = QChar(c.unicode() - ('a' - 'A'));
        }
    }
    return key;
}

// The lines of a template file, split at LF with a CR before it removed; empty when it cannot be read.
QStringList templateLines(const QString& fileName) {
    QFile file(reportsPath(fileName));
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    QString text = QString::fromLatin1(file.readAll());
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

void appendLine(const QString& line) {
    ReportFile& r = reportFile();
    if (!r.owned) {
        return;
    }
    if (!r.file.isOpen() && !r.file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered)) {
        return;
    }
    QByteArray bytes = toEightBit(line);
    bytes.append("\r\n", 2);
    r.file.write(bytes);
}

void appendTemplate(const QString& fileName) {
    for (const QString& line : templateLines(fileName)) {
        appendLine(ExpandPlaceholders(line));
    }
}

// Closes the report file if it is open; what was written stays.
void closeReportFile() {
    reportFile().file.close();
}

// Closes and deletes the file of a report that will never be shown, so no unfinished page is left behind
// in the reports folder.
void discardReportFile() {
    ReportFile& r = reportFile();
    r.file.close();
    if (r.owned) {
        r.file.remove();
        r.owned = false;
    }
}

// Creates the file of report number n unless a file of that name exists. Sets taken when one does.
bool createReportFile(int n, bool& taken) {
    ReportFile& r = reportFile();
    r.file.close();
    r.file.setFileName(reportsPath(QStringLiteral("~%1.htm").arg(n)));
    // NewOnly fails when the name exists, in the same step as the creation, so no other program can slip
    // in between the test and the create.
    if (r.file.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered)) {
        taken = false;
        return true;
    }
    taken = QFileInfo::exists(r.file.fileName());
    return false;
}

// Draws report numbers until one names no existing file and creates that file; after kRandomDraws draws
// the numbers after the last one drawn are tried in turn, so the search ends even in a crowded folder.
// Gives up, owning no file, when every name is taken or a file cannot be created for another reason.
void claimReportNumber() {
    int n = static_cast<int>(QRandomGenerator::global()->bounded(kReportNumbers));
    bool taken = false;
    for (int draw = 0; draw < kRandomDraws + kReportNumbers; ++draw) {
        if (createReportFile(n, taken)) {
            reportFile().owned = true;
            return;
        }
        if (!taken) {
            return;
        }
        n = draw + 1 < kRandomDraws ? static_cast<int>(QRandomGenerator::global()->bounded(kReportNumbers))
                                    : (n + 1) % kReportNumbers;
    }
}

// Keeps the status window up for the time of a producer's writing. When the writing ends with an error,
// the window is hidden and its timers stopped before the error travels on, and the unfinished report file
// is deleted, since no viewer will show it.
class StatusShown {
public:
    StatusShown(const QString& caption, int steps) { ShowStatus(caption, steps); }
    ~StatusShown() {
        if (!done_) {
            discardReportFile();
            HideStatus();
        }
    }
    StatusShown(const StatusShown&) = delete;
    StatusShown& operator=(const StatusShown&) = delete;
    void hide() {
        done_ = true;
        HideStatus();
    }

private:
    bool done_ = false;
};

// Holds back a grid's repainting and its following of the current record while a producer walks its
// dataset: on a visible list, selecting, scrolling to and repainting every record cost far more than the
// writing itself. The grid catches up with the record current at the end, once.
class GridRepaintHeld {
public:
    explicit GridRepaintHeld(TDBGrid& grid) : grid_(&grid) { grid_->holdRepaint(); }
    ~GridRepaintHeld() {
        if (grid_) {
            grid_->releaseRepaint();
        }
    }
    GridRepaintHeld(const GridRepaintHeld&) = delete;
    GridRepaintHeld& operator=(const GridRepaintHeld&) = delete;

private:
    QPointer<TDBGrid> grid_;
};

void showReport() {
    Dialogs::showModal(*reporterfrm);
}

} // namespace

void InitReportWriter(Dataset& SystemTable) {
    settingsTable = &SystemTable;
}

QString ReportFilePath() {
    return reportsPath(ReportName + QStringLiteral(".htm"));
}

QString PlaceholderValue(const QString& name) {
    if (name == QLatin1String("TITLE")) {
        return ReportTitle;
    }
    if (name == QLatin1String("USER")) {
        return ReportUser;
    }
    if (name == QLatin1String("DATE")) {
        return dateToText(QDate::currentDate());
    }
    if (name == QLatin1String("TIME")) {
        return QLocale().toString(QTime::currentTime(), longTimeFormat());
    }
    if (name == QLatin1String("COMPANYNAME")) {
        return settingsTable ? settingsTable->fieldByName(QStringLiteral("companyname")).asString() : QString();
    }
    return QString();
}

QString ExpandPlaceholders(const QString& line) {
    QString out;
    out.reserve(line.size());
    bool inside = false;
    qsizetype opened = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('~')) {
            if (inside) {
                out += escaped(PlaceholderValue(placeholderKey(QStringView(line).mid(opened + 1, i - opened - 1))));
            } else {
                opened = i;
            }
            inside = !inside;
        } else if (!inside) {
            out += c;
        }
    }
    return out;
}

void BeginReport(const QString& title, const QString& user) {
    ReportTitle = title;
    ReportUser = user;
    if (!ReportsEnabled) {
        return;
    }
    ReportFile& r = reportFile();
    r.file.close();
    r.owned = false;
    claimReportNumber();
    // A name is kept only for a file this report created; otherwise the viewer must not delete the file of
    // that name, so it is pointed at no file at all, as when reports are disabled.
    ReportName = r.owned ? QFileInfo(r.file.fileName()).completeBaseName() : QString();
    appendTemplate(QStringLiteral("header.htm"));
}

void WriteReportLine(const QString& line) {
    if (!ReportsEnabled) {
        return;
    }
    appendLine(line);
}

void EndReport() {
    if (!ReportsEnabled) {
        return;
    }
    appendTemplate(QStringLiteral("footer.htm"));
    // The report is complete: from here on only the viewer touches the file.
    closeReportFile();
    reportFile().owned = false;
}

void ReportGridAsTable(const QString& title, TDBGrid& grid) {
    Dataset& data = grid.dataSource()->dataset();
    const QList<GridColumn> columns = grid.columns();
    StatusShown status(kStatusCaption, data.recordCount());
    BeginReport(title, kProducerUser);
    WriteReportLine(QStringLiteral("<table align=\"center\" width=\"100%\" border=\"1\" cellpadding=\"0\" "
                                   "cellspacing=\"0\" bordercolor=\"#333333\">"));
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
        GridRepaintHeld held(grid);
        data.first();
        while (!data.eof()) {
            WriteReportLine(QStringLiteral("<tr>"));
            for (qsizetype c = 0; c < columns.size(); ++c) {
                const int f = fields[static_cast<size_t>(c)];
                const QString value = f >= 0 ? data.text(f) : data.fieldByName(columns[c].fieldName).asString();
                WriteReportLine(QStringLiteral("<td><div align=\"center\">") + escaped(value) +
                                QStringLiteral("&nbsp;</div></td>"));
            }
            data.next();
            WriteReportLine(QStringLiteral("</tr>"));
            StepStatus();
        }
    }
    WriteReportLine(QStringLiteral("</table>"));
    EndReport();
    status.hide();
    showReport();
}

void ReportRecordAsList(const QString& title, TDBGrid& grid) {
    Dataset& data = grid.dataSource()->dataset();
    StatusShown status(kStatusCaption, data.fieldCount());
    BeginReport(title, kProducerUser);
    for (int f = 0; f < data.fieldCount(); ++f) {
        WriteReportLine(QStringLiteral("<b>") + escaped(data.fieldDef(f).name) + QStringLiteral("</b> : ") +
                        escaped(data.text(f)) + QStringLiteral("<br>"));
        StepStatus();
    }
    EndReport();
    status.hide();
    showReport();
}

// ---------------------------------------------------------------------------------------------------------
// The viewer

Treporterfrm::Treporterfrm(QWidget* parent)
    : Form(parent, QStringLiteral("reporterfrm"), QStringLiteral("Results Report"), QSize(696, 480), false) {
    reporterfrm = this;
    setBackgroundPicture(false);
    QPalette look = palette();
    look.setColor(QPalette::Window, Look::kStatusBlue);
    look.setColor(QPalette::WindowText, Look::kViewerText);
    look.setColor(QPalette::ButtonText, Look::kViewerText);
    setPalette(look);
    setAutoFillBackground(true);
    QFont viewerFont;
    viewerFont.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                            QStringLiteral("Arial"), QStringLiteral("Nimbus Sans")});
    viewerFont.setStyleHint(QFont::SansSerif);
    viewerFont.setPixelSize(16);
    viewerFont.setBold(true);
    setFont(viewerFont);
    setSizeGripEnabled(true);

    ToolBar1 = new QFrame(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFrameShape(QFrame::Box);
    ToolBar1->setFixedHeight(61);
    auto* buttons = new QHBoxLayout(ToolBar1);
    buttons->setContentsMargins(1, 1, 1, 1);
    buttons->setSpacing(0);
    DisMissReportBtn =
        makeToolButton(QStringLiteral("DisMissReportBtn"), QStringLiteral("Dismiss"), QStringLiteral("dismiss.png"));
    ToolButton1 = makeToolButton(QStringLiteral("ToolButton1"), QStringLiteral("Save"), QStringLiteral("save.png"));
    ToolButton2 = makeToolButton(QStringLiteral("ToolButton2"), QStringLiteral("Print"), QStringLiteral("print.png"));
    buttons->addWidget(DisMissReportBtn);
    buttons->addWidget(ToolButton1);
    buttons->addWidget(ToolButton2);
    buttons->addStretch(1);

    web = std::make_unique<TextBrowserView>(this);
    web->widget()->setObjectName(QStringLiteral("web"));
    // The page keeps the view's own plain face; only the toolbar has the viewer's bold one.
    QFont pageFont = QApplication::font();
    pageFont.setBold(false);
    web->widget()->setFont(pageFont);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(ToolBar1);
    layout->addWidget(web->widget(), 1);

    connectGuarded(DisMissReportBtn, &QToolButton::clicked, this, &Treporterfrm::DisMissReportBtnClick);
    connectGuarded(ToolButton1, &QToolButton::clicked, this, &Treporterfrm::ToolButton1Click);
    connectGuarded(ToolButton2, &QToolButton::clicked, this, &Treporterfrm::ToolButton2Click);
}

Treporterfrm::~Treporterfrm() = default;

QToolButton* Treporterfrm::makeToolButton(const QString& name, const QString& caption, const QString& picture) {
    auto* button = new QToolButton(ToolBar1);
    button->setObjectName(name);
    button->setText(caption);
    button->setIcon(Look::icon(picture));
    button->setIconSize(QSize(32, 32));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    button->setFixedSize(70, 59);
    return button;
}

void Treporterfrm::FormShow() {
    web->navigate(QStringLiteral("file://") + ReportFilePath());
}

void Treporterfrm::FormClose() {
    // A report that could not be written, or was never written, leaves nothing to delete; that is no error.
    QFile::remove(ReportFilePath());
}

void Treporterfrm::reject() {
    DisMissReportBtnClick();
}

void Treporterfrm::DisMissReportBtnClick() {
    setModalResult(mrCancel);
}

void Treporterfrm::ToolButton1Click() {
    web->saveAs();
}

void Treporterfrm::ToolButton2Click() {
    web->print();
}
