// The Labels window. Every change of a choice redraws the preview from the first page's worth of assets; Print
// and Save as PDF gather every asset chosen, have the whole run checked, and draw nothing when it cannot be
// printed as asked. A PDF is written beside its place and put there only when complete; the offset used is
// remembered for the stock on this machine once the labels are out.
#include "labels/labelswindow.h"

#include "data/datamodule.h"
#include "data/errors.h"
#include "data/textvalues.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPdfWriter>
#include <QPlainTextEdit>
#include <QPrinter>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QScopeGuard>
#include <QSettings>
#include <QStandardPaths>
#include <QSysInfo>
#include <cmath>

namespace {

constexpr double kMillimetresPerInch = 25.4;
const QColor kUnprintedPlace{215, 215, 215};

// A number of millimetres as typed: a decimal point or comma, blanks around it.
std::optional<double> typedMillimetres(const QString& text) {
    QString t = text.trimmed();
    t.replace(QLatin1Char(','), QLatin1Char('.'));
    bool ok = false;
    const double v = t.toDouble(&ok);
    return ok && std::isfinite(v) ? std::optional<double>(v) : std::nullopt;
}

std::optional<int> typedCount(const QString& text) {
    bool ok = false;
    const int v = text.trimmed().toInt(&ok);
    return ok ? std::optional<int>(v) : std::nullopt;
}

QString machineName() {
    const QString host = QSysInfo::machineHostName();
    return host.isEmpty() ? QStringLiteral("this-machine") : host;
}

} // namespace

LabelPreview::LabelPreview(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("previewView"));
}

void LabelPreview::showSheet(std::shared_ptr<const LabelSheet> sheet, const QString& problem) {
    sheet_ = std::move(sheet);
    problem_ = problem;
    update();
}

void LabelPreview::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Look::kMauve);
    if (!sheet_) {
        p.setPen(Look::kViolet);
        p.drawText(rect().adjusted(16, 16, -16, -16), Qt::AlignCenter | Qt::TextWordWrap, problem_);
        return;
    }
    // The page as large as the view allows, drawn into a picture whose resolution is the page's scale, so that
    // the labels are drawn exactly as for a printer.
    const LabelStock& stock = sheet_->job().stock;
    const double scale = std::min((width() - 16) / stock.page.width(), (height() - 16) / stock.page.height());
    if (scale <= 0) {
        return;
    }
    QImage page(QSize(qRound(stock.page.width() * scale), qRound(stock.page.height() * scale)), QImage::Format_RGB32);
    page.setDotsPerMeterX(qRound(scale * 1000));
    page.setDotsPerMeterY(qRound(scale * 1000));
    page.fill(Qt::white);
    {
        QPainter onPage(&page);
        onPage.setRenderHint(QPainter::Antialiasing);
        onPage.setPen(QPen(kUnprintedPlace, 1));
        for (int i = 0; i < stock.perPage(); ++i) {
            const QRectF r = stock.labelRect(i);
            onPage.drawRect(QRectF(r.x() * scale, r.y() * scale, r.width() * scale, r.height() * scale));
        }
        sheet_->drawPage(onPage, 0);
    }
    const QPoint at((width() - page.width()) / 2, (height() - page.height()) / 2);
    p.setPen(Qt::gray);
    p.drawRect(QRect(at, page.size()).adjusted(-1, -1, 0, 0));
    p.drawImage(at, page);
}

LabelSettings::LabelSettings(QString file) : file_(std::move(file)) {}

QString LabelSettings::defaultFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           QStringLiteral("/vantrel/labels.conf");
}

QPointF LabelSettings::offset(const QString& stockKey) const {
    const QSettings s(file_, QSettings::IniFormat);
    const QString key = QStringLiteral("%1/offset-%2").arg(machineName(), stockKey);
    return QPointF(s.value(key + QStringLiteral("-x"), 0.0).toDouble(),
                   s.value(key + QStringLiteral("-y"), 0.0).toDouble());
}

QString LabelSettings::lastStock() const {
    return QSettings(file_, QSettings::IniFormat).value(QStringLiteral("stock")).toString();
}

