// Generates demo assets: groups of office equipment, furniture and electrical items, purchase dates over
// ten years, some written off, some on loan, electrical ones with safety checks.
#include "registertool/demodata.h"

#include "data/assetids.h"
#include "data/connection.h"
#include "data/engine.h"
#include "data/schema.h"
#include "data/textvalues.h"

#include <QDate>
#include <QRandomGenerator>
#include <QStringList>
#include <array>

namespace {

struct Group {
    const char* number;
    const char* name;
    bool electrical;
    std::array<const char*, 6> items;
    std::array<const char*, 4> makes;
};

const std::array<Group, 6> kGroups{{
    {"1",
     "Computers",
     true,
     {"Laptop", "Desktop computer", "Monitor 24\"", "Docking station", "Tablet", "Laptop 14\" ultrabook"},
     {"Lenovo", "Dell", "HP", "Apple"}},
    {"2",
     "Office Furniture",
     false,
     {"Office chair", "Standing desk", "Filing cabinet", "Bookcase", "Meeting table", "Visitor chair"},
     {"Steelcase", "Herman Miller", "Ikea", "Haworth"}},
    {"3",
     "Kitchen Appliances",
     true,
     {"Refrigerator", "Microwave oven", "Kettle", "Coffee machine", "Dishwasher", "Toaster"},
     {"Bosch", "Miele", "Smeg", "Breville"}},
    {"4",
     "Audio Visual",
     true,
     {"Projector", "Conference speakerphone", "Television 55\"", "Document camera", "Wireless presenter", "Sound bar"},
     {"Epson", "Sony", "Samsung", "Logitech"}},
    {"5",
     "Tools",
     false,
     {"Ladder", "Tool chest", "Trolley", "Pressure washer", "Workbench", "Hand truck"},
     {"Stanley", "Makita", "Bahco", "Kärcher"}},
    {"6",
     "Vehicles",
     false,
     {"Delivery van", "Electric bicycle", "Utility trailer", "Pool car", "Cargo bike", "Forklift"},
     {"Ford", "Toyota", "Riese & Müller", "Linde"}},
}};

const QStringList kPeople{QStringLiteral("Ana Ruiz"),      QStringLiteral("Ben Okafor"), QStringLiteral("Chloé Martin"),
                          QStringLiteral("Dev Patel"),     QStringLiteral("Erin Walsh"), QStringLiteral("Farid Haddad"),
                          QStringLiteral("Grace O'Neill"), QStringLiteral("Hiro Tanaka")};
const QStringList kSuppliers{QStringLiteral("Officeworks"), QStringLiteral("CityTech Supplies"),
                             QStringLiteral("Harbour Furniture"), QStringLiteral("Northside Electrical"),
                             QStringLiteral("Tradepoint")};
const QStringList kLocations{QStringLiteral("Head office, level 2"), QStringLiteral("Head office, level 3"),
                             QStringLiteral("Warehouse"), QStringLiteral("Branch office"),
                             QStringLiteral("Store room")};
const QStringList kReasons{QStringLiteral("Uneconomical to repair"), QStringLiteral("Obsolete"),
                           QStringLiteral("Stolen"), QStringLiteral("No longer needed"),
                           QStringLiteral("Sold in auction/public tender")};

} // namespace

