// The Stock-take window. A scan is saved before it is answered (recordScan commits it), so what the window says
// is in the register; the counters and the latest scans are read from the register after every scan and on a
// timer, which is how the scans of other programs on the same stock-take show. The expected set, which takes a
// read of every asset, is counted when a stock-take opens and on every fifth tick of the timer.
#include "stocktake/stocktakewindow.h"

#include "app/logon.h"
#include "app/writeaccess.h"
#include "data/datamodule.h"
#include "data/errors.h"
#include "data/onfailure.h"
#include "data/textvalues.h"
#include "reporting/reportwriter.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QGroupBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTimer>
#include <QTreeWidget>

namespace {

constexpr int kWidth = 860;
constexpr int kHeight = 600;
constexpr int kRefreshMilliseconds = 2000;
constexpr int kExpectedEveryTicks = 5;
constexpr int kScansShown = 50;

enum ScanColumn { When, Identifier, Outcome, Who };
enum StockTakeColumn { Name, Covers, Started, State };

// An outcome in a word or two, as the list of scans shows it.
QString outcomeWords(ScanOutcome outcome) {
    switch (outcome) {
    case ScanOutcome::Found:
        return QStringLiteral("Found");
    case ScanOutcome::Elsewhere:
        return QStringLiteral("Recorded elsewhere");
    case ScanOutcome::WrittenOff:
        return QStringLiteral("Written off");
    case ScanOutcome::NotExpected:
        return QStringLiteral("Not expected");
    case ScanOutcome::Repeat:
        return QStringLiteral("Scanned before");
    case ScanOutcome::Unknown:
        return QStringLiteral("Unknown");
    }
    return QString();
}

// A UTC time as the register keeps it, in the local time.
QString localTime(const QString& utc, bool withDate) {
    QDateTime t = QDateTime::fromString(utc, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
    if (!t.isValid()) {
        return utc;
    }
    t.setTimeSpec(Qt::UTC);
    return withDate ? dateTimeToText(t.toLocalTime(), true) : t.toLocalTime().toString(QStringLiteral("HH:mm:ss"));
}

// What a stock-take covers, in words.
QString coverage(const StockTake& t) {
    return QStringLiteral("%1, %2").arg(
        t.location.isEmpty() ? QStringLiteral("any location") : t.location,
        t.groups.isEmpty()
            ? QStringLiteral("every group")
            : QStringLiteral("group%1 %2").arg(t.groups.size() == 1 ? "" : "s", t.groups.join(QStringLiteral(", "))));
}

QTreeWidget* makeList(QWidget* parent, const QString& name, const QStringList& titles, const QList<int>& widths) {
    auto* list = new QTreeWidget(parent);
    list->setObjectName(name);
    list->setColumnCount(static_cast<int>(titles.size()));
    list->setHeaderLabels(titles);
    list->setRootIsDecorated(false);
    list->setItemsExpandable(false);
    list->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    for (int i = 0; i < widths.size(); ++i) {
        list->setColumnWidth(i, widths[i]);
    }
    Look::makeGridTitles(list->header());
    Look::ruleRows(list);
    list->header()->setStretchLastSection(true);
    return list;
}

QPushButton* makeButton(QWidget* parent, const QString& name, const QString& caption, const QRect& at) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setGeometry(at);
    // Enter belongs to the scan box: no button of this window takes it.
    b->setAutoDefault(false);
    return b;
}

} // namespace

OutcomeLook outcomeLook(ScanOutcome outcome) {
    switch (outcome) {
    case ScanOutcome::Found:
        return {QColor(0x2e, 0x8b, 0x3a), Qt::white};
    case ScanOutcome::Elsewhere:
        return {QColor(0xf0, 0xa0, 0x20), Qt::black};
    case ScanOutcome::WrittenOff:
        return {QColor(0xc0, 0x39, 0x2b), Qt::white};
    case ScanOutcome::NotExpected:
        return {QColor(0x2f, 0x6f, 0xb5), Qt::white};
    case ScanOutcome::Repeat:
        return {QColor(0x80, 0x80, 0x80), Qt::white};
    case ScanOutcome::Unknown:
        return {QColor(0x8b, 0x00, 0x50), Qt::white};
    }
    return {Qt::white, Qt::black};
}

