// The rule that names a new asset: the company abbreviation, the group's digit and a running number of at
// least three digits ("KLT3012"). The running number is one more than the assets the group holds, raised
// past any identifier already in use, so a removed row never causes a clash. The asset editor and the
// demo registers both number assets through this unit.
#pragma once

#include <QString>
#include <QStringList>
#include <functional>

class Connection;

// The statement of the count rule, in the Jet dialect a line each: how many assets group holds, as GTotal.
QStringList groupCountStatement(const QString& group);
// The zeros put before a running number: "00" for one digit, "0" for two, none for three or more.
QString LeadingZeros(const QString& digits);
// The identifier of running number n under prefix (abbreviation and group digit): prefix, zero fill, n.
QString assetIdFor(const QString& prefix, int number);
// Whether the register holds an asset with this identifier; compared without regard to ASCII case, as the
// register's unique index compares them.
bool assetIdInUse(const Connection& connection, const QString& id);
// The identifier for a new asset of group when the group holds storedInGroup assets: running number
// storedInGroup + 1, stepped past every identifier in use and every one alsoTaken names (identifiers given
// out but not stored yet). Throws ConversionError when the identifier would not fit its column,
// DatabaseError when the register cannot be read.
QString nextFreeAssetId(const Connection& connection, const QString& abbreviation, const QString& group,
                        int storedInGroup, const std::function<bool(const QString&)>& alsoTaken = nullptr);
