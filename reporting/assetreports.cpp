// The report catalogue. Each GO button works out its date, if any, before touching Query2, so a typed
// number that does not convert leaves Query2 exactly as it was; the statements are written in the Jet
// dialect with date literals between '#' signs, whatever the locale's date format.
#include "reporting/assetreports.h"

#include "data/datamodule.h"
#include "data/errors.h"
#include "data/textvalues.h"
#include "reporting/reportwriter.h"
#include "widgets/dbgrid.h"
#include "widgets/guard.h"
#include "widgets/look.h"

#include <QDateEdit>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace {

constexpr int kBoxLeft = 8;
constexpr int kBoxWidth = 401;
constexpr int kFirstLine = 24;
constexpr int kLineStep = 32;
constexpr int kLineHeight = 26;
constexpr int kGoWidth = 44;

QGroupBox* makeBox(QWidget* parent, const QString& name, const QString& caption, int top, int lines) {
    auto* box = new QGroupBox(caption, parent);
    box->setObjectName(name);
    Look::makeMauve(box);
    Look::makeBold(box);
    box->setGeometry(kBoxLeft, top, kBoxWidth, kFirstLine + lines * kLineStep - 2);
    return box;
}

QLabel* makeLine(QGroupBox* box, const QString& name, const QString& caption, int line) {
    auto* label = new QLabel(caption, box);
    label->setObjectName(name);
    Look::makeBold(label);
    label->setGeometry(8, kFirstLine + line * kLineStep, kBoxWidth - kGoWidth - 20, kLineHeight);
    return label;
}

QPushButton* makeGo(QGroupBox* box, const QString& name, int line) {
    auto* button = new QPushButton(QStringLiteral("GO"), box);
    button->setObjectName(name);
    button->setGeometry(kBoxWidth - kGoWidth - 8, kFirstLine + line * kLineStep, kGoWidth, kLineHeight);
    return button;
}

// Places an input over the longest run of blanks in the label's caption, where the caption leaves room
// for it.
void placeOverBlanks(QWidget* input, QLabel* label) {
    const QString caption = label->text();
    qsizetype bestStart = 0;
    qsizetype bestLength = 0;
    for (qsizetype i = 0; i < caption.size();) {
        if (caption.at(i) != QLatin1Char(' ')) {
            ++i;
            continue;
        }
        qsizetype j = i;
        while (j < caption.size() && caption.at(j) == QLatin1Char(' ')) {
            ++j;
        }
        if (j - i > bestLength) {
            bestStart = i;
            bestLength = j - i;
        }
        i = j;
    }
    const QFontMetrics metrics(label->font());
    const int left = metrics.horizontalAdvance(caption.left(bestStart)) + 4;
    const int width = metrics.horizontalAdvance(caption.mid(bestStart, bestLength)) - 8;
    input->setGeometry(label->x() + left, label->y(), qMax(width, 40), kLineHeight);
}

QDateEdit* makeDatePicker(QGroupBox* box, const QString& name, QLabel* label) {
    auto* picker = new QDateEdit(box);
    picker->setObjectName(name);
    picker->setCalendarPopup(true);
    picker->setDisplayFormat(shortDateFormat());
    placeOverBlanks(picker, label);
    return picker;
}

QString dateLiteral(const QDate& date) {
    return QStringLiteral("#") + reportDateText(date) + QStringLiteral("#");
}

} // namespace

QString reportDateText(const QDate& date) {
    return QStringLiteral("%1/%2/%3").arg(date.month()).arg(date.day()).arg(date.year(), 4, 10, QLatin1Char('0'));
}

