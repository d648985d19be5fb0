// Reading the assets for labels. Dates come back as the register stores them (ISO text on a file, a date on a
// server), so they are read through the stored form.
#include "labels/labelassets.h"

#include "data/connection.h"
#include "data/textvalues.h"

#include <QHash>
#include <QRegularExpression>

namespace {

const char* const kColumns =
    "SELECT ASSETID, ItemGroup, Description, isElectrical, LastTestTag, DatePurchased FROM assets";

QHash<QString, QString> groupNames(const Connection& c) {
    QHash<QString, QString> names;
    Statement groups(c, "SELECT GroupNumber, Description FROM Groups");
    while (groups.step()) {
        names.insert(groups.column(0).toString().trimmed(), groups.column(1).toString());
    }
    return names;
}

QDate dateOf(const QVariant& v) {
    if (v.typeId() == QMetaType::QDate) {
        return v.toDate();
    }
    return v.isNull() ? QDate() : storedToDateTime(v.toString()).date();
}

LabelAsset assetOf(const Statement& row, const QHash<QString, QString>& groups) {
    LabelAsset a;
    a.id = row.column(0).toString();
    a.group = groups.value(row.column(1).toString().trimmed());
    a.description = row.column(2).toString();
    a.electrical = row.columnInt64(3) != 0;
    a.lastCheck = dateOf(row.column(4));
    return a;
}

std::vector<LabelAsset> activeAssets(const Connection& c, const QDate& since, int limit) {
    const QHash<QString, QString> groups = groupNames(c);
    std::vector<LabelAsset> assets;
    Statement rows(c, std::string(kColumns) + " WHERE WrittenOff = 0 ORDER BY ASSETID");
    while ((limit < 0 || static_cast<int>(assets.size()) < limit) && rows.step()) {
        if (since.isValid()) {
            const QDate purchased = dateOf(rows.column(5));
            if (!purchased.isValid() || purchased < since) {
                continue;
            }
        }
        assets.push_back(assetOf(rows, groups));
    }
    return assets;
}

} // namespace

QString labelCompanyName(const Connection& c) {
    Statement system(c, "SELECT CompanyName FROM System LIMIT 1");
    return system.step() ? system.column(0).toString() : QString();
}

std::vector<LabelAsset> labelAssetsByIds(const Connection& c, const QStringList& ids, QStringList& unknown) {
    const QHash<QString, QString> groups = groupNames(c);
    std::vector<LabelAsset> assets;
    Statement one(c, std::string(kColumns) + " WHERE ASSETID = ? LIMIT 1");
    for (const QString& id : ids) {
        one.reset();
        one.bindText(1, id);
        if (one.step()) {
            assets.push_back(assetOf(one, groups));
        } else {
            unknown << id;
        }
    }
    return assets;
}

std::vector<LabelAsset> labelAssetsPurchasedSince(const Connection& c, const QDate& since, int limit) {
    return activeAssets(c, since, limit);
}

std::vector<LabelAsset> allLabelAssets(const Connection& c, int limit) {
    return activeAssets(c, QDate(), limit);
}

QStringList splitIdentifiers(const QString& text) {
    static const QRegularExpression separators(QStringLiteral("[,;\\s]+"));
    return text.split(separators, Qt::SkipEmptyParts);
}
