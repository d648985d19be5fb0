// The stock-take tests' register.
#include "tests/support/stockassets.h"

#include "data/stocktake.h"
#include "tests/support/testregister.h"

#include <QVariantList>

void addStockAssets(TestRegister& reg) {
    struct Asset {
        const char* id;
        QVariant location;
        const char* group;
        int writtenOff;
    };
    const Asset assets[] = {{"KLT1001", QStringLiteral("Room 4"), "1", 0},
                            {"KLT1002", QStringLiteral(" room 4 "), "1", 0},
                            {"KLT1003", QStringLiteral("Hall"), "1", 0},
                            {"KLT1004", QStringLiteral("Room 4"), "1", 1},
                            {"KLT1005", QStringLiteral("Room 4"), "2", 0},
                            {"KLT1006", QStringLiteral("Room 4"), "1", 0},
                            {"KLT1007", QVariant(), "1", 0},
                            {"SŁ1008", QStringLiteral("Room 4"), "1", 0}};
    reg.addAssets(
        QStringLiteral("ASSETID, Location, ItemGroup, WrittenOff, Description"), std::size(assets), [&assets](int i) {
            const Asset& a = assets[i - 1];
            return QVariantList{QString::fromUtf8(a.id), a.location, QString::fromLatin1(a.group), a.writtenOff,
                                i == 1 ? QStringLiteral("=SUM(A1)") : QStringLiteral("Item %1").arg(i)};
        });
}

StockTake startRoom4(Connection& c) {
    return startStockTake(c, QStringLiteral("Room 4 count"), QStringLiteral("Room 4"), {QStringLiteral("1")});
}
