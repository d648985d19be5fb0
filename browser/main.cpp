// The main window. Every change of the search text, the search field or the written-off option rebuilds
// the list's statement and reopens it at once; the toolbar opens the other windows, asking for the access
// password first before any change.
#include "browser/main.h"

#include "app/logon.h"
#include "app/writeaccess.h"
#include "config/cfg.h"
#include "data/errors.h"
#include "data/jetsql.h"
#include "labels/labelswindow.h"
#include "records/assdet.h"
#include "records/writeoff.h"
#include "reporting/assetreports.h"
#include "reporting/print.h"
#include "stocktake/stocktakewindow.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDialog>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>
#include <QTimer>
#include <QToolButton>

namespace {

constexpr int kPanelWidth = 745;
constexpr int kPanelHeight = 89;
constexpr int kButtonWidth = 123;
constexpr int kButtonHeight = 73;
constexpr int kToolBarButtons = 9; // the seven designed buttons, Labels and Stock-take
constexpr int kMargin = 8;
constexpr int kMinimumGridHeight = 80; // the titles and a few rows
constexpr int kWritableEveryTicks = 8; // how often the watch looks again at whether the register is writable

} // namespace

Tmainfrm::Tmainfrm() {
    setObjectName(QStringLiteral("mainfrm"));
    // The list shows a search's first rows at once; a long result's other rows are read while nobody types.
    data.mainquery.setReadRestBetweenEvents(true);
    setWindowTitle(QStringLiteral("Vantrel"));
    Look::apply(this);
    resize(1127, 508);

    Panel1 = new QFrame(this);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Panel1->setLineWidth(1);
    Look::makeMauve(Panel1);

    SearchLabel = new QLabel(QStringLiteral("Search &Text"), Panel1);
    SearchLabel->setObjectName(QStringLiteral("SearchLabel"));
    Look::makeBold(SearchLabel);
    SearchLabel->setGeometry(12, 8, 250, 20);
    details = new QLineEdit(Panel1);
    details->setObjectName(QStringLiteral("details"));
    details->setGeometry(12, 32, 250, 28);
    SearchLabel->setBuddy(details);

    auto radio = [this](const QString& name, const QString& caption, int x, int y) {
        auto* b = new QRadioButton(caption, Panel1);
        b->setObjectName(name);
        b->setGeometry(x, y, 180, 20);
        Look::makeBold(b);
        return b;
    };
    assetid = radio(QStringLiteral("assetid"), QStringLiteral("&Asset ID"), 290, 4);
    description = radio(QStringLiteral("description"), QStringLiteral("&Description"), 290, 24);
    serialnumber = radio(QStringLiteral("serialnumber"), QStringLiteral("Serial &Number"), 290, 44);
    ordernumber = radio(QStringLiteral("ordernumber"), QStringLiteral("&Order Number"), 290, 64);
    purchasedby = radio(QStringLiteral("purchasedby"), QStringLiteral("&Purchased By"), 480, 4);
    borrowedby = radio(QStringLiteral("borrowedby"), QStringLiteral("&Borrowed By"), 480, 24);
    supplier = radio(QStringLiteral("supplier"), QStringLiteral("&Supplier"), 480, 44);
    assetid->setChecked(true);

    incWriteOff = new QCheckBox(QStringLiteral("Include &Written off Items"), Panel1);
    incWriteOff->setObjectName(QStringLiteral("incWriteOff"));
    incWriteOff->setGeometry(480, 64, 255, 20);
    Look::makeBold(incWriteOff);

    // The reports' result grid: never shown, it gives the report writer Query2's columns.
    Query2Grid = new TDBGrid(QStringLiteral("Query2Grid"), &data.Query2DataSource, Panel1);
    Query2Grid->setVisible(false);

    DBGrid1 = new TDBGrid(QStringLiteral("DBGrid1"), &data.mainsource, this);
    DBGrid1->setColumns({{QStringLiteral("ASSETID"), QStringLiteral("Asset ID"), 80},
                         {QStringLiteral("Make"), QString(), 140},
                         {QStringLiteral("Model"), QString(), 140},
                         {QStringLiteral("SerialNumber"), QStringLiteral("Serial"), 100},
                         {QStringLiteral("Description"), QString(), 258},
                         {QStringLiteral("Supplier"), QString(), 120},
                         {QStringLiteral("OrderNumber"), QStringLiteral("Order"), 80}});

    ToolBar1 = new QFrame(this);
    ToolBar1->setObjectName(QStringLiteral("ToolBar1"));
    ToolBar1->setFrameStyle(QFrame::Box | QFrame::Plain);
    Look::makeMauve(ToolBar1);
    ToolButton1 =
        addToolButton(QStringLiteral("ToolButton1"), QStringLiteral("Add New Asset(s)"), QStringLiteral("add.svg"));
    ToolButton2 =
        addToolButton(QStringLiteral("ToolButton2"), QStringLiteral("Edit Asset"), QStringLiteral("edit.svg"));
    ToolButton3 =
        addToolButton(QStringLiteral("ToolButton3"), QStringLiteral("Write Off"), QStringLiteral("writeoff.svg"));
    ToolButton4 = addToolButton(QStringLiteral("ToolButton4"), QStringLiteral("Print"), QStringLiteral("print.svg"));
    ToolButton7 =
        addToolButton(QStringLiteral("ToolButton7"), QStringLiteral("Reports"), QStringLiteral("reports.svg"));
    labelsButton =
        addToolButton(QStringLiteral("labelsButton"), QStringLiteral("Labels"), QStringLiteral("labels.svg"));
    stockTakeButton =
        addToolButton(QStringLiteral("stockTakeButton"), QStringLiteral("Stock-take"), QStringLiteral("stocktake.svg"));
    ToolButton5 =
        addToolButton(QStringLiteral("ToolButton5"), QStringLiteral("Configuration"), QStringLiteral("config.svg"));
    ToolButton6 =
        addToolButton(QStringLiteral("ToolButton6"), QStringLiteral("Exit Database"), QStringLiteral("exit.svg"));

    Label1 = new QLabel(QStringLiteral("Version " VANTREL_VERSION), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setFont(Look::font(11));
    Label1->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    QPalette blue = Label1->palette();
    blue.setColor(QPalette::WindowText, Qt::blue);
    Label1->setPalette(blue);

    // The search panel's controls, the list, then the toolbar left to right. The list takes Tab as a way
    // out, not as a move between its cells (TDBGrid).
    const QList<QWidget*> tabOrder{details,      assetid,         description, serialnumber, ordernumber,
                                   purchasedby,  borrowedby,      supplier,    incWriteOff,  DBGrid1,
                                   ToolButton1,  ToolButton2,     ToolButton3, ToolButton4,  ToolButton7,
                                   labelsButton, stockTakeButton, ToolButton5, ToolButton6};
    for (qsizetype i = 1; i < tabOrder.size(); ++i) {
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }
    // Never so small that the toolbar or the search panel is cut off.
    setMinimumSize(std::max(kPanelWidth, kToolBarButtons * kButtonWidth + 4) + 2 * kMargin,
                   kMargin + kPanelHeight + kMargin + kMinimumGridHeight + kMargin + kButtonHeight + 4 + 18);

    connectGuarded(details, &QLineEdit::textChanged, this, &Tmainfrm::detailsChange);
    // Only the button that becomes chosen rebuilds; the one losing the choice does not.
    const std::pair<QRadioButton*, void (Tmainfrm::*)()> searchFields[] = {
        {assetid, &Tmainfrm::assetidClick},           {description, &Tmainfrm::descriptionClick},
        {serialnumber, &Tmainfrm::serialnumberClick}, {ordernumber, &Tmainfrm::ordernumberClick},
        {purchasedby, &Tmainfrm::purchasedbyClick},   {borrowedby, &Tmainfrm::borrowedbyClick},
        {supplier, &Tmainfrm::supplierClick}};
    for (const auto& [button, handler] : searchFields) {
        connect(button, &QRadioButton::toggled, this, [this, handler = handler](bool on) {
            if (on) {
                runGuarded([this, handler] { (this->*handler)(); });
            }
        });
    }
    connectGuarded(incWriteOff, &QCheckBox::clicked, this, &Tmainfrm::incWriteOffClick);
    connectGuarded(ToolButton1, &QToolButton::clicked, this, &Tmainfrm::ToolButton1Click);
    connectGuarded(ToolButton2, &QToolButton::clicked, this, &Tmainfrm::ToolButton2Click);
    connectGuarded(ToolButton3, &QToolButton::clicked, this, &Tmainfrm::ToolButton3Click);
    connectGuarded(ToolButton4, &QToolButton::clicked, this, &Tmainfrm::ToolButton4Click);
    connectGuarded(ToolButton7, &QToolButton::clicked, this, &Tmainfrm::ToolButton7Click);
    connectGuarded(labelsButton, &QToolButton::clicked, this, &Tmainfrm::labelsButtonClick);
    connectGuarded(stockTakeButton, &QToolButton::clicked, this, &Tmainfrm::stockTakeButtonClick);
    connectGuarded(ToolButton5, &QToolButton::clicked, this, &Tmainfrm::ToolButton5Click);
    connectGuarded(ToolButton6, &QToolButton::clicked, this, &Tmainfrm::ToolButton6Click);
    connectGuarded(DBGrid1, &TDBGrid::doubleClicked, this, &Tmainfrm::DBGrid1DblClick);
    connectGuarded(DBGrid1, &TDBGrid::ctrlDeletePressed, this, &Tmainfrm::DBGrid1CtrlDelete);
}

Tmainfrm::~Tmainfrm() {
    // The windows opened over this one work on its data module, which goes before the Qt parent deletes its
    // children: they are deleted first.
    qDeleteAll(findChildren<QDialog*>(QString(), Qt::FindDirectChildrenOnly));
}

void Tmainfrm::setCommands(const Commands& commands) {
    commands_.emplace(commands);
}

// The next button of the toolbar, placed right of the ones before it.
QToolButton* Tmainfrm::addToolButton(const QString& name, const QString& caption, const QString& picture) {
    QToolButton* b = Look::makeToolButton(ToolBar1, name, caption, picture, 48);
    b->setGeometry(2 + toolButtons_ * kButtonWidth, 2, kButtonWidth, kButtonHeight);
    ++toolButtons_;
    return b;
}

void Tmainfrm::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    const int w = width();
    const int h = height();
    Panel1->setGeometry(std::max(0, (w - kPanelWidth) / 2), kMargin, kPanelWidth, kPanelHeight);
    const int barWidth = kToolBarButtons * kButtonWidth + 4;
    const int barHeight = kButtonHeight + 4;
    const int barTop = h - barHeight - 18;
    ToolBar1->setGeometry(std::max(0, (w - barWidth) / 2), barTop, barWidth, barHeight);
    Label1->setGeometry(w - 120, h - 17, 112, 15);
    const int gridTop = kMargin + kPanelHeight + kMargin;
    DBGrid1->setGeometry(kMargin, gridTop, w - 2 * kMargin, std::max(0, barTop - kMargin - gridTop));
}

