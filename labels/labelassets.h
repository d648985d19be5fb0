// What a label shows of an asset, and the register's assets chosen for labels: by identifier, by purchase
// date, or all of them. Shared by the Labels window and `vnrdb labels`; the statements run on either engine.
#pragma once

#include <QDate>
#include <QString>
#include <QStringList>
#include <vector>

class Connection;

struct LabelAsset {
    QString id;
    QString group; // the group's name; empty when the group has none
    QString description;
    bool electrical = false;
    QDate lastCheck; // the last electrical check; null when none is recorded
};

// The settings record's company name; empty when there is none.
QString labelCompanyName(const Connection& c);
// The assets of ids in the order given (one label set per identifier given, repeats included), found without
// regard to letter case. An identifier no asset has is added to unknown, and gives no asset.
std::vector<LabelAsset> labelAssetsByIds(const Connection& c, const QStringList& ids, QStringList& unknown);
// The assets not written off whose purchase date is since or later, in identifier order. The register keeps
// no date an asset was added: the purchase date stands for it, as the asset window fills it in with the day an
// asset is added unless another date is typed. At most limit assets when limit is not negative.
std::vector<LabelAsset> labelAssetsPurchasedSince(const Connection& c, const QDate& since, int limit = -1);
// Every asset not written off, in identifier order; at most limit when limit is not negative.
std::vector<LabelAsset> allLabelAssets(const Connection& c, int limit = -1);
// The identifiers in text as a person types or pastes them: separated by commas, semicolons, blanks or line
// breaks; empty pieces dropped.
QStringList splitIdentifiers(const QString& text);