QString answerText(const ScanAnswer& a) {
    const QString asset = a.description.isEmpty() ? a.assetId : QStringLiteral("%1, %2").arg(a.assetId, a.description);
    switch (a.outcome) {
    case ScanOutcome::Found:
        return QStringLiteral("Found: %1").arg(asset);
    case ScanOutcome::Elsewhere:
        return QStringLiteral("Found, but recorded at %1: %2")
            .arg(a.location.trimmed().isEmpty() ? QStringLiteral("no location") : a.location.trimmed(), asset);
    case ScanOutcome::WrittenOff:
        return QStringLiteral("Found, but written off: %1").arg(asset);
    case ScanOutcome::NotExpected:
        return QStringLiteral("Found, but not expected in this stock-take (group %1): %2").arg(a.group, asset);
    case ScanOutcome::Repeat:
        return QStringLiteral("Already scanned: %1. It counts once (%2 by %3 at %4).")
            .arg(asset, outcomeWords(a.counted).toLower(), a.countedBy, localTime(a.countedAt, false));
    case ScanOutcome::Unknown:
        return QStringLiteral("Unknown identifier: %1. Kept for follow-up.").arg(a.scanned);
    }
    return QString();
}

StockTakeWindow::StockTakeWindow(QWidget* parent, DataModule& data, Tlogonfrm& logon, TDBGrid& Query2Grid,
                                 ReportWriter& writer)
    : Form(parent, QStringLiteral("stockTakeWindow"), QStringLiteral("Stock-take"), QSize(kWidth, kHeight)),
      data_(data), logon_(logon), Query2Grid_(Query2Grid), writer_(writer) {
    pages = new QStackedWidget(this);
    pages->setObjectName(QStringLiteral("pages"));
    pages->setGeometry(0, 0, kWidth, kHeight);

    // The choice: a new stock-take on the left, those in the register on the right.
    choosePage = new QWidget(pages);
    choosePage->setObjectName(QStringLiteral("choosePage"));
    pages->addWidget(choosePage);
    newBox = new QGroupBox(QStringLiteral("Start a New Stock-take"), choosePage);
    newBox->setObjectName(QStringLiteral("newBox"));
    Look::makeMauve(newBox);
    Look::makeBold(newBox);
    newBox->setGeometry(8, 8, 420, 534);
    nameEdit = new QLineEdit(newBox);
    nameEdit->setObjectName(QStringLiteral("nameEdit"));
    nameEdit->setGeometry(12, 52, 396, 28);
    Look::boldLabel(newBox, QStringLiteral("nameLabel"), QStringLiteral("&Name"), QRect(12, 30, 396, 20), nameEdit);
    locationEdit = new QLineEdit(newBox);
    locationEdit->setObjectName(QStringLiteral("locationEdit"));
    locationEdit->setGeometry(12, 112, 396, 28);
    Look::boldLabel(newBox, QStringLiteral("locationLabel"), QStringLiteral("&Location it covers (blank: any)"),
                    QRect(12, 90, 396, 20), locationEdit);
    auto* groupsLabel = new QLabel(QStringLiteral("Groups it covers (none ticked: every group)"), newBox);
    groupsLabel->setObjectName(QStringLiteral("groupsLabel"));
    Look::makeBold(groupsLabel);
    groupsLabel->setGeometry(12, 152, 396, 20);
    for (int digit = 0; digit < 10; ++digit) {
        groupChecks[digit] = new QCheckBox(newBox);
        groupChecks[digit]->setObjectName(QStringLiteral("group%1Check").arg(digit));
    }
    startButton = makeButton(newBox, QStringLiteral("startButton"), QStringLiteral("&Start"), QRect(288, 490, 120, 32));

    openBox = new QGroupBox(QStringLiteral("Go Back to a Stock-take"), choosePage);
    openBox->setObjectName(QStringLiteral("openBox"));
    Look::makeMauve(openBox);
    Look::makeBold(openBox);
    openBox->setGeometry(436, 8, 416, 534);
    stockTakeList =
        makeList(openBox, QStringLiteral("stockTakeList"),
                 {QStringLiteral("Name"), QStringLiteral("Covers"), QStringLiteral("Started"), QStringLiteral("State")},
                 {120, 120, 96});
    stockTakeList->setGeometry(12, 28, 392, 452);
    resumeButton =
        makeButton(openBox, QStringLiteral("resumeButton"), QStringLiteral("&Open"), QRect(284, 490, 120, 32));
    closeButton = makeButton(choosePage, QStringLiteral("closeButton"), QStringLiteral("Close"),
                             QRect(kWidth - 108, kHeight - 48, 100, 32));

    // Scanning.
    scanPage = new QWidget(pages);
    scanPage->setObjectName(QStringLiteral("scanPage"));
    pages->addWidget(scanPage);
    headingLabel = new QLabel(scanPage);
    headingLabel->setObjectName(QStringLiteral("headingLabel"));
    Look::makeBold(headingLabel);
    headingLabel->setGeometry(12, 8, kWidth - 24, 24);
    scanEdit = new QLineEdit(scanPage);
    scanEdit->setObjectName(QStringLiteral("scanEdit"));
    scanEdit->setFont(Look::font(24));
    scanEdit->setGeometry(12, 62, 500, 40);
    Look::boldLabel(scanPage, QStringLiteral("scanLabel"), QStringLiteral("&Scan or type an identifier, then Enter"),
                    QRect(12, 38, 500, 20), scanEdit);
    countsLabel = new QLabel(scanPage);
    countsLabel->setObjectName(QStringLiteral("countsLabel"));
    countsLabel->setFont(Look::font(22, true));
    countsLabel->setGeometry(528, 36, kWidth - 540, 32);
    othersLabel = new QLabel(scanPage);
    othersLabel->setObjectName(QStringLiteral("othersLabel"));
    othersLabel->setFont(Look::font(13));
    othersLabel->setWordWrap(true);
    othersLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    othersLabel->setGeometry(528, 70, kWidth - 540, 36);
    answerLabel = new QLabel(scanPage);
    answerLabel->setObjectName(QStringLiteral("answerLabel"));
    answerLabel->setFont(Look::font(20, true));
    answerLabel->setWordWrap(true);
    answerLabel->setAutoFillBackground(true);
    answerLabel->setMargin(8);
    answerLabel->setGeometry(12, 112, kWidth - 24, 64);
    scansList =
        makeList(scanPage, QStringLiteral("scansList"),
                 {QStringLiteral("When"), QStringLiteral("Scanned"), QStringLiteral("Outcome"), QStringLiteral("By")},
                 {90, 150, 150});
    scansList->setGeometry(12, 186, 596, 356);
    scansList->setFocusPolicy(Qt::NoFocus);

    listsBox = new QGroupBox(QStringLiteral("Lists"), scanPage);
    listsBox->setObjectName(QStringLiteral("listsBox"));
    Look::makeMauve(listsBox);
    Look::makeBold(listsBox);
    listsBox->setGeometry(620, 186, 228, 230);
    const std::pair<QPushButton**, std::pair<const char*, const char*>> lists[] = {
        {&missingButton, {"missingButton", "&Missing"}},
        {&elsewhereButton, {"elsewhereButton", "Found &Elsewhere"}},
        {&writtenOffButton, {"writtenOffButton", "&Written Off, Found"}},
        {&unknownButton, {"unknownButton", "&Unknown Identifiers"}},
        {&foundButton, {"foundButton", "Everything &Found"}}};
    int row = 0;
    for (const auto& [button, names] : lists) {
        *button = makeButton(listsBox, QLatin1String(names.first), QLatin1String(names.second),
                             QRect(12, 28 + row++ * 39, 204, 32));
    }
    closeStockTakeButton = makeButton(scanPage, QStringLiteral("closeStockTakeButton"),
                                      QStringLiteral("&Close Stock-take..."), QRect(620, 430, 228, 32));
    doneButton = makeButton(scanPage, QStringLiteral("doneButton"), QStringLiteral("&Done"), QRect(620, 510, 228, 32));
    // A click on a button leaves the focus in the scan box, where the next scan arrives.
    for (QPushButton* b : scanPage->findChildren<QPushButton*>()) {
        b->setFocusPolicy(Qt::TabFocus);
    }

    refresh_ = new QTimer(this);
    connect(refresh_, &QTimer::timeout, this, &StockTakeWindow::refreshTick);
    connectGuarded(startButton, &QPushButton::clicked, this, &StockTakeWindow::startButtonClick);
    connectGuarded(resumeButton, &QPushButton::clicked, this, &StockTakeWindow::resumeButtonClick);
    connectGuarded(stockTakeList, &QTreeWidget::itemDoubleClicked, this, &StockTakeWindow::resumeButtonClick);
    connectGuarded(closeButton, &QPushButton::clicked, this, &StockTakeWindow::closeButtonClick);
    connectGuarded(scanEdit, &QLineEdit::returnPressed, this, &StockTakeWindow::scanEntered);
    scanEdit->installEventFilter(this);
    connectGuarded(missingButton, &QPushButton::clicked, this, &StockTakeWindow::missingButtonClick);
    connectGuarded(elsewhereButton, &QPushButton::clicked, this, &StockTakeWindow::elsewhereButtonClick);
    connectGuarded(writtenOffButton, &QPushButton::clicked, this, &StockTakeWindow::writtenOffButtonClick);
    connectGuarded(unknownButton, &QPushButton::clicked, this, &StockTakeWindow::unknownButtonClick);
    connectGuarded(foundButton, &QPushButton::clicked, this, &StockTakeWindow::foundButtonClick);
    connectGuarded(closeStockTakeButton, &QPushButton::clicked, this, &StockTakeWindow::closeStockTakeButtonClick);
    connectGuarded(doneButton, &QPushButton::clicked, this, &StockTakeWindow::doneButtonClick);
}