Tassetreportsfrm::Tassetreportsfrm(QWidget* parent, DataModule& data, TDBGrid& Query2Grid, ReportWriter& writer)
    : Form(parent, QStringLiteral("assetreportsfrm"), QStringLiteral("Asset Reports"), QSize(417, 529)), data_(data),
      Query2Grid_(Query2Grid), writer_(writer) {

    GroupBox1 = makeBox(this, QStringLiteral("GroupBox1"), QStringLiteral("Age/Replacement"), 8, 2);
    Label1 = makeLine(GroupBox1, QStringLiteral("Label1"),
                      QStringLiteral("Report on Items older than:              years --->"), 0);
    years = new QLineEdit(QStringLiteral("5"), GroupBox1);
    years->setObjectName(QStringLiteral("years"));
    placeOverBlanks(years, Label1);
    Button1 = makeGo(GroupBox1, QStringLiteral("Button1"), 0);
    Label2 = makeLine(GroupBox1, QStringLiteral("Label2"),
                      QStringLiteral("Report on items acquired since                                -->"), 1);
    itemssince = makeDatePicker(GroupBox1, QStringLiteral("itemssince"), Label2);
    Button2 = makeGo(GroupBox1, QStringLiteral("Button2"), 1);

    GroupBox2 = makeBox(this, QStringLiteral("GroupBox2"), QStringLiteral("Electrical Safety"), 106, 1);
    Label3 = makeLine(GroupBox2, QStringLiteral("Label3"),
                      QStringLiteral("Report on items due for an electrical check --->"), 0);
    Button3 = makeGo(GroupBox2, QStringLiteral("Button3"), 0);

    GroupBox3 = makeBox(this, QStringLiteral("GroupBox3"), QStringLiteral("Items on Loan"), 172, 2);
    Label4 = makeLine(GroupBox3, QStringLiteral("Label4"), QStringLiteral("Report on items on loan --->"), 0);
    Button4 = makeGo(GroupBox3, QStringLiteral("Button4"), 0);
    Label5 =
        makeLine(GroupBox3, QStringLiteral("Label5"), QStringLiteral("Reports on items overdue for return --->"), 1);
    Button5 = makeGo(GroupBox3, QStringLiteral("Button5"), 1);

    GroupBox4 = makeBox(this, QStringLiteral("GroupBox4"), QStringLiteral("Disposal"), 270, 2);
    Label6 = makeLine(GroupBox4, QStringLiteral("Label6"),
                      QStringLiteral("Items Disposed Since                                 --->"), 0);
    disposedsince = makeDatePicker(GroupBox4, QStringLiteral("disposedsince"), Label6);
    Button6 = makeGo(GroupBox4, QStringLiteral("Button6"), 0);
    Label7 = makeLine(GroupBox4, QStringLiteral("Label7"),
                      QStringLiteral("Totals of Items Disposed per Asset Group --->"), 1);
    Button7 = makeGo(GroupBox4, QStringLiteral("Button7"), 1);

    GroupBox5 = makeBox(this, QStringLiteral("GroupBox5"), QStringLiteral("Valuation"), 368, 2);
    Label9 = makeLine(GroupBox5, QStringLiteral("Label9"),
                      QStringLiteral("of assets purchased since                                --->"), 0);
    purchasedsince = makeDatePicker(GroupBox5, QStringLiteral("purchasedsince"), Label9);
    Button8 = makeGo(GroupBox5, QStringLiteral("Button8"), 0);
    Label8 = makeLine(GroupBox5, QStringLiteral("Label8"), QStringLiteral("Total Value of all active assets --->"), 1);
    Button9 = makeGo(GroupBox5, QStringLiteral("Button9"), 1);

    BitBtn1 = new QPushButton(QStringLiteral("Close"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry((417 - 100) / 2, 480, 100, 32);

    const QList<QWidget*> order = {years,   Button1, Button2,       itemssince, Button3, Button4,        Button5,
                                   Button6, Button7, disposedsince, Button8,    Button9, purchasedsince, BitBtn1};
    for (qsizetype i = 1; i < order.size(); ++i) {
        setTabOrder(order[i - 1], order[i]);
    }

    connectGuarded(Button1, &QPushButton::clicked, this, &Tassetreportsfrm::Button1Click);
    connectGuarded(Button2, &QPushButton::clicked, this, &Tassetreportsfrm::Button2Click);
    connectGuarded(Button3, &QPushButton::clicked, this, &Tassetreportsfrm::Button3Click);
    connectGuarded(Button4, &QPushButton::clicked, this, &Tassetreportsfrm::Button4Click);
    connectGuarded(Button5, &QPushButton::clicked, this, &Tassetreportsfrm::Button5Click);
    connectGuarded(Button6, &QPushButton::clicked, this, &Tassetreportsfrm::Button6Click);
    connectGuarded(Button7, &QPushButton::clicked, this, &Tassetreportsfrm::Button7Click);
    connectGuarded(Button8, &QPushButton::clicked, this, &Tassetreportsfrm::Button8Click);
    connectGuarded(Button9, &QPushButton::clicked, this, &Tassetreportsfrm::Button9Click);
    connectGuarded(BitBtn1, &QPushButton::clicked, this, &Tassetreportsfrm::BitBtn1Click);
}

void Tassetreportsfrm::presetDates(const QDate& today) {
    const QDate yearAgo = today.addDays(-365);
    itemssince->setDate(yearAgo);
    purchasedsince->setDate(yearAgo);
    disposedsince->setDate(yearAgo);
}

void Tassetreportsfrm::reject() {
    BitBtn1Click();
}

void Tassetreportsfrm::runReport(const QStringList& statement, const QString& title) {
    Dataset& query = data_.Query2;
    query.close();
    query.clearSql();
    for (const QString& line : statement) {
        query.addSql(line);
    }
    query.open();
    writer_.ReportGridAsTable(title, Query2Grid_);
}

void Tassetreportsfrm::Button1Click() {
    // The conversion comes first: a text that is not a whole number must leave Query2 untouched.
    const qint64 count = parseInteger(years->text());
    if (count < 0) {
        throw ConversionError(
            QStringLiteral("'%1' is not a valid number of years: it cannot be negative.").arg(years->text()));
    }
    const QDate d = QDate::currentDate().addDays(-365 * count);
    if (!d.isValid() || d.year() < 1) {
        throw ConversionError(QStringLiteral("'%1' years reaches back before the year 1, the earliest date a "
                                             "register holds.")
                                  .arg(years->text()));
    }
    runReport({QStringLiteral("Select AssetID, Make, Model, SerialNumber, DatePurchased"),
               QStringLiteral("FROM Assets"),
               QStringLiteral("WHERE DatePurchased <= ") + dateLiteral(d) + QStringLiteral(" and WrittenOff = FALSE"),
               QStringLiteral("Order by DatePurchased")},
              QStringLiteral("Items older than ") + years->text() + QStringLiteral(" years"));
}

void Tassetreportsfrm::Button2Click() {
    const QDate d = itemssince->date();
    runReport({QStringLiteral("Select AssetID, Make, Model, SerialNumber, DatePurchased"),
               QStringLiteral("FROM Assets"),
               QStringLiteral("WHERE DatePurchased >= ") + dateLiteral(d) + QStringLiteral(" and WrittenOff = FALSE"),
               QStringLiteral("Order by DatePurchased")},
              QStringLiteral("Items Acquired Since ") + dateToText(d));
}

void Tassetreportsfrm::Button3Click() {
    // An electrical item never checked at all is the most overdue, so an empty LastTestTag counts as due.
    const QDate d = QDate::currentDate().addDays(-365);
    runReport({QStringLiteral("Select AssetID, Make, Model, SerialNumber, LastTestTag"), QStringLiteral("FROM Assets"),
               QStringLiteral("WHERE (LastTestTag <= ") + dateLiteral(d) +
                   QStringLiteral(" or LastTestTag is null) and WrittenOff = FALSE and isElectrical = TRUE"),
               QStringLiteral("Order by LastTestTag")},
              QStringLiteral("Items Due for an Electrical Check "));
}

void Tassetreportsfrm::Button4Click() {
    runReport({QStringLiteral("Select AssetID, Make, Model, SerialNumber, Borrower, Borrowedon, ExpectedReturn"),
               QStringLiteral("FROM Assets"), QStringLiteral("WHERE itemBorrowed = TRUE and WrittenOFf = False"),
               QStringLiteral("Order by BorrowedOn")},
              QStringLiteral("Items Currently on Loan"));
}

void Tassetreportsfrm::Button5Click() {
    // Only items still out on loan can be overdue; a returned item keeps its old expected return date.
    const QDate d = QDate::currentDate();
    runReport({QStringLiteral("Select AssetID, Make, Model, SerialNumber, Borrower, Borrowedon, ExpectedReturn"),
               QStringLiteral("FROM Assets"),
               QStringLiteral("WHERE ExpectedReturn <= ") + dateLiteral(d) +
                   QStringLiteral(" and WrittenOff = FALSE and itemBorrowed = TRUE"),
               QStringLiteral("Order by ExpectedReturn")},
              QStringLiteral("Items Overdue to be Returned"));
}

void Tassetreportsfrm::Button6Click() {
    const QDate d = disposedsince->date();
    runReport({QStringLiteral("Select AssetID, Make, Model, SerialNumber, WrittenOffDate, WrittenOffReason"),
               QStringLiteral("FROM Assets"),
               QStringLiteral("WHERE WrittenOffDate >= ") + dateLiteral(d) + QStringLiteral(" and WrittenOff = TRUE"),
               QStringLiteral("Order by DatePurchased")},
              QStringLiteral("Items Written Off Since ") + dateToText(d));
}

void Tassetreportsfrm::Button7Click() {
    runReport({QStringLiteral("SELECT Groups.Description, Count(*) AS Total"),
               QStringLiteral("FROM assets INNER JOIN Groups ON assets.ItemGroup = Groups.GroupNumber"),
               QStringLiteral("GROUP BY Groups.Description, assets.WrittenOff"),
               QStringLiteral("HAVING assets.WrittenOff=TRUE")},
              QStringLiteral("Total Items Disposed of per Asset Group"));
}

void Tassetreportsfrm::Button8Click() {
    const QDate d = purchasedsince->date();
    runReport({QStringLiteral("SELECT Groups.Description, Sum(Assets.TotalCost) AS TotalValue"),
               QStringLiteral("FROM assets INNER JOIN Groups ON assets.ItemGroup = Groups.GroupNumber"),
               QStringLiteral("WHERE DatePurchased >= ") + dateLiteral(d),
               QStringLiteral("GROUP BY Groups.Description, assets.WrittenOff"),
               QStringLiteral("HAVING assets.WrittenOff=FALSE")},
              QStringLiteral("Value of Assets Acquired Since ") + dateToText(d));
}

void Tassetreportsfrm::Button9Click() {
    runReport({QStringLiteral("SELECT Groups.Description, Sum(Assets.TotalCost) AS TotalValue"),
               QStringLiteral("FROM assets INNER JOIN Groups ON assets.ItemGroup = Groups.GroupNumber"),
               QStringLiteral("GROUP BY Groups.Description, assets.WrittenOff"),
               QStringLiteral("HAVING assets.WrittenOff=FALSE")},
              QStringLiteral("Total Value of all Assets"));
}

void Tassetreportsfrm::BitBtn1Click() {
    setModalResult(mrCancel);
}