void Tmainfrm::paintEvent(QPaintEvent* event) {
    QPainter p(this);
    p.fillRect(rect(), Qt::white);
    p.drawPixmap(0, 0, Look::background());
    QWidget::paintEvent(event);
}

void Tmainfrm::closeEvent(QCloseEvent* event) {
    event->accept();
    emit closed();
}

void Tmainfrm::setCaption(const QString& base) {
    caption_ = base;
    const QString note = damaged_    ? QStringLiteral("- the register is damaged")
                         : writable_ ? QString()
                                     : QStringLiteral("- the register is read-only for you");
    setWindowTitle(note.isEmpty() ? base
                                  : base + (base.endsWith(QLatin1Char(' ')) ? QString() : QStringLiteral(" ")) + note);
}

void Tmainfrm::showWritable(bool writable) {
    if (writable != writable_) {
        writable_ = writable;
        setCaption(caption_);
    }
}

void Tmainfrm::startWatching(int intervalMilliseconds) {
    if (!watch_) {
        watch_ = new QTimer(this);
        connect(watch_, &QTimer::timeout, this, &Tmainfrm::watchTick);
    }
    data.ADOConnection1.changedByOthers();
    showWritable(data.ADOConnection1.writeRefusal().isEmpty());
    watch_->start(intervalMilliseconds);
}

