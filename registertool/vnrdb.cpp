// vnrdb: the register tool.
//   vnrdb create FILE [--company NAME] [--abbreviation ABBR] [--password PW] [--group N=NAME]... [--demo N]
//                [--seed S]                   makes a register with settings, empty or with N demo assets
//   vnrdb check FILE                          examines a register the way the program opens it, and more
//   vnrdb export FILE [--to OUT.csv]          writes the assets as CSV
//   vnrdb import FILE IN.csv [--dry-run] [--update]   adds (and updates) the assets of a CSV file, all or none
//   vnrdb backup FILE DEST                    copies a register, also while it is in use; DEST a file or folder
//   vnrdb copy FROM TO                        moves a register between a file and a server
// FILE is a register file, a server file (vnrdata.server) or a server's postgresql:// address. It never writes over an
// existing file, and check, export and backup write nothing to FILE (but for rolling back a crashed save's journal,
// as every opening does). vnrdb --version prints the version. Exit codes: 0 done, 1 refused (every problem is
// listed) or a finding, 2 a usage error. The work itself is done by the data layer and the register tool library; this
// file reads the command line.
#include "data/backup.h"
#include "data/connection.h"
#include "data/engine.h"
#include "data/errors.h"
#include "data/newregister.h"
#include "data/registercheck.h"
#include "data/registercopy.h"
#include "data/schema.h"
#include "data/server.h"
#include "registertool/assetcsv.h"
#include "registertool/demodata.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