std::optional<LabelStock> LabelSettings::customStock() const {
    const QSettings s(file_, QSettings::IniFormat);
    const QStringList m = s.value(QStringLiteral("custom")).toStringList();
    if (m.size() != 10) {
        return std::nullopt;
    }
    std::vector<double> v;
    for (const QString& part : m) {
        v.push_back(part.toDouble());
    }
    return ::customStock({v[0], v[1]}, static_cast<int>(v[2]), static_cast<int>(v[3]), {v[4], v[5]}, v[6], v[7], v[8],
                         v[9]);
}

void LabelSettings::remember(const LabelStock& stock, const QPointF& offset) const {
    QSettings s(file_, QSettings::IniFormat);
    const QString key = QStringLiteral("%1/offset-%2").arg(machineName(), stock.key);
    s.setValue(key + QStringLiteral("-x"), offset.x());
    s.setValue(key + QStringLiteral("-y"), offset.y());
    s.setValue(QStringLiteral("stock"), stock.key);
    if (stock.key == QLatin1String("custom")) {
        QStringList m;
        for (const double v :
             {stock.page.width(), stock.page.height(), double(stock.columns), double(stock.rows), stock.label.width(),
              stock.label.height(), stock.gapAcross, stock.gapDown, stock.marginLeft, stock.marginTop}) {
            m << QString::number(v, 'g', 10);
        }
        s.setValue(QStringLiteral("custom"), m);
    }
    s.sync();
    if (s.status() != QSettings::NoError) {
        throw ControlError(QStringLiteral("The labels are out, but the print offset could not be remembered in %1: "
                                          "the file cannot be written")
                               .arg(QDir::toNativeSeparators(file_)));
    }
}