void Tmainfrm::stopWatching() {
    if (watch_) {
        watch_->stop();
    }
}

void Tmainfrm::watchTick() {
    Connection& c = data.ADOConnection1;
    if (!c.isOpen() || c.inTransaction()) {
        return;
    }
    // The background check's finding is said once, as it arrives, and again by every change refused for it.
    if (!damaged_) {
        if (const QString damage = c.damageFound(); !damage.isEmpty()) {
            damaged_ = true;
            setCaption(caption_);
            Dialogs::showMessage(damage);
            return;
        }
    }
    // A failed look is not a failed command: the register is looked at again at the next tick, and a
    // command or search that meets the same fault says so.
    try {
        const Connection::NoWaiting quick(c);
        refreshDue_ = c.changedByOthers() || refreshDue_;
        if (refreshDue_ && data.mainquery.active()) {
            refreshDue_ = !data.mainquery.refresh();
        }
        if (++ticks_ % kWritableEveryTicks == 0) {
            showWritable(c.writeRefusal().isEmpty());
        }
    } catch (const VantrelError&) {
    }
}

bool Tmainfrm::mayChange(const QString& refusalWithoutPassword) {
    const bool writable = mayChangeRegister(data.ADOConnection1);
    showWritable(writable);
    if (!writable) {
        return false;
    }
    if (commands_->logonfrm.PasswordGiven()) {
        return true;
    }
    Dialogs::showMessage(refusalWithoutPassword);
    return false;
}