bool StockTakeWindow::eventFilter(QObject* watched, QEvent* event) {
    // A scanner set to end a code with Tab: Tab after an identifier ends the scan as Enter does. In an empty box
    // it moves on, as anywhere.
    if (watched == scanEdit && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Tab && key->modifiers() == Qt::NoModifier && !scanEdit->text().trimmed().isEmpty()) {
            runGuarded([this] { scanEntered(); });
            return true;
        }
    }
    return Form::eventFilter(watched, event);
}

void StockTakeWindow::FormShow() {
    showChoice();
}

void StockTakeWindow::FormClose() {
    refresh_->stop();
    current_.reset();
}

void StockTakeWindow::reject() {
    closeButtonClick();
}

void StockTakeWindow::closeButtonClick() {
    setModalResult(mrCancel);
}

void StockTakeWindow::showChoice() {
    refresh_->stop();
    current_.reset();
    const Connection& c = data_.ADOConnection1;
    for (QCheckBox* check : groupChecks) {
        check->setVisible(false);
        check->setChecked(false);
    }
    // The named groups, in order, down two columns.
    Statement groups(c, "SELECT GroupNumber, Description FROM Groups ORDER BY GroupNumber");
    int shown = 0;
    while (groups.step()) {
        const QString digit = groups.column(0).toString().trimmed();
        const QString name = groups.column(1).toString().trimmed();
        if (digit.size() == 1 && digit[0] >= QLatin1Char('0') && digit[0] <= QLatin1Char('9') && !name.isEmpty()) {
            QCheckBox* check = groupChecks[digit[0].unicode() - '0'];
            check->setText(QStringLiteral("%1 %2").arg(digit, name));
            check->setGeometry(shown < 5 ? 12 : 212, 178 + (shown % 5) * 30, 192, 26);
            check->setVisible(true);
            ++shown;
        }
    }
    groups.reset();
    stockTakeList->clear();
    std::vector<StockTake> all = stockTakes(c, false);
    std::stable_partition(all.begin(), all.end(), [](const StockTake& t) { return t.isOpen(); });
    for (const StockTake& t : all) {
        auto* item =
            new QTreeWidgetItem(stockTakeList, {t.name, coverage(t), localTime(t.startedAt, true),
                                                t.isOpen() ? QStringLiteral("open") : QStringLiteral("closed")});
        item->setData(Name, Qt::UserRole, t.id);
    }
    if (stockTakeList->topLevelItemCount() > 0) {
        stockTakeList->setCurrentItem(stockTakeList->topLevelItem(0));
    }
    resumeButton->setEnabled(stockTakeList->topLevelItemCount() > 0);
    pages->setCurrentWidget(choosePage);
    nameEdit->setFocus();
}

