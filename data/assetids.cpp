// Asset identifiers. The in-use test asks the register row by row rather than reading every identifier
// of the group, since a clash is rare and the unique index answers each question at once.
#include "data/assetids.h"

#include "data/connection.h"
#include "data/errors.h"
#include "data/jetsql.h"
#include "data/schema.h"

QStringList groupCountStatement(const QString& group) {
    return {QStringLiteral("Select COUNT(*) as GTotal"), QStringLiteral("FROM assets"),
            QStringLiteral("Where ITEMGROUP = ") + jetQuote(group)};
}

QString LeadingZeros(const QString& digits) {
    return digits.size() < 3 ? QString(3 - digits.size(), QLatin1Char('0')) : QString();
}

QString assetIdFor(const QString& prefix, int number) {
    const QString digits = QString::number(number);
    return prefix + LeadingZeros(digits) + digits;
}

bool assetIdInUse(const Connection& connection, const QString& id) {
    Statement s(connection, "SELECT 1 FROM assets WHERE ASSETID = ?1 LIMIT 1");
    s.bindText(1, id);
    const bool found = s.step();
    s.reset();
    return found;
}

QString nextFreeAssetId(const Connection& connection, const QString& abbreviation, const QString& group,
                        int storedInGroup, const std::function<bool(const QString&)>& alsoTaken) {
    const QString prefix = abbreviation + group;
    int number = storedInGroup + 1;
    QString id = assetIdFor(prefix, number);
    while ((alsoTaken && alsoTaken(id)) || assetIdInUse(connection, id)) {
        id = assetIdFor(prefix, ++number);
    }
    if (id.size() > kMaxTextLength) {
        throw ConversionError(QStringLiteral("An Asset ID holds at most %1 characters; with the company abbreviation "
                                             "as it is, the next one would have %2. Shorten the abbreviation in the "
                                             "configuration.")
                                  .arg(kMaxTextLength)
                                  .arg(id.size()));
    }
    return id;
}