void Tmainfrm::RebuildMainQuery() {
    struct SearchField {
        QRadioButton* button;
        const char* condition;
        const char* order;
    };
    const SearchField fields[] = {
        {assetid, "WHERE assetid LIKE", "ORDER BY assetid;"},
        {description, "WHERE description LIKE", "ORDER BY description;"},
        {serialnumber, "WHERE serialnumber LIKE", "ORDER BY serialnumber;"},
        {ordernumber, "WHERE ordernumber LIKE", "ORDER BY ordernumber;"},
        {purchasedby, "WHERE purchasedby LIKE", "ORDER BY purchasedby;"},
        {borrowedby, "WHERE borrower LIKE", "ORDER BY borrower;"},
        {supplier, "WHERE supplier LIKE", "ORDER BY supplier;"},
    };
    const SearchField* chosen = &fields[0];
    for (const SearchField& f : fields) {
        if (f.button->isChecked()) {
            chosen = &f;
        }
    }
    Dataset& q = data.mainquery;
    q.close();
    q.clearSql();
    q.addSql(QStringLiteral("SELECT *"));
    q.addSql(QStringLiteral("FROM Assets"));
    const QString text = details->text();
    if (!text.isEmpty()) {
        // The text is quoted as a literal, so a typed double quote is searched for rather than ending the
        // literal; a typed % stays a wildcard.
        q.addSql(QString::fromLatin1(chosen->condition) + QLatin1Char(' ') +
                 jetQuote(QLatin1Char('%') + text + QLatin1Char('%')) + QLatin1Char(' '));
        if (!incWriteOff->isChecked()) {
            q.addSql(QStringLiteral("AND Writtenoff <> TRUE"));
        }
    } else if (!incWriteOff->isChecked()) {
        q.addSql(QStringLiteral("WHERE Writtenoff <> TRUE"));
    }
    q.addSql(QString::fromLatin1(chosen->order));
    q.open();
}

void Tmainfrm::detailsChange() {
    RebuildMainQuery();
}

void Tmainfrm::assetidClick() {
    RebuildMainQuery();
}

void Tmainfrm::descriptionClick() {
    RebuildMainQuery();
}

void Tmainfrm::serialnumberClick() {
    RebuildMainQuery();
}

void Tmainfrm::ordernumberClick() {
    RebuildMainQuery();
}

void Tmainfrm::purchasedbyClick() {
    RebuildMainQuery();
}

void Tmainfrm::borrowedbyClick() {
    RebuildMainQuery();
}

void Tmainfrm::supplierClick() {
    RebuildMainQuery();
}

void Tmainfrm::incWriteOffClick() {
    RebuildMainQuery();
}

void Tmainfrm::ToolButton1Click() {
    if (mayChange(QStringLiteral("You cannot add an item unless you enter the correct password"))) {
        commands_->assdetfrm.AddAsset();
    }
}

void Tmainfrm::ToolButton2Click() {
    commands_->assdetfrm.EditAsset();
}

void Tmainfrm::DBGrid1DblClick() {
    commands_->assdetfrm.EditAsset();
}

void Tmainfrm::ToolButton3Click() {
    // Writing off needs an asset; with an empty list there is nothing to ask the password for.
    if (data.mainquery.isEmpty()) {
        Dialogs::showMessage(QStringLiteral("There is no asset selected"));
        return;
    }
    if (commands_->assdetfrm.refuseGoneAsset()) {
        return;
    }
    if (mayChange(QStringLiteral("You cannot write off this item unless you enter the correct password"))) {
        Dialogs::showModal(commands_->writeofffrm);
    }
}

void Tmainfrm::ToolButton4Click() {
    Dialogs::showModal(commands_->printfrm);
}

void Tmainfrm::ToolButton7Click() {
    Dialogs::showModal(commands_->assetreportsfrm);
}

void Tmainfrm::labelsButtonClick() {
    Dialogs::showModal(commands_->labelsWindow);
}

void Tmainfrm::stockTakeButtonClick() {
    Dialogs::showModal(commands_->stockTakeWindow);
}

void Tmainfrm::ToolButton5Click() {
    if (mayChange(QStringLiteral("You cannot enter configuration unless you enter the correct password"))) {
        Dialogs::showModal(commands_->cfgFrm);
    }
}

void Tmainfrm::ToolButton6Click() {
    close();
}

void Tmainfrm::DBGrid1CtrlDelete() {
    Dataset& q = data.mainquery;
    if (!q.active() || q.isEmpty()) {
        return;
    }
    // Removing an asset is a change like any other: it needs the access password.
    if (commands_->assdetfrm.refuseGoneAsset() ||
        !mayChange(QStringLiteral("You cannot delete an item unless you enter the correct password"))) {
        return;
    }
    if (Dialogs::confirm(QStringLiteral("Delete record?"))) {
        q.deleteRecord();
    }
}