void StockTakeWindow::showScanning(const StockTake& t) {
    current_ = t;
    headingLabel->setText(
        QStringLiteral("Stock-take %1: %2%3")
            .arg(t.name, coverage(t),
                 t.isOpen() ? QString()
                            : QStringLiteral(" (closed by %1, %2)").arg(t.closedBy, localTime(t.closedAt, true))));
    scanEdit->clear();
    scanEdit->setEnabled(t.isOpen());
    closeStockTakeButton->setEnabled(t.isOpen());
    answerLabel->setPalette(palette());
    answerLabel->setText(t.isOpen() ? QStringLiteral("Ready: scan the first item.")
                                    : QStringLiteral("This stock-take is closed: its lists can be shown."));
    pages->setCurrentWidget(scanPage);
    refreshCounts(true);
    (t.isOpen() ? static_cast<QWidget*>(scanEdit) : missingButton)->setFocus();
    ticks_ = 0;
    refresh_->start(kRefreshMilliseconds);
}

void StockTakeWindow::startButtonClick() {
    Connection& c = data_.ADOConnection1;
    if (!mayChangeRegister(c)) {
        return;
    }
    QStringList groups;
    for (int digit = 0; digit < 10; ++digit) {
        if (groupChecks[digit]->isVisible() && groupChecks[digit]->isChecked()) {
            groups << QString::number(digit);
        }
    }
    const StockTake t = startStockTake(c, nameEdit->text(), locationEdit->text(), groups);
    nameEdit->clear();
    locationEdit->clear();
    showScanning(t);
}