namespace {

const char* const kCreateHelp =
    "usage: vnrdb create FILE [--company NAME] [--abbreviation ABBR] [--password PW] [--group N=NAME]...\n"
    "                         [--demo N] [--seed S]\n"
    "Makes a new register FILE holding the settings given: the company name, its abbreviation (the start of\n"
    "every asset identifier), the access password (when given, the program asks for it at start) and the\n"
    "names of groups 0 to 9. With --demo, N demo assets over six groups of their own, generated from seed S\n"
    "(access password: demo, unless given). Settings the program would refuse are refused, and nothing is\n"
    "made. Never writes over an existing file.\n";
const char* const kExportHelp =
    "usage: vnrdb export FILE [--to OUT.csv]\n"
    "Writes every asset of the register FILE as CSV (RFC 4180, UTF-8): a header row of the column names, then\n"
    "one record per asset with every column in table order; dates as yyyy-mm-dd, yes/no as 0 or 1, amounts\n"
    "with '.' before their decimals; a text starting with = + - @ tab CR or ' gets an apostrophe before it, so\n"
    "a spreadsheet never runs it as a formula. To standard output, or to the new file OUT.csv, which appears\n"
    "complete or not at all and is never written over. FILE is not changed.\n";
const char* const kImportHelp =
    "usage: vnrdb import FILE IN.csv [--dry-run] [--update]\n"
    "Adds the assets of IN.csv to the register FILE. The header row names columns of assets (letter case\n"
    "aside), separated by commas; a header that names no column so but does split at semicolons or tabs has\n"
    "the whole file read that way. Values are in fixed forms: dates yyyy-mm-dd, '.' decimals, yes/no 0/1 or\n"
    "True/False. A record without an ASSETID gets the next identifier of its group, in file order; an\n"
    "apostrophe before a text starting with = + - @ tab CR or ' is taken off, and a second header row is\n"
    "refused. A record of empty or blank fields only is skipped and counted; one without a group\n"
    "(ItemGroup) is refused. Every problem is listed as 'line N, COLUMN: message', and then nothing is\n"
    "added; otherwise all records are added together. An ASSETID the register holds is refused, except with\n"
    "--update: that asset's columns the file gives (only those) are updated, in the same transaction. With\n"
    "--dry-run the file is checked and nothing is written; with --update as well, each value that would\n"
    "change is listed as 'ASSETID, COLUMN: 'old' -> 'new''.\n";
const char* const kBackupHelp =
    "usage: vnrdb backup FILE DEST\n"
    "Copies the register FILE to the new file DEST, as one consistent state even while the program has FILE\n"
    "open and is saving. DEST appears complete or not at all and is never written over. A folder DEST gets\n"
    "a new file named after FILE and the local time (vnrdata-2026-12-09-1015.mdb; -2, -3... when taken).\n";
const char* const kCopyHelp =
    "usage: vnrdb copy FROM TO\n"
    "Copies the register FROM to TO, each a register file, a server file (.server) or a postgresql:// address:\n"
    "every asset, group, setting and the file password, with their row ids. A file TO is made new and never\n"
    "written over; a server TO must be an existing database without a register. The copy is written in one\n"
    "transaction from one consistent state of FROM, counted and compared with FROM by a digest of every row,\n"
    "and kept only when the two agree.\n";
const char* const kCheckHelp = "usage: vnrdb check FILE\n"
                               "Examines the register FILE without changing it: the program's own opening checks,\n"
                               "the whole-file checks it makes in the background (every page, every index against\n"
                               "its table, every stored value of its kind), the schema version, and identifiers\n"
                               "that differ only in letter case. Prints one line per finding, in the words of the\n"
                               "program's warning, then the engine's own lines, and a summary; exit code 1 when\n"
                               "anything is wrong. The one change it may make: a save that a crashed program left\n"
                               "half done (its journal, FILE-journal, beside the file) is rolled back first, as\n"
                               "every program that opens the register does, so the file reads as it was saved.\n";

int usage(const char* help) {
    std::fputs(help, stderr);
    return 2;
}

void say(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
}

void complain(const QString& line) {
    std::fputs(qPrintable(QStringLiteral("vnrdb: ") + line + QLatin1Char('\n')), stderr);
}

// Whether args holds --help; then the command's help has been printed.
bool helpAsked(const QStringList& args, const char* help) {
    if (!args.contains(QLatin1String("--help"))) {
        return false;
    }
    std::fputs(help, stdout);
    return true;
}

int create(const QStringList& args) {
    if (helpAsked(args, kCreateHelp)) {
        return 0;
    }
    if (args.isEmpty() || args[0].startsWith(QLatin1String("--"))) {
        return usage(kCreateHelp);
    }
    const QString file = args[0];
    int demo = -1;
    DemoOptions options;
    NewRegister settings;
    bool settingsGiven = false;
    QStringList refused;
    for (int i = 1; i < args.size(); ++i) {
        const QString& option = args[i];
        if (i + 1 >= args.size()) {
            return usage(kCreateHelp);
        }
        const QString value = args[++i];
        bool ok = true;
        if (option == QLatin1String("--demo")) {
            demo = value.toInt(&ok);
            ok = ok && demo >= 0;
        } else if (option == QLatin1String("--seed")) {
            options.seed = value.toUInt(&ok);
        } else if (option == QLatin1String("--company")) {
            settings.company = options.companyName = value;
            settingsGiven = true;
        } else if (option == QLatin1String("--abbreviation")) {
            settings.abbreviation = options.companyAbbr = value;
            settingsGiven = true;
        } else if (option == QLatin1String("--password")) {
            settings.password = options.accessPassword = value;
            // As for any register: a password given is asked for at start.
            options.promptPassword = !value.isEmpty();
            settingsGiven = true;
        } else if (option == QLatin1String("--group")) {
            const qsizetype eq = value.indexOf(QLatin1Char('='));
            const int digit = value.left(eq).toInt(&ok);
            ok = ok && eq > 0;
            if (ok && settings.groups.contains(digit)) {
                refused << QStringLiteral("group %1: named twice").arg(digit);
            }
            settings.groups.insert(digit, value.mid(eq + 1));
        } else {
            ok = false;
        }
        if (!ok) {
            return usage(kCreateHelp);
        }
    }
    if (demo >= 0 && !settings.groups.isEmpty()) {
        complain(QStringLiteral("--group and --demo do not go together: the demo assets belong to groups of their "
                                "own"));
        return 2;
    }
    refused << newRegisterProblems(settings);
    if (!refused.isEmpty()) {
        for (const QString& problem : refused) {
            complain(problem);
        }
        return 1;
    }
    try {
        if (demo >= 0) {
            createRegister(file);
            options.assets = demo;
            try {
                fillDemoRegister(file, options);
            } catch (const VantrelError&) {
                QFile::remove(file); // made a moment ago by this command, and of no use half filled
                throw;
            }
        } else {
            createRegister(file, settings);
        }
    } catch (const VantrelError& e) {
        complain(e.text());
        return 1;
    }
    say(QStringLiteral("%1: register made%2%3")
            .arg(file, demo >= 0 ? QStringLiteral(" with %1 demo assets").arg(demo) : QString(),
                 !settingsGiven && settings.groups.isEmpty() ? QString()
                 : demo >= 0                                 ? QStringLiteral(" and the settings given")
                                                             : QStringLiteral(" with its settings")));
    return 0;
}

int exportCommand(const QStringList& args) {
    if (helpAsked(args, kExportHelp)) {
        return 0;
    }
    QString to;
    if (args.size() == 3 && args[1] == QLatin1String("--to")) {
        to = args[2];
    } else if (args.size() != 1) {
        return usage(kExportHelp);
    }
    if (args[0].startsWith(QLatin1String("--")) || to.startsWith(QLatin1String("--"))) {
        return usage(kExportHelp);
    }
    try {
        if (to.isEmpty()) {
            QFile out;
            if (!out.open(stdout, QIODevice::WriteOnly)) {
                complain(QStringLiteral("standard output cannot be written: %1").arg(out.errorString()));
                return 1;
            }
            exportAssets(args[0], out);
            if (!out.flush()) {
                complain(QStringLiteral("standard output cannot be written: %1").arg(out.errorString()));
                return 1;
            }
        } else {
            exportAssetsToNewFile(args[0], to);
            std::fprintf(stderr, "%s\n", qPrintable(QStringLiteral("%1: assets written to %2").arg(args[0], to)));
        }
    } catch (const VantrelError& e) {
        complain(e.text());
        return 1;
    }
    return 0;
}

int importCommand(const QStringList& args) {
    if (helpAsked(args, kImportHelp)) {
        return 0;
    }
    QStringList files;
    bool dryRun = false;
    bool update = false;
    for (const QString& a : args) {
        if (a == QLatin1String("--dry-run")) {
            dryRun = true;
        } else if (a == QLatin1String("--update")) {
            update = true;
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage(kImportHelp);
        } else {
            files << a;
        }
    }
    if (files.size() != 2) {
        return usage(kImportHelp);
    }
    QFile in(files[1]);
    if (!in.open(QIODevice::ReadOnly)) {
        complain(QStringLiteral("%1 cannot be read: %2").arg(files[1], in.errorString()));
        return 1;
    }
    const QByteArray csv = in.readAll();
    if (in.error() != QFileDevice::NoError) {
        complain(QStringLiteral("%1 cannot be read: %2").arg(files[1], in.errorString()));
        return 1;
    }
    try {
        const ImportOutcome outcome = importAssets(files[0], csv, dryRun, update);
        if (outcome.separator != QLatin1Char(',')) {
            complain(QStringLiteral("the file's fields are separated by %1; read as such")
                         .arg(outcome.separator == QLatin1Char(';') ? QStringLiteral("semicolons")
                                                                    : QStringLiteral("tabs")));
        }
        if (!outcome.problems.isEmpty()) {
            for (const QString& problem : outcome.problems) {
                std::fputs(qPrintable(problem + QLatin1Char('\n')), stderr);
            }
            complain(QStringLiteral("%1: nothing imported; %2 problems in %3")
                         .arg(files[0])
                         .arg(outcome.problems.size())
                         .arg(files[1]));
            return 1;
        }
        for (const QString& change : outcome.changes) {
            say(change);
        }
        const QString blank =
            (update ? QStringLiteral(", %1 updated").arg(outcome.updated) : QString()) +
            (outcome.blankRows > 0 ? QStringLiteral("; %1 blank rows skipped").arg(outcome.blankRows) : QString());
        say(dryRun ? QStringLiteral("%1: %2 assets checked%3; nothing written (--dry-run)")
                         .arg(files[0])
                         .arg(outcome.rows + outcome.updated)
                         .arg(blank)
                   : QStringLiteral("%1: %2 assets imported%3").arg(files[0]).arg(outcome.rows).arg(blank));
    } catch (const VantrelError& e) {
        complain(e.text());
        return 1;
    }
    return 0;
}

// Where a backup goes: dest itself, or, when dest is a folder, a new file in it named after the register and
// the local time to the minute (vnrdata-2026-12-09-1015.mdb), with -2, -3... when that name is taken, so
// copies made in one minute never meet.
QString backupFile(const QString& source, const QString& dest) {
    if (!QFileInfo(dest).isDir()) {
        return dest;
    }
    const QFileInfo from(source);
    const bool file = !isServerUri(source) && from.suffix() != QLatin1String("server");
    const QString base = isServerUri(source) ? QStringLiteral("vnrdata") : from.completeBaseName();
    const QString suffix = file && !from.suffix().isEmpty() ? from.suffix() : QStringLiteral("mdb");
    const QString stem = QDir::cleanPath(
        QDir(dest).filePath(base + QDateTime::currentDateTime().toString(QStringLiteral("-yyyy-MM-dd-HHmm"))));
    QString path = stem + QLatin1Char('.') + suffix;
    for (int n = 2; QFileInfo::exists(path) || QFileInfo(path).isSymLink(); ++n) {
        path = QStringLiteral("%1-%2.%3").arg(stem).arg(n).arg(suffix);
    }
    return path;
}

int backupCommand(const QStringList& args) {
    if (helpAsked(args, kBackupHelp)) {
        return 0;
    }
    if (args.size() != 2 || args[0].startsWith(QLatin1String("--")) || args[1].startsWith(QLatin1String("--"))) {
        return usage(kBackupHelp);
    }
    const QString dest = backupFile(args[0], args[1]);
    try {
        backupRegister(args[0], dest);
    } catch (const VantrelError& e) {
        complain(e.text());
        return 1;
    }
    say(QStringLiteral("%1: copied to %2").arg(args[0], dest));
    return 0;
}

int check(const QStringList& args) {
    if (helpAsked(args, kCheckHelp)) {
        return 0;
    }
    if (args.size() != 1) {
        return usage(kCheckHelp);
    }
    const QString file = isServerUri(args[0]) ? args[0] : QFileInfo(args[0]).absoluteFilePath();
    int findings = 0;
    try {
        Connection c;
        // The whole-file checks are the program's background check, made here on the file itself: the same
        // findings in the same words. A server keeps its own pages whole.
        c.openFile(file, QString::fromLatin1(kDefaultFilePassword), false, Connection::WholeFileChecks::Later);
        const Damage damage = c.engine().wholeFileDamage(c);
        for (const QString& phrase : damage.phrases) {
            say(QStringLiteral("%1: damaged: %2").arg(file, phrase));
            ++findings;
        }
        for (const QString& line : damage.details) {
            say(QStringLiteral("%1:   %2").arg(file, line));
        }
        for (const QString& twins : c.engine().identifierTwins()) {
            say(QStringLiteral("%1: one identifier held by several assets: %2").arg(file, twins));
            ++findings;
        }
        const int version = c.schemaVersion();
        if (version < kRegisterSchemaVersion) {
            say(QStringLiteral("%1: schema version %2; the program brings it up to version %3 when it opens it")
                    .arg(file)
                    .arg(version)
                    .arg(kRegisterSchemaVersion));
        }
        Statement count(c, "SELECT count(*) FROM assets");
        count.step();
        if (findings == 0) {
            say(QStringLiteral("%1: ok: %2 assets, schema version %3")
                    .arg(file)
                    .arg(count.columnInt64(0))
                    .arg(version));
        }
    } catch (const VantrelError& e) {
        say(e.text());
        // The pages are listed only for a file that is a database: for anything else (no file, a folder, a
        // device, an empty, unreadable or foreign file) the refusal has said what stands at the path, and
        // reading pages there would only report that again as damage.
        QFile head(file);
        const bool pagesToRead = !isServerUri(file) && !file.endsWith(QLatin1String(".server")) &&
                                 QFileInfo(file).isFile() && head.open(QIODevice::ReadOnly) &&
                                 head.read(16) == QByteArray("SQLite format 3", 16);
        for (const QString& problem : pagesToRead ? Connection::integrityProblems(file) : QStringList()) {
            say(QStringLiteral("%1: damaged: %2").arg(file, problem));
        }
        return 1;
    }
    return findings == 0 ? 0 : 1;
}

int copyCommand(const QStringList& args) {
    if (helpAsked(args, kCopyHelp)) {
        return 0;
    }
    if (args.size() != 2 || args[0].startsWith(QLatin1String("--")) || args[1].startsWith(QLatin1String("--"))) {
        return usage(kCopyHelp);
    }
    try {
        const RegisterSummary s = copyRegister(args[0], args[1]);
        say(QStringLiteral("%1: copied to %2: %3 assets, %4 groups, %5 settings records; digest %6 on both")
                .arg(args[0], args[1])
                .arg(s.assets)
                .arg(s.groups)
                .arg(s.settings)
                .arg(QString::fromLatin1(s.digest)));
    } catch (const VantrelError& e) {
        complain(e.text());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    const QString command = args.value(0);
    if (command == QLatin1String("create")) {
        return create(args.mid(1));
    }
    if (command == QLatin1String("check")) {
        return check(args.mid(1));
    }
    if (command == QLatin1String("export")) {
        return exportCommand(args.mid(1));
    }
    if (command == QLatin1String("import")) {
        return importCommand(args.mid(1));
    }
    if (command == QLatin1String("backup")) {
        return backupCommand(args.mid(1));
    }
    if (command == QLatin1String("copy")) {
        return copyCommand(args.mid(1));
    }
    if (command == QLatin1String("--version") && args.size() == 1) {
        std::fputs("vnrdb " VANTREL_VERSION "\n", stdout);
        return 0;
    }
    const bool helpAsked = command == QLatin1String("--help") && args.size() == 1;
    std::fputs("usage: vnrdb create|check|export|import|backup|copy ... (vnrdb COMMAND --help says more)\n"
               "       vnrdb --version\n",
               helpAsked ? stdout : stderr);
    return helpAsked ? 0 : 2;
}