void fillDemoRegister(const QString& path, const DemoOptions& options) {
    Connection c;
    c.openFile(path, QString::fromLatin1(kDefaultFilePassword));
    QRandomGenerator rng(options.seed);
    const QDate today = QDate::currentDate();
    Connection::Transaction t(c);
    {
        Statement s(c, "UPDATE System SET CompanyName = ?, CompanyAbbr = ?, DataBasePassword = ?, "
                       "PromptPasswordToStart = ?");
        s.bindText(1, options.companyName);
        s.bindText(2, options.companyAbbr);
        s.bindText(3, options.accessPassword);
        s.bindInt64(4, options.promptPassword ? 1 : 0);
        s.step();
    }
    {
        Statement s(c, "INSERT INTO Groups (GroupNumber, Description) VALUES (?, ?)");
        for (const Group& g : kGroups) {
            s.bindText(1, QString::fromLatin1(g.number));
            s.bindText(2, QString::fromUtf8(g.name));
            s.step();
            s.reset();
        }
    }
    Statement ins(c, "INSERT INTO assets (ASSETID, ItemGroup, OrderNumber, Make, Model, DatePurchased, SerialNumber, "
                     "Description, Supplier, PurchasedBy, Location, TotalCost, WarrantyPeriod, isElectrical, "
                     "LastTestTag, itemBorrowed, Borrower, BorrowedOn, ExpectedReturn, WrittenOff, WrittenOffDate, "
                     "WrittenOffBy, WrittenOffReason, WrittenDownValue) VALUES "
                     "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    std::array<int, kGroups.size()> counts{};
    for (int i = 0; i < options.assets; ++i) {
        const size_t gi = rng.bounded(static_cast<quint32>(kGroups.size()));
        const Group& g = kGroups[gi];
        const int number = ++counts[gi];
        const QString item = QString::fromUtf8(g.items[rng.bounded(static_cast<quint32>(g.items.size()))]);
        const QString make = QString::fromUtf8(g.makes[rng.bounded(static_cast<quint32>(g.makes.size()))]);
        const QDate bought = today.addDays(-static_cast<qint64>(rng.bounded(3650)));
        const double cost = 20 + rng.bounded(400000) / 100.0;
        const bool electrical = g.electrical && rng.bounded(10) < 9;
        const bool writtenOff = bought.daysTo(today) > 1200 && rng.bounded(10) < 2;
        const bool onLoan = !writtenOff && rng.bounded(12) == 0;
        const QVariant none;

        int n = 1;
        // Numbered in order of adding, as the asset editor numbers a group that has no gaps.
        ins.bindText(n++, assetIdFor(options.companyAbbr + QString::fromLatin1(g.number), number));
        ins.bindText(n++, QString::fromLatin1(g.number));
        ins.bindText(n++, QStringLiteral("PO-%1").arg(10000 + rng.bounded(90000)));
        ins.bindText(n++, make);
        ins.bindText(n++, QStringLiteral("%1-%2").arg(make.left(2).toUpper()).arg(100 + rng.bounded(900)));
        ins.bindText(n++, dateToStored(bought));
        ins.bindText(n++, QStringLiteral("SN%1").arg(rng.generate() % 100000000u, 8, 10, QLatin1Char('0')));
        ins.bindText(n++, item);
        ins.bindText(n++, kSuppliers[rng.bounded(static_cast<int>(kSuppliers.size()))]);
        ins.bindText(n++, kPeople[rng.bounded(static_cast<int>(kPeople.size()))]);
        ins.bindText(n++, kLocations[rng.bounded(static_cast<int>(kLocations.size()))]);
        ins.bind(n++, cost);
        ins.bindText(n++, QStringLiteral("%1 years").arg(1 + rng.bounded(5)));
        ins.bind(n++, electrical ? 1 : 0);
        ins.bind(n++,
                 electrical ? QVariant(dateToStored(today.addDays(-static_cast<qint64>(rng.bounded(500))))) : none);
        ins.bind(n++, onLoan ? 1 : 0);
        const QDate lent = today.addDays(-static_cast<qint64>(rng.bounded(60)));
        ins.bind(n++, onLoan ? QVariant(kPeople[rng.bounded(static_cast<int>(kPeople.size()))]) : none);
        ins.bind(n++, onLoan ? QVariant(dateToStored(lent)) : none);
        ins.bind(n++, onLoan ? QVariant(dateToStored(lent.addDays(30))) : none);
        ins.bind(n++, writtenOff ? 1 : 0);
        ins.bind(n++, writtenOff ? QVariant(dateToStored(bought.addDays(900 + rng.bounded(300)))) : none);
        ins.bind(n++, writtenOff ? QVariant(kPeople[rng.bounded(static_cast<int>(kPeople.size()))]) : none);
        ins.bind(n++, writtenOff ? QVariant(kReasons[rng.bounded(static_cast<int>(kReasons.size()))]) : none);
        ins.bind(n++, writtenOff ? QVariant(cost / 10) : none);
        ins.step();
        ins.reset();
    }
    t.commit();
    c.engine().settleAfterBulkWrite(c);
}