void StockTakeWindow::resumeButtonClick() {
    const QTreeWidgetItem* item = stockTakeList->currentItem();
    if (!item) {
        return;
    }
    Connection& c = data_.ADOConnection1;
    const std::optional<StockTake> t = findStockTake(c, item->text(Name));
    if (!t) {
        Dialogs::showMessage(QStringLiteral("The stock-take '%1' is no longer in the register.").arg(item->text(Name)));
        showChoice();
        return;
    }
    // Scanning writes the register; looking at a closed stock-take's lists does not.
    if (t->isOpen() && !mayChangeRegister(c)) {
        return;
    }
    showScanning(*t);
}

void StockTakeWindow::scanEntered() {
    const QString typed = scanEdit->text();
    if (!current_ || scannedIdentifier(typed).isEmpty()) {
        scanEdit->clear();
        return;
    }
    // Typing that arrives while the scan is saved goes into an empty box; a scan the register refused is put
    // back, to be sent again with Enter.
    scanEdit->clear();
    ScanAnswer answer;
    {
        const OnFailure putBack([this, typed] { scanEdit->setText(typed); });
        answer = recordScan(data_.ADOConnection1, *current_, typed);
    }
    showAnswer(answer);
    refreshCounts(false);
}

void StockTakeWindow::showAnswer(const ScanAnswer& answer) {
    const OutcomeLook look = outcomeLook(answer.outcome);
    QPalette p = answerLabel->palette();
    p.setColor(QPalette::Window, look.background);
    p.setColor(QPalette::WindowText, look.text);
    answerLabel->setPalette(p);
    answerLabel->setText(answerText(answer));
    if (answer.outcome != ScanOutcome::Found) {
        QApplication::beep();
    }
}

void StockTakeWindow::refreshCounts(bool withExpected) {
    Connection& c = data_.ADOConnection1;
    if (!current_ || c.inTransaction()) {
        return;
    }
    const long long expected = withExpected ? countExpected(c, *current_) : counts_.expected;
    counts_ = countScans(c, *current_);
    counts_.expected = expected;
    countsLabel->setText(QStringLiteral("Found %1 of %2 expected").arg(counts_.found).arg(counts_.expected));
    othersLabel->setText(QStringLiteral("Also %1 recorded elsewhere, %2 written off, %3 not expected; %4 unknown; "
                                        "%5 scanned again")
                             .arg(counts_.elsewhere)
                             .arg(counts_.writtenOff)
                             .arg(counts_.notExpected)
                             .arg(counts_.unknown)
                             .arg(counts_.repeats));
    scansList->clear();
    QList<QTreeWidgetItem*> items;
    for (const ScanLine& line : latestScans(c, *current_, kScansShown)) {
        auto* item =
            new QTreeWidgetItem({localTime(line.at, false), line.assetId.isEmpty() ? line.scanned : line.assetId,
                                 outcomeWords(line.outcome), line.by});
        const OutcomeLook look = outcomeLook(line.outcome);
        item->setBackground(Outcome, look.background);
        item->setForeground(Outcome, look.text);
        items << item;
    }
    scansList->addTopLevelItems(items);
}

