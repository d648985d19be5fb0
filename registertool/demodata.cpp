// Generates demo assets: groups of office equipment, furniture and electrical items, purchase dates over
// ten years, some written off, some on loan, electrical ones with safety checks.
#include "registertool/demodata.h"

#include "data/assetids.h"
#include "data/connection.h"
#include "data/engine.h"
#include "data/history.h"
#include "data/newregister.h"
#include "data/schema.h"
#include "data/textvalues.h"

#include <QDate>
#include <QMap>
#include <QRandomGenerator>
#include <QStringList>
#include <array>
#include <vector>

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
        const QString table = QStringLiteral("System");
        const QVariant values[] = {options.companyName, options.companyAbbr, options.accessPassword,
                                   QVariant(options.promptPassword ? 1LL : 0LL)};
        const char* const columns[] = {"CompanyName", "CompanyAbbr", "DataBasePassword", "PromptPasswordToStart"};
        HistoryRecord settings{table, historySubject(table, QString()), HistoryAction::Edited, {}};
        for (int i = 0; i < 4; ++i) {
            s.bind(i + 1, values[i]);
            HistoryChange change;
            if (historyChange(table, QLatin1String(columns[i]), QVariant(), values[i], &change)) {
                settings.changes.push_back(change);
            }
        }
        s.step();
        c.recordHistory(std::move(settings));
    }
    {
        QMap<int, QString> groups;
        for (const Group& g : kGroups) {
            groups.insert(QString::fromLatin1(g.number).toInt(), QString::fromUtf8(g.name));
        }
        addGroups(c, groups);
    }
    const QString assets = QStringLiteral("assets");
    std::vector<HistoryColumn> columns;
    for (const QString& name : QString::fromStdString(registerColumnList("assets")).split(QStringLiteral(", "))) {
        columns.push_back(historyColumn(assets, name));
    }
    Statement ins(c, "INSERT INTO assets (" + registerColumnList("assets") +
                         ") VALUES (?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    std::array<int, kGroups.size()> counts{};
    std::vector<QVariant> values;
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

        // In table order. Numbered in order of adding, as the asset editor numbers a group that has no gaps.
        values.clear();
        values.push_back(assetIdFor(options.companyAbbr + QString::fromLatin1(g.number), number));
        values.push_back(QString::fromLatin1(g.number));
        values.push_back(QStringLiteral("PO-%1").arg(10000 + rng.bounded(90000)));
        values.push_back(make);
        values.push_back(QStringLiteral("%1-%2").arg(make.left(2).toUpper()).arg(100 + rng.bounded(900)));
        values.push_back(dateToStored(bought));
        values.push_back(QStringLiteral("SN%1").arg(rng.generate() % 100000000u, 8, 10, QLatin1Char('0')));
        values.push_back(item);
        values.push_back(kSuppliers[rng.bounded(static_cast<int>(kSuppliers.size()))]);
        values.push_back(kPeople[rng.bounded(static_cast<int>(kPeople.size()))]);
        values.push_back(kLocations[rng.bounded(static_cast<int>(kLocations.size()))]);
        values.push_back(cost);
        values.push_back(QStringLiteral("%1 years").arg(1 + rng.bounded(5)));
        values.push_back(electrical ? 1 : 0);
        values.push_back(electrical ? QVariant(dateToStored(today.addDays(-static_cast<qint64>(rng.bounded(500)))))
                                    : none);
        values.push_back(onLoan ? 1 : 0);
        const QDate lent = today.addDays(-static_cast<qint64>(rng.bounded(60)));
        values.push_back(onLoan ? QVariant(kPeople[rng.bounded(static_cast<int>(kPeople.size()))]) : none);
        values.push_back(onLoan ? QVariant(dateToStored(lent)) : none);
        values.push_back(onLoan ? QVariant(dateToStored(lent.addDays(30))) : none);
        values.push_back(writtenOff ? 1 : 0);
        values.push_back(writtenOff ? QVariant(dateToStored(bought.addDays(900 + rng.bounded(300)))) : none);
        values.push_back(writtenOff ? QVariant(kPeople[rng.bounded(static_cast<int>(kPeople.size()))]) : none);
        values.push_back(writtenOff ? QVariant(kReasons[rng.bounded(static_cast<int>(kReasons.size()))]) : none);
        values.push_back(writtenOff ? QVariant(cost / 10) : none);
        HistoryRecord added{assets, historySubject(assets, values[0].toString()), HistoryAction::Added, {}};
        for (size_t v = 0; v < values.size(); ++v) {
            ins.bind(static_cast<int>(v) + 1, values[v]);
            HistoryChange change;
            if (historyChange(columns[v], QVariant(), values[v], &change)) {
                added.changes.push_back(std::move(change));
            }
        }
        ins.step();
        ins.reset();
        c.recordHistory(std::move(added));
    }
    t.commit();
    c.engine().settleAfterBulkWrite(c);
}