LabelsWindow::LabelsWindow(QWidget* parent, DataModule& data, const QString& settingsFile)
    : Form(parent, QStringLiteral("labelsWindow"), QStringLiteral("Labels"), QSize(880, 566)), data_(data),
      settings_(settingsFile), customStock_(::customStock({210, 297}, 3, 8, {63.5, 33.9}, 2.5, 0, 7.2, 12.9)) {
    const auto box = [this](const QString& name, const QString& caption, const QRect& at) {
        auto* b = new QGroupBox(caption, this);
        b->setObjectName(name);
        Look::makeMauve(b);
        b->setGeometry(at);
        return b;
    };
    const auto edit = [](QWidget* parent, const QString& name, const QRect& at) {
        auto* e = new QLineEdit(parent);
        e->setObjectName(name);
        e->setGeometry(at);
        return e;
    };
    const auto radio = [](QWidget* parent, const QString& name, const QString& caption, const QRect& at) {
        auto* r = new QRadioButton(caption, parent);
        r->setObjectName(name);
        r->setGeometry(at);
        return r;
    };
    const auto check = [](QWidget* parent, const QString& name, const QString& caption, const QRect& at) {
        auto* c = new QCheckBox(caption, parent);
        c->setObjectName(name);
        c->setGeometry(at);
        return c;
    };

    assetsBox = box(QStringLiteral("assetsBox"), QStringLiteral("Assets"), QRect(8, 6, 432, 172));
    listRadio =
        radio(assetsBox, QStringLiteral("listRadio"), QStringLiteral("The &list as searched"), QRect(12, 24, 410, 22));
    selectedRadio = radio(assetsBox, QStringLiteral("selectedRadio"), QStringLiteral("The &selected asset"),
                          QRect(12, 48, 410, 22));
    purchasedRadio = radio(assetsBox, QStringLiteral("purchasedRadio"), QStringLiteral("&Purchased on or after"),
                           QRect(12, 72, 220, 22));
    purchasedRadio->setToolTip(QStringLiteral("The register keeps no date an asset was added: the purchase date "
                                              "stands for it, as the asset window fills it in with that day"));
    purchasedEdit = edit(assetsBox, QStringLiteral("purchasedEdit"), QRect(236, 70, 130, 26));
    idsRadio =
        radio(assetsBox, QStringLiteral("idsRadio"), QStringLiteral("These &identifiers:"), QRect(12, 98, 410, 22));
    idsEdit = new QPlainTextEdit(assetsBox);
    idsEdit->setObjectName(QStringLiteral("idsEdit"));
    idsEdit->setGeometry(12, 122, 408, 42);
    idsEdit->setTabChangesFocus(true);

    stockBox = box(QStringLiteral("stockBox"), QStringLiteral("Stock"), QRect(8, 184, 432, 222));
    stockCombo = new QComboBox(stockBox);
    stockCombo->setObjectName(QStringLiteral("stockCombo"));
    stockCombo->setGeometry(12, 24, 408, 28);
    for (const LabelStock& s : presetStocks()) {
        stockCombo->addItem(s.name, s.key);
    }
    stockCombo->addItem(QStringLiteral("Custom stock"), QStringLiteral("custom"));
    struct Field {
        QLineEdit** edit;
        const char* name;
        const char* caption;
    };
    const Field fields[] = {
        {&pageWidthEdit, "pageWidth", "Page width"},    {&pageHeightEdit, "pageHeight", "Page height"},
        {&columnsEdit, "columns", "Columns"},           {&rowsEdit, "rows", "Rows"},
        {&labelWidthEdit, "labelWidth", "Label width"}, {&labelHeightEdit, "labelHeight", "Label height"},
        {&gapAcrossEdit, "gapAcross", "Gap across"},    {&gapDownEdit, "gapDown", "Gap down"},
        {&marginLeftEdit, "marginLeft", "Left margin"}, {&marginTopEdit, "marginTop", "Top margin"},
    };
    for (int i = 0; i < 10; ++i) {
        const int x = i % 2 == 0 ? 12 : 222;
        const int y = 60 + (i / 2) * 31;
        const QString name = QString::fromLatin1(fields[i].name);
        *fields[i].edit = edit(stockBox, name + QStringLiteral("Edit"), QRect(x + 112, y, 84, 26));
        Look::boldLabel(stockBox, name + QStringLiteral("Label"), QString::fromLatin1(fields[i].caption),
                        QRect(x, y + 3, 110, 20), *fields[i].edit);
    }

    runBox = box(QStringLiteral("runBox"), QStringLiteral("Sheet"), QRect(8, 412, 432, 62));
    startEdit = edit(runBox, QStringLiteral("startEdit"), QRect(62, 24, 44, 26));
    Look::boldLabel(runBox, QStringLiteral("startLabel"), QStringLiteral("S&tart"), QRect(12, 27, 48, 20), startEdit);
    copiesEdit = edit(runBox, QStringLiteral("copiesEdit"), QRect(170, 24, 44, 26));
    Look::boldLabel(runBox, QStringLiteral("copiesLabel"), QStringLiteral("&Copies"), QRect(114, 27, 56, 20),
                    copiesEdit);
    offsetXEdit = edit(runBox, QStringLiteral("offsetXEdit"), QRect(300, 24, 56, 26));
    offsetYEdit = edit(runBox, QStringLiteral("offsetYEdit"), QRect(362, 24, 56, 26));
    Look::boldLabel(runBox, QStringLiteral("offsetLabel"), QStringLiteral("&Offset"), QRect(226, 27, 72, 20),
                    offsetXEdit);
    offsetXEdit->setToolTip(QStringLiteral("Millimetres to move everything right, for this stock on this machine"));
    offsetYEdit->setToolTip(QStringLiteral("Millimetres to move everything down, for this stock on this machine"));
    startEdit->setText(QStringLiteral("1"));
    copiesEdit->setText(QStringLiteral("1"));

    contentBox = box(QStringLiteral("contentBox"), QStringLiteral("Each label shows its identifier and QR code, and"),
                     QRect(8, 480, 432, 80));
    code128Check =
        check(contentBox, QStringLiteral("code128Check"), QStringLiteral("Code &128"), QRect(12, 24, 120, 22));
    companyCheck =
        check(contentBox, QStringLiteral("companyCheck"), QStringLiteral("Co&mpany"), QRect(140, 24, 130, 22));
    groupCheck = check(contentBox, QStringLiteral("groupCheck"), QStringLiteral("&Group"), QRect(280, 24, 140, 22));
    descriptionCheck =
        check(contentBox, QStringLiteral("descriptionCheck"), QStringLiteral("&Description"), QRect(12, 50, 120, 22));
    checkDateCheck =
        check(contentBox, QStringLiteral("checkDateCheck"), QStringLiteral("Check d&ate"), QRect(140, 50, 130, 22));
    checkDateCheck->setToolTip(QStringLiteral("For electrical items, the date of the last electrical check"));
    outlinesCheck =
        check(contentBox, QStringLiteral("outlinesCheck"), QStringLiteral("O&utlines"), QRect(280, 50, 140, 22));
    outlinesCheck->setToolTip(QStringLiteral("A thin frame round each label, for a trial print on plain paper"));

    previewView = new LabelPreview(this);
    previewView->setGeometry(448, 12, 424, 444);
    notesLabel = new QLabel(this);
    notesLabel->setObjectName(QStringLiteral("notesLabel"));
    notesLabel->setGeometry(448, 460, 424, 58);
    notesLabel->setWordWrap(true);
    notesLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    notesLabel->setFont(Look::font(13));

    printButton = new QPushButton(QStringLiteral("&Print..."), this);
    printButton->setObjectName(QStringLiteral("printButton"));
    printButton->setGeometry(540, 526, 100, 32);
    printButton->setDefault(true);
    saveButton = new QPushButton(QStringLiteral("Sa&ve as PDF..."), this);
    saveButton->setObjectName(QStringLiteral("saveButton"));
    saveButton->setGeometry(648, 526, 130, 32);
    closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setObjectName(QStringLiteral("closeButton"));
    closeButton->setGeometry(786, 526, 86, 32);

    // The choices in the order they stand, then the buttons.
    const QList<QWidget*> order{listRadio,      selectedRadio,  purchasedRadio,  purchasedEdit,  idsRadio,
                                idsEdit,        stockCombo,     pageWidthEdit,   pageHeightEdit, columnsEdit,
                                rowsEdit,       labelWidthEdit, labelHeightEdit, gapAcrossEdit,  gapDownEdit,
                                marginLeftEdit, marginTopEdit,  startEdit,       copiesEdit,     offsetXEdit,
                                offsetYEdit,    code128Check,   companyCheck,    groupCheck,     descriptionCheck,
                                checkDateCheck, outlinesCheck,  printButton,     saveButton,     closeButton};
    for (qsizetype i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    for (QRadioButton* r : {listRadio, selectedRadio, purchasedRadio, idsRadio}) {
        connectGuarded(r, &QRadioButton::toggled, this, &LabelsWindow::refreshPreview);
    }
    for (QLineEdit* e : findChildren<QLineEdit*>()) {
        connectGuarded(e, &QLineEdit::textChanged, this, &LabelsWindow::refreshPreview);
    }
    connectGuarded(idsEdit, &QPlainTextEdit::textChanged, this, &LabelsWindow::refreshPreview);
    for (QCheckBox* c : findChildren<QCheckBox*>()) {
        connectGuarded(c, &QCheckBox::toggled, this, &LabelsWindow::refreshPreview);
    }
    connect(purchasedEdit, &QLineEdit::textEdited, purchasedRadio, [this] { purchasedRadio->setChecked(true); });
    // Typing a date or identifiers chooses them.
    connect(idsEdit, &QPlainTextEdit::textChanged, idsRadio, [this] { idsRadio->setChecked(true); });
    connectGuarded(stockCombo, &QComboBox::currentIndexChanged, this, &LabelsWindow::stockComboChanged);
    connectGuarded(printButton, &QPushButton::clicked, this, &LabelsWindow::printButtonClick);
    connectGuarded(saveButton, &QPushButton::clicked, this, &LabelsWindow::saveButtonClick);
    connectGuarded(closeButton, &QPushButton::clicked, this, &LabelsWindow::closeButtonClick);

    // The stock last printed on, and a custom stock's last measures.
    if (const std::optional<LabelStock> custom = settings_.customStock()) {
        customStock_ = *custom;
    }
    const int last = stockCombo->findData(settings_.lastStock());
    stockCombo->setCurrentIndex(last >= 0 ? last : 0);
    stockComboChanged();
}

LabelsWindow::~LabelsWindow() = default;

QPrinter& LabelsWindow::printer() {
    if (!printer_) {
        printer_ = std::make_unique<QPrinter>(QPrinter::HighResolution);
    }
    return *printer_;
}

void LabelsWindow::FormShow() {
    Dataset& list = data_.mainquery;
    const int listed = list.active() ? list.recordCount() : 0;
    listRadio->setText(QStringLiteral("The &list as searched: %1 asset%2").arg(listed).arg(listed == 1 ? "" : "s"));
    const QString current = listed > 0 ? list.fieldByName(QStringLiteral("ASSETID")).asString() : QString();
    selectedRadio->setText(current.isEmpty() ? QStringLiteral("The &selected asset: none")
                                             : QStringLiteral("The &selected asset: %1").arg(current));
    selectedRadio->setEnabled(!current.isEmpty());
    listRadio->setEnabled(listed > 0);
    if (purchasedEdit->text().isEmpty()) {
        purchasedEdit->setText(dateToText(QDate::currentDate()));
    }
    // At first the selected asset's labels, most often those of an asset just added; a choice the list no
    // longer offers falls back to typed identifiers.
    const bool chosen =
        listRadio->isChecked() || selectedRadio->isChecked() || purchasedRadio->isChecked() || idsRadio->isChecked();
    if (!chosen) {
        (current.isEmpty() ? idsRadio : selectedRadio)->setChecked(true);
    } else if ((listRadio->isChecked() && listed == 0) || (selectedRadio->isChecked() && current.isEmpty())) {
        idsRadio->setChecked(true);
    }
    refreshPreview();
}

void LabelsWindow::reject() {
    closeButtonClick();
}

void LabelsWindow::closeButtonClick() {
    setModalResult(mrCancel);
}

void LabelsWindow::stockComboChanged() {
    const QString key = stockCombo->currentData().toString();
    const std::optional<LabelStock> preset = presetStock(key);
    const LabelStock stock = preset ? *preset : customStock_;
    showStockFields(stock);
    const QPointF offset = settings_.offset(stock.key);
    offsetXEdit->setText(millimetres(offset.x()));
    offsetYEdit->setText(millimetres(offset.y()));
    refreshPreview();
}

void LabelsWindow::showStockFields(const LabelStock& stock) {
    showingStock_ = true;
    const bool custom = stock.key == QLatin1String("custom");
    const std::pair<QLineEdit*, QString> values[] = {
        {pageWidthEdit, millimetres(stock.page.width())},   {pageHeightEdit, millimetres(stock.page.height())},
        {columnsEdit, QString::number(stock.columns)},      {rowsEdit, QString::number(stock.rows)},
        {labelWidthEdit, millimetres(stock.label.width())}, {labelHeightEdit, millimetres(stock.label.height())},
        {gapAcrossEdit, millimetres(stock.gapAcross)},      {gapDownEdit, millimetres(stock.gapDown)},
        {marginLeftEdit, millimetres(stock.marginLeft)},    {marginTopEdit, millimetres(stock.marginTop)},
    };
    for (const auto& [e, text] : values) {
        e->setText(text);
        // A preset's measures are shown, not typed; the tape's length is chosen.
        e->setReadOnly(!custom && !(stock.tape && e == labelHeightEdit));
    }
    showingStock_ = false;
}

std::optional<LabelStock> LabelsWindow::stockFromFields(QStringList& problems) const {
    const QString key = stockCombo->currentData().toString();
    const auto mm = [&](QLineEdit* e, const QString& what) {
        const std::optional<double> v = typedMillimetres(e->text());
        if (!v) {
            problems << QStringLiteral("The %1 '%2' is not a number of millimetres.").arg(what, e->text());
        }
        return v.value_or(0);
    };
    if (const std::optional<LabelStock> preset = presetStock(key)) {
        return preset->tape ? tapeStock(mm(labelHeightEdit, QStringLiteral("length the tape is cut at"))) : *preset;
    }
    const auto count = [&](QLineEdit* e, const QString& what) {
        const std::optional<int> v = typedCount(e->text());
        if (!v) {
            problems << QStringLiteral("The number of %1 '%2' is not a whole number.").arg(what, e->text());
        }
        return v.value_or(0);
    };
    const LabelStock stock = ::customStock(
        {mm(pageWidthEdit, QStringLiteral("page width")), mm(pageHeightEdit, QStringLiteral("page height"))},
        count(columnsEdit, QStringLiteral("columns")), count(rowsEdit, QStringLiteral("rows")),
        {mm(labelWidthEdit, QStringLiteral("label width")), mm(labelHeightEdit, QStringLiteral("label height"))},
        mm(gapAcrossEdit, QStringLiteral("gap across")), mm(gapDownEdit, QStringLiteral("gap down")),
        mm(marginLeftEdit, QStringLiteral("left margin")), mm(marginTopEdit, QStringLiteral("top margin")));
    return problems.isEmpty() ? std::optional<LabelStock>(stock) : std::nullopt;
}

LabelsWindow::Run LabelsWindow::describeRun(int limit) {
    Run run;
    LabelJob job;
    std::optional<LabelStock> stock = stockFromFields(run.problems);
    const std::optional<int> start = typedCount(startEdit->text());
    const std::optional<int> copies = typedCount(copiesEdit->text());
    const std::optional<double> x = typedMillimetres(offsetXEdit->text());
    const std::optional<double> y = typedMillimetres(offsetYEdit->text());
    if (!start) {
        run.problems << QStringLiteral("The label to start at, '%1', is not a whole number.").arg(startEdit->text());
    }
    if (!copies) {
        run.problems << QStringLiteral("The number of copies, '%1', is not a whole number.").arg(copiesEdit->text());
    }
    if (!x || !y) {
        run.problems << QStringLiteral("The print offset '%1', '%2' is not two numbers of millimetres.")
                            .arg(offsetXEdit->text(), offsetYEdit->text());
    }
    if (!run.problems.isEmpty()) {
        return run;
    }
    job.stock = *stock;
    job.start = *start;
    job.copies = *copies;
    job.offset = QPointF(*x, *y);
    job.content = {code128Check->isChecked(), companyCheck->isChecked(), groupCheck->isChecked(),
                   descriptionCheck->isChecked(), checkDateCheck->isChecked()};
    job.outlines = outlinesCheck->isChecked();

    // Only as many assets as the labels wanted fill; the preview asks for its first page's worth.
    const Connection& c = data_.ADOConnection1;
    if (!c.isOpen()) {
        run.problems << QStringLiteral("The register is not open.");
        return run;
    }
    job.company = labelCompanyName(c);
    Dataset& list = data_.mainquery;
    QStringList ids;
    std::vector<LabelAsset> assets;
    QStringList unknown;
    if (listRadio->isChecked() || selectedRadio->isChecked()) {
        if (list.active() && list.recordCount() > 0) {
            const int field = list.findField(QStringLiteral("ASSETID"));
            if (selectedRadio->isChecked()) {
                ids << list.text(field);
            } else {
                const int rows = limit < 0 ? list.recordCount() : std::min(limit, list.recordCount());
                for (const QString& id : list.textsOf(0, rows, {field})) {
                    ids << id;
                }
            }
        }
        assets = labelAssetsByIds(c, ids, unknown);
    } else if (purchasedRadio->isChecked()) {
        QDate since;
        try {
            since = parseDate(purchasedEdit->text());
        } catch (const ConversionError& e) {
            run.problems << e.text();
            return run;
        }
        assets = labelAssetsPurchasedSince(c, since, limit);
    } else {
        ids = splitIdentifiers(idsEdit->toPlainText());
        if (limit >= 0 && ids.size() > limit) {
            ids = ids.mid(0, limit);
        }
        assets = labelAssetsByIds(c, ids, unknown);
    }
    for (const QString& id : unknown) {
        run.problems << QStringLiteral("No asset has the identifier '%1'.").arg(id);
    }
    run.sheet = std::make_unique<LabelSheet>(job, std::move(assets));
    run.problems << run.sheet->problems();
    return run;
}

void LabelsWindow::refreshPreview() {
    if (showingStock_ || !isVisible()) {
        return;
    }
    // The first page holds at most perPage labels, so that many assets are enough to draw it.
    QStringList problems;
    const std::optional<LabelStock> stock = stockFromFields(problems);
    const int perPage = stock && stock->perPage() > 0 ? stock->perPage() : 1;
    Run run = describeRun(std::min(perPage, 1000));
    QString notes;
    if (run.problems.isEmpty()) {
        notes = run.sheet->notes().join(QLatin1Char('\n'));
        previewView->showSheet(std::shared_ptr<const LabelSheet>(std::move(run.sheet)), QString());
    } else {
        previewView->showSheet(nullptr, run.problems.join(QStringLiteral("\n\n")));
    }
    notesLabel->setText(notes);
    const bool ready = run.problems.isEmpty();
    printButton->setEnabled(ready);
    saveButton->setEnabled(ready);
}

std::unique_ptr<LabelSheet> LabelsWindow::runToPrint() {
    Run run;
    {
        // Gathering and measuring a long run takes a moment before its progress can be shown.
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const auto restore = qScopeGuard([] { QApplication::restoreOverrideCursor(); });
        run = describeRun(-1);
    }
    if (!run.problems.isEmpty()) {
        Dialogs::showError(QStringLiteral("No labels were printed:\n\n") + run.problems.join(QLatin1Char('\n')),
                           QStringLiteral("Labels"));
        return nullptr;
    }
    return std::move(run.sheet);
}

bool LabelsWindow::printWithProgress(const LabelSheet& sheet, QPagedPaintDevice& device, const QString& what,
                                     const std::function<void()>& abandon) {
    QProgressDialog progress(what, QStringLiteral("Cancel"), 0, sheet.pageCount(), this);
    progress.setObjectName(QStringLiteral("labelsProgress"));
    progress.setWindowTitle(QStringLiteral("Labels"));
    progress.setWindowModality(Qt::WindowModal);
    progress.setMinimumDuration(1000);
    progress.setAutoClose(false);
    progress.setAutoReset(false);
    return sheet.print(
        device,
        [&](int done, int) {
            progress.setValue(done);
            return !progress.wasCanceled();
        },
        abandon);
}

void LabelsWindow::printButtonClick() {
    const std::unique_ptr<LabelSheet> sheet = runToPrint();
    if (!sheet) {
        return;
    }
    QPrinter& p = printer();
    // The stock decides the paper: it is set before the dialog, so the dialog shows it, and again after it.
    p.setFullPage(true);
    p.setPageSize(labelPageSize(sheet->job().stock));
    if (!Dialogs::execPrintDialog(this, p)) {
        return;
    }
    const QString target = p.outputFormat() == QPrinter::PdfFormat ? p.outputFileName() : p.printerName();
    if (target.isEmpty()) {
        throw ControlError(QStringLiteral("No printer or file was chosen to print the labels on"));
    }
    if (!printWithProgress(*sheet, p, QStringLiteral("Printing the labels..."), [&p] { p.abort(); })) {
        return;
    }
    if (p.printerState() == QPrinter::Error) {
        throw ControlError(
            QStringLiteral("The labels could not be printed on %1").arg(QDir::toNativeSeparators(target)));
    }
    rememberSettings(sheet->job());
}

void LabelsWindow::saveButtonClick() {
    const std::unique_ptr<LabelSheet> sheet = runToPrint();
    if (!sheet) {
        return;
    }
    QString fileName =
        Dialogs::getSaveFileName(this, QStringLiteral("Save Labels as PDF"), QStringLiteral("PDF (*.pdf)"));
    if (fileName.isEmpty()) {
        return;
    }
    if (QFileInfo(fileName).suffix().isEmpty()) {
        fileName += QStringLiteral(".pdf");
    }
    // Written beside the file and put in its place only when whole: a run cancelled or failed leaves a file
    // already there as it was.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        throw ControlError(QStringLiteral("Cannot save the labels as %1: %2")
                               .arg(QDir::toNativeSeparators(fileName), file.errorString()));
    }
    {
        QPdfWriter pdf(&file);
        pdf.setCreator(QStringLiteral("Vantrel"));
        pdf.setTitle(QStringLiteral("Labels"));
        if (!printWithProgress(*sheet, pdf, QStringLiteral("Saving the labels as a PDF..."), {})) {
            file.cancelWriting();
            return;
        }
    }
    if (!file.commit()) {
        throw ControlError(QStringLiteral("Cannot save the labels as %1: %2")
                               .arg(QDir::toNativeSeparators(fileName), file.errorString()));
    }
    rememberSettings(sheet->job());
}

void LabelsWindow::rememberSettings(const LabelJob& job) {
    if (job.stock.key == QLatin1String("custom")) {
        customStock_ = job.stock;
    }
    settings_.remember(job.stock, job.offset);
}