void StockTakeWindow::refreshTick() {
    Connection& c = data_.ADOConnection1;
    if (!current_ || !c.isOpen() || c.inTransaction()) {
        return;
    }
    // A failed look is not a failed command: the next tick looks again, and a scan that meets the same fault
    // says so.
    try {
        const Connection::NoWaiting quick(c);
        if (current_->isOpen()) {
            const std::optional<StockTake> now = findStockTake(c, current_->name);
            if (now && !now->isOpen()) {
                showScanning(*now); // closed by another program: no more scans
                return;
            }
        }
        refreshCounts(++ticks_ % kExpectedEveryTicks == 0);
    } catch (const VantrelError&) {
    }
}

void StockTakeWindow::showList(StockTakeList list) {
    if (!current_) {
        return;
    }
    const OnFailure refocus([this] { scanEdit->setFocus(); });
    Dataset& query = data_.Query2;
    query.close();
    query.clearSql();
    for (const QString& line : stockTakeListStatement(*current_, list)) {
        query.addSql(line);
    }
    query.open();
    writer_.ReportGridAsTable(stockTakeListTitle(*current_, list), Query2Grid_);
    scanEdit->setFocus();
}

void StockTakeWindow::missingButtonClick() {
    showList(StockTakeList::Missing);
}

void StockTakeWindow::elsewhereButtonClick() {
    showList(StockTakeList::Elsewhere);
}

void StockTakeWindow::writtenOffButtonClick() {
    showList(StockTakeList::WrittenOff);
}

void StockTakeWindow::unknownButtonClick() {
    showList(StockTakeList::Unknown);
}

void StockTakeWindow::foundButtonClick() {
    showList(StockTakeList::Found);
}

void StockTakeWindow::closeStockTakeButtonClick() {
    if (!current_ || !current_->isOpen()) {
        return;
    }
    Connection& c = data_.ADOConnection1;
    if (!mayChangeRegister(c)) {
        return;
    }
    const StockTake t = *current_;
    if (!Dialogs::confirm(QStringLiteral("Close the stock-take %1? Nothing more can be scanned into it; its lists can "
                                         "still be shown.")
                              .arg(t.name))) {
        scanEdit->setFocus();
        return;
    }
    bool move = false;
    const std::vector<Relocation> moves = assetsToMove(c, t);
    if (!moves.empty()) {
        QStringList named;
        for (size_t i = 0; i < moves.size() && i < 10; ++i) {
            named << moves[i].assetId;
        }
        if (moves.size() > 10) {
            named << QStringLiteral("...");
        }
        move = Dialogs::askYesNo(QStringLiteral("%1 asset%2 found here %3 recorded at another location (%4). Set "
                                                "their Location to '%5'? Nothing else about them changes.")
                                     .arg(moves.size())
                                     .arg(moves.size() == 1 ? "" : "s", moves.size() == 1 ? "is" : "are",
                                          named.join(QStringLiteral(", ")), t.location));
        if (move && !logon_.PasswordGiven()) {
            Dialogs::showMessage(QStringLiteral("You cannot move assets unless you enter the correct password. The "
                                                "stock-take is still open."));
            scanEdit->setFocus();
            return;
        }
    }
    const int moved = closeStockTake(c, t, move);
    // The list shows the locations just saved, and an asset window opened on one reads them.
    if (moved > 0 && data_.mainquery.active()) {
        data_.mainquery.refresh();
    }
    Dialogs::showMessage(moved > 0 ? QStringLiteral("The stock-take %1 is closed, and %2 asset%3 moved to '%4'.")
                                         .arg(t.name)
                                         .arg(moved)
                                         .arg(moved == 1 ? "" : "s", t.location)
                                   : QStringLiteral("The stock-take %1 is closed.").arg(t.name));
    showChoice();
}

void StockTakeWindow::doneButtonClick() {
    showChoice();
}
