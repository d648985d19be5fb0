// New registers with settings. The register is built under a temporary name and moved into place only when
// its settings and groups are stored, so a program that opens the file never sees a register half made, and
// a failure leaves nothing behind. An access password given is also asked for at start: whoever sets one
// wants the register closed to those who do not know it.
#include "data/newregister.h"

#include "data/connection.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/newfile.h"
#include "data/schema.h"
#include "data/server.h"

#include <QFileInfo>

namespace {

// An identifier is the abbreviation, the group digit and a running number of at least three digits; an
// abbreviation longer than this leaves no identifier that fits its column.
constexpr int kMaxAbbreviationLength = kMaxTextLength - 4;

// The settings are typed into one-line edits; a line break or another control character there would end up
// in every identifier and report heading, where nobody could see or type it.
bool hasControlCharacter(const QString& text) {
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
            return true;
        }
    }
    return false;
}

void checkText(QStringList& problems, const QString& field, const QString& what, const QString& text, int limit) {
    if (text.size() > limit) {
        problems << QStringLiteral("%1: %2 has %3 characters; it holds at most %4")
                        .arg(field, what)
                        .arg(text.size())
                        .arg(limit);
    }
    if (hasControlCharacter(text)) {
        problems << QStringLiteral("%1: %2 holds a line break or another control character").arg(field, what);
    }
}

} // namespace

QStringList newRegisterProblems(const NewRegister& settings) {
    QStringList problems;
    checkText(problems, QStringLiteral("company"), QStringLiteral("the company name"), settings.company,
              kMaxTextLength);
    checkText(problems, QStringLiteral("abbreviation"), QStringLiteral("the abbreviation"), settings.abbreviation,
              kMaxAbbreviationLength);
    checkText(problems, QStringLiteral("password"), QStringLiteral("the access password"), settings.password,
              kMaxTextLength);
    for (auto it = settings.groups.cbegin(); it != settings.groups.cend(); ++it) {
        const QString field = QStringLiteral("group %1").arg(it.key());
        if (it.key() < 0 || it.key() > 9) {
            problems << QStringLiteral("%1: groups are numbered 0 to 9").arg(field);
            continue;
        }
        checkText(problems, field, QStringLiteral("the group name"), it.value(), kMaxTextLength);
    }
    return problems;
}

namespace {

// Requires: a transaction on the new register c, whose settings are all blank.
void storeSettings(Connection& c, const NewRegister& settings) {
    Statement system(c, "UPDATE System SET CompanyName = ?, CompanyAbbr = ?, DataBasePassword = ?, "
                        "PromptPasswordToStart = ?");
    const QVariant values[] = {settings.company, settings.abbreviation, settings.password,
                               QVariant(settings.password.isEmpty() ? 0LL : 1LL)};
    const char* const columns[] = {"CompanyName", "CompanyAbbr", "DataBasePassword", "PromptPasswordToStart"};
    HistoryRecord changed{
        QStringLiteral("System"), historySubject(QStringLiteral("System"), QString()), HistoryAction::Edited, {}};
    for (int i = 0; i < 4; ++i) {
        system.bind(i + 1, values[i]);
        HistoryChange change;
        if (historyChange(changed.table, QLatin1String(columns[i]), QVariant(), values[i], &change)) {
            changed.changes.push_back(change);
        }
    }
    system.step();
    if (!changed.changes.empty()) {
        c.recordHistory(std::move(changed));
    }
    addGroups(c, settings.groups);
}

} // namespace

void addGroups(Connection& c, const QMap<int, QString>& groups) {
    const QString table = QStringLiteral("Groups");
    Statement group(c, "INSERT INTO Groups (GroupNumber, Description) VALUES (?, ?)");
    for (auto it = groups.cbegin(); it != groups.cend(); ++it) {
        const QString digit = QString::number(it.key());
        group.bindText(1, digit);
        group.bindText(2, it.value());
        group.step();
        group.reset();
        HistoryRecord added{table, historySubject(table, digit), HistoryAction::Added, {}};
        HistoryChange change;
        if (historyChange(table, QStringLiteral("GroupNumber"), QVariant(), digit, &change)) {
            added.changes.push_back(change);
        }
        if (historyChange(table, QStringLiteral("Description"), QVariant(), it.value(), &change)) {
            added.changes.push_back(change);
        }
        c.recordHistory(std::move(added));
    }
}

void createRegisterWith(const QString& location, const std::function<void(Connection&)>& fill,
                        const std::function<void(Connection&)>& verify) {
    if (isServerUri(location) || location.endsWith(QLatin1String(".server"))) {
        createServerRegister(isServerUri(location) ? location : readServerFile(location),
                             QString::fromLatin1(kDefaultFilePassword), fill, verify);
        return;
    }
    if (QFileInfo::exists(location) || QFileInfo(location).isSymLink()) {
        throw DatabaseError(QStringLiteral("The file '%1' already exists; a new register is never written over "
                                           "an existing file.")
                                .arg(location));
    }
    PartialFile file(temporaryNameBeside(location));
    try {
        createRegister(file.path());
        Connection c;
        c.openFile(file.path(), QString::fromLatin1(kDefaultFilePassword));
        Connection::Transaction t(c);
        fill(c);
        if (verify) {
            verify(c);
        }
        t.commit();
    } catch (const DatabaseError& e) {
        // The user asked for location; the name the register was being built under means nothing to them.
        throw DatabaseError(QString(e.text()).replace(file.path(), location));
    }
    file.placeAt(location);
}

void createRegister(const QString& path, const NewRegister& settings) {
    const QStringList problems = newRegisterProblems(settings);
    if (!problems.isEmpty()) {
        throw ConversionError(problems.join(QLatin1Char('\n')));
    }
    createRegisterWith(path, [&](Connection& c) { storeSettings(c, settings); });
}
