// vnrdb: the register tool.
//   vnrdb create FILE [--company NAME] [--abbreviation ABBR] [--password PW] [--group N=NAME]... [--demo N]
//                [--seed S]                   makes a register with settings, empty or with N demo assets
//   vnrdb check FILE                          examines a register the way the program opens it, and more
//   vnrdb export FILE [--to OUT.csv]          writes the assets as CSV
//   vnrdb import FILE IN.csv [--dry-run] [--update]   adds (and updates) the assets of a CSV file, all or none
//   vnrdb backup FILE DEST                    copies a register, also while it is in use; DEST a file or folder
//   vnrdb copy FROM TO                        moves a register between a file and a server
//   vnrdb labels FILE --to OUT.pdf ...        prints labels of assets into a PDF file, as the Labels window does
//   vnrdb history FILE [--asset ID] [--since DATE] [--csv]   prints the history of changes
//   vnrdb stocktake FILE list | show NAME [--missing|--found|--unknown] [--csv]   prints stock-takes and their lists
// FILE is a register file, a server file (vnrdata.server) or a server's postgresql:// address. It never writes over an
// existing file, and check, export, history, stocktake and backup write nothing to FILE (but for rolling back a crashed
// save's journal, as every opening does). vnrdb --version prints the version. Exit codes: 0 done, 1 refused (every
// problem is listed) or a finding, 2 a usage error. The work itself is done by the data layer and the register tool
// library; this file reads the command line.
#include "data/backup.h"
#include "data/connection.h"
#include "data/engine.h"
#include "data/errors.h"
#include "data/history.h"
#include "data/newfile.h"
#include "data/newregister.h"
#include "data/registercheck.h"
#include "data/registercopy.h"
#include "data/schema.h"
#include "data/server.h"
#include "data/stocktake.h"
#include "labels/labelassets.h"
#include "labels/labelsheet.h"
#include "registertool/assetcsv.h"
#include "registertool/csv.h"
#include "registertool/demodata.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QPdfWriter>
#include <QSaveFile>
#include <QStringList>
#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>
#include <unistd.h>

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
    "every asset, group, setting, history entry, stock-take and scan and the file password, with their row ids.\n"
    "A file TO is made new and never written over; a server TO must be an existing database without a register.\n"
    "The copy is written in one transaction from one consistent state of FROM, counted and compared with FROM\n"
    "by a digest of every row, and kept only when the two agree.\n";
const char* const kCheckHelp = "usage: vnrdb check FILE\n"
                               "Examines the register FILE without changing it: the program's own opening checks,\n"
                               "the whole-file checks it makes in the background (every page, every index against\n"
                               "its table, every stored value of its kind), the schema version, identifiers that\n"
                               "differ only in letter case, and the history: that each entry's hash follows from\n"
                               "its content and the entry before it (the first entry that breaks the chain is\n"
                               "named), and that every asset, group and the settings hold what their last entry\n"
                               "says. Prints one line per finding, in the words of the program's warning, then\n"
                               "the engine's own lines, and a summary; exit code 1 when anything is wrong. The one\n"
                               "change it may make: a save that a crashed program left half done (its journal,\n"
                               "FILE-journal, beside the file) is rolled back first, as every program that opens\n"
                               "the register does, so the file reads as it was saved.\n";

const char* const kHistoryHelp =
    "usage: vnrdb history FILE [--asset ID] [--since DATE] [--csv]\n"
    "Prints the history of the register FILE, oldest first: every change saved through the program or vnrdb,\n"
    "with its entry number, when it was saved (UTC), who saved it, the asset (or the settings, or a group),\n"
    "what was done, and each changed column's old and new value ('Borrower: '' -> 'Zoe Nowak''). --asset gives\n"
    "the entries of one asset (its identifier in any letter case), --since those saved at or after DATE\n"
    "(yyyy-mm-dd or 'yyyy-mm-dd hh:mm[:ss]', UTC). With --csv, CSV instead (RFC 4180, UTF-8): a header row, then\n"
    "a record per changed column: Entry, When, Who, Table, Subject, Action, Column, Before, After; a text\n"
    "starting with = + - @ tab CR or ' gets an apostrophe before it. FILE is not changed.\n";

const char* const kLabelsHelp =
    "usage: vnrdb labels FILE --to OUT.pdf (--ids ID,... | --added-since DATE | --all)\n"
    "                         [--stock NAME [--length MM] | --custom MEASURES] [--start N] [--copies N]\n"
    "                         [--code128] [--company] [--group] [--description] [--check-date]\n"
    "                         [--offset X,Y] [--outlines]\n"
    "Prints labels of assets of the register FILE into the new file OUT.pdf, drawn as the program's Labels\n"
    "window draws them: each shows the asset's identifier and its QR code, and what the options add.\n"
    "Which assets:\n"
    "  --ids ID,...         these identifiers, in this order (letter case aside)\n"
    "  --added-since DATE   those purchased on DATE (yyyy-mm-dd) or later; the register keeps no date an\n"
    "                       asset was added, and the asset window fills the purchase date in with it\n"
    "  --all                every asset\n"
    "  (written-off assets only by --ids)\n"
    "The stock (an A4 sheet of 65 unless given):\n"
    "  --stock NAME         a4-65 (38.1 x 21.2 mm), a4-24 (63.5 x 33.9), a4-21 (63.5 x 38.1), a4-14 (99.1 x 38.1),\n"
    "                       letter-30 (66.7 x 25.4), letter-80 (44.5 x 12.7); the rolls roll-89x36, roll-57x32,\n"
    "                       roll-25x54; tape-62, 62 mm tape cut at --length MM (30 unless given)\n"
    "  --custom MEASURES    page=WxH,grid=COLUMNSxROWS,label=WxH[,gap=ACROSSxDOWN][,margin=LEFTxTOP] in mm;\n"
    "                       page may be a4 or letter; without margins the labels are centred\n"
    "  --start N            the first label's position on the first sheet (1: top left, across first)\n"
    "  --copies N           labels of each asset, 1 to 1000 (1)\n"
    "  --code128            a Code 128 symbol as well, for identifiers it can carry (ASCII)\n"
    "  --company, --group, --description, --check-date\n"
    "                       the company's name, the group's name, the description, and for electrical\n"
    "                       items the date of the last check\n"
    "  --offset X,Y         moves everything X mm right and Y mm down, for a printer that feeds off centre\n"
    "  --outlines           a thin frame round each label, for a trial on plain paper\n"
    "A run that cannot be printed as asked (labels off the page, a code too small to read, an identifier no\n"
    "asset has) is refused with every reason, and nothing is written. OUT.pdf appears complete or not at all\n"
    "and is never written over; Ctrl+C stops a long run, leaving no file.\n";

const char* const kStockTakeHelp =
    "usage: vnrdb stocktake FILE list [--csv]\n"
    "       vnrdb stocktake FILE show NAME [--missing | --found | --unknown] [--csv]\n"
    "Prints the stock-takes of the register FILE. list gives each one, newest first: its name, whether it is\n"
    "open or closed, what it covers (a location and groups), when and by whom it was started, and its counts.\n"
    "show gives one stock-take's counts (its name in any letter case), or one of its lists:\n"
    "  --missing   the assets it expects (not written off, at its location, of its groups) not scanned, as\n"
    "              the register holds them now\n"
    "  --found     every asset it counted, with how its scan was answered (found, elsewhere, written off, not\n"
    "              expected)\n"
    "  --unknown   each identifier no asset answered, with how often and when it was first scanned\n"
    "Times are UTC. With --csv, CSV instead (RFC 4180, UTF-8), a header row first; a text starting with\n"
    "= + - @ tab CR or ' gets an apostrophe before it. FILE is not changed.\n";

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
    if (in.isSequential()) {
        complain(QStringLiteral("%1 may be read twice, so it must be a file, not a pipe or a device").arg(files[1]));
        return 1;
    }
    try {
        const ImportOutcome outcome = importAssets(files[0], in, dryRun, update);
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
        QString entries;
        if (c.keepsHistory()) {
            const HistoryVerdict history = verifyHistory(c);
            for (const QString& finding : history.findings) {
                say(QStringLiteral("%1: %2").arg(file, finding));
            }
            if (history.breaks > 0) {
                say(QStringLiteral("%1: the history's chain breaks first at entry %2 (%3 entries in all break it)")
                        .arg(file)
                        .arg(history.firstBreak)
                        .arg(history.breaks));
            }
            if (history.disagreements > kHistoryFindingsListed) {
                say(QStringLiteral("%1: %2 disagreements with the history in all")
                        .arg(file)
                        .arg(history.disagreements));
            }
            findings += static_cast<int>(std::min<long long>(history.breaks + history.disagreements, 1000000));
            entries = QStringLiteral(", %1 history entries, their chain whole").arg(history.entries);
        }
        Statement count(c, "SELECT count(*) FROM assets");
        count.step();
        if (findings == 0) {
            say(QStringLiteral("%1: ok: %2 assets, schema version %3%4")
                    .arg(file)
                    .arg(count.columnInt64(0))
                    .arg(version)
                    .arg(entries));
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

// A value as one line of text output: its line breaks and tabs shown as \n, \r and \t, so that no value can
// pass for another record or another column.
QString oneLine(QString text) {
    return text.replace(QLatin1Char('\r'), QLatin1String("\\r"))
        .replace(QLatin1Char('\n'), QLatin1String("\\n"))
        .replace(QLatin1Char('\t'), QLatin1String("\\t"));
}

// A time given to --since as the history stores times ("yyyy-MM-dd HH:mm:ss"); empty when it is not one.
QString sinceTime(const QString& given) {
    for (const char* format : {"yyyy-MM-dd", "yyyy-MM-dd HH:mm", "yyyy-MM-dd HH:mm:ss", "yyyy-MM-ddTHH:mm:ss"}) {
        const QDateTime t = QDateTime::fromString(given.trimmed(), QLatin1String(format));
        if (t.isValid()) {
            return t.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        }
    }
    return QString();
}

int historyCommand(const QStringList& args) {
    if (helpAsked(args, kHistoryHelp)) {
        return 0;
    }
    QString file;
    HistoryFilter filter;
    bool csv = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--csv")) {
            csv = true;
        } else if ((a == QLatin1String("--asset") || a == QLatin1String("--since")) && i + 1 < args.size()) {
            const QString value = args[++i];
            if (a == QLatin1String("--asset")) {
                filter.asset = value;
            } else {
                filter.since = sinceTime(value);
                if (filter.since.isEmpty()) {
                    complain(
                        QStringLiteral("--since %1: not a date; write yyyy-mm-dd or 'yyyy-mm-dd hh:mm'").arg(value));
                    return 2;
                }
            }
        } else if (a.startsWith(QLatin1String("--")) || !file.isEmpty()) {
            return usage(kHistoryHelp);
        } else {
            file = a;
        }
    }
    if (file.isEmpty() || (filter.asset.isEmpty() && args.contains(QLatin1String("--asset")))) {
        return usage(kHistoryHelp);
    }
    try {
        Connection c;
        c.openFile(file, QString::fromLatin1(kDefaultFilePassword), false);
        c.engine().refuseChanges();
        if (!c.keepsHistory()) {
            complain(QStringLiteral("%1: the register is of schema version %2 and keeps no history yet; the program "
                                    "starts it when it next opens the register")
                         .arg(file)
                         .arg(c.schemaVersion()));
            return 0;
        }
        const std::vector<HistoryEntry> entries = readHistory(c, filter);
        QFile out;
        if (!out.open(stdout, QIODevice::WriteOnly)) {
            complain(QStringLiteral("standard output cannot be written: %1").arg(out.errorString()));
            return 1;
        }
        QString text;
        if (csv) {
            text = csvRecord({QStringLiteral("Entry"), QStringLiteral("When"), QStringLiteral("Who"),
                              QStringLiteral("Table"), QStringLiteral("Subject"), QStringLiteral("Action"),
                              QStringLiteral("Column"), QStringLiteral("Before"), QStringLiteral("After")});
        }
        for (const HistoryEntry& e : entries) {
            std::vector<HistoryChange> changes = decodeHistoryChanges(e.changes);
            if (csv) {
                // An entry that changed no column (a row added empty) still has its record.
                if (changes.empty()) {
                    changes.push_back({QString(), QString(), QString()});
                }
                // A spreadsheet would run a text starting with = + - @ as a formula: it gets an apostrophe.
                // An empty value is an empty field.
                const auto safe = [](const QString& t) {
                    return t.isEmpty() ? QString() : needsApostrophe(t) ? QLatin1Char('\'') + t : t;
                };
                for (const HistoryChange& change : changes) {
                    text += csvRecord({QString::number(e.number), e.when, safe(e.who), e.table, safe(e.subject),
                                       e.action, change.column, safe(change.before), safe(change.after)});
                }
            } else {
                // An entry is a line and each change a line below it (oneLine).
                text += QStringLiteral("%1  %2 UTC  %3  %4  %5\n")
                            .arg(QString::number(e.number), e.when, oneLine(e.who), oneLine(e.subject), e.action);
                for (const HistoryChange& change : changes) {
                    text += QStringLiteral("    ") + oneLine(describeHistoryChange(change)) + QLatin1Char('\n');
                }
            }
            if (text.size() > 65536) {
                if (out.write(text.toUtf8()) < 0) {
                    break;
                }
                text.clear();
            }
        }
        if (out.write(text.toUtf8()) < 0 || !out.flush()) {
            complain(QStringLiteral("standard output cannot be written: %1").arg(out.errorString()));
            return 1;
        }
    } catch (const VantrelError& e) {
        complain(e.text());
        return 1;
    }
    return 0;
}

// A text cell of a CSV record, guarded as export guards it: a spreadsheet would run a text starting with = + - @
// as a formula. Numbers are never marked.
QString csvCell(const QVariant& value) {
    if (value.typeId() != QMetaType::QString) {
        return value.isNull() ? QString() : value.toString();
    }
    const QString text = value.toString();
    return needsApostrophe(text) ? QLatin1Char('\'') + text : text;
}

// Writes rows as CSV, or as text with a tab between the values; false when standard output cannot be written.
bool writeTable(const QStringList& titles, const std::vector<std::vector<QVariant>>& rows, bool csv) {
    QFile out;
    if (!out.open(stdout, QIODevice::WriteOnly)) {
        return false;
    }
    QString text = csv ? csvRecord(titles) : titles.join(QLatin1Char('\t')) + QLatin1Char('\n');
    for (const std::vector<QVariant>& row : rows) {
        QStringList cells;
        for (const QVariant& v : row) {
            cells << (csv ? csvCell(v) : oneLine(v.toString()));
        }
        text += csv ? csvRecord(cells) : cells.join(QLatin1Char('\t')) + QLatin1Char('\n');
    }
    return out.write(text.toUtf8()) >= 0 && out.flush();
}

// The rows of one of t's lists, with the titles of its columns.
std::vector<std::vector<QVariant>> stockTakeRows(const Connection& c, const StockTake& t, StockTakeList list,
                                                 QStringList& titles) {
    Statement s(c, stockTakeListSql(c, t, list));
    std::vector<std::vector<QVariant>> rows;
    while (s.step()) {
        std::vector<QVariant>& row = rows.emplace_back();
        for (int i = 0; i < s.columnCount(); ++i) {
            row.push_back(s.column(i));
        }
    }
    for (int i = 0; i < s.columnCount(); ++i) {
        titles << registerName(s.columnName(i));
    }
    return rows;
}

// A stock-take's counts as rows of what and how many.
std::vector<std::vector<QVariant>> stockTakeCounts(const Connection& c, const StockTake& t) {
    StockTakeCounts n = countScans(c, t);
    n.expected = countExpected(c, t);
    QStringList titles;
    const auto missing = static_cast<long long>(stockTakeRows(c, t, StockTakeList::Missing, titles).size());
    const std::pair<const char*, long long> counts[] = {
        {"expected", n.expected},      {"found", n.found},
        {"missing", missing},          {"recorded elsewhere", n.elsewhere},
        {"written off", n.writtenOff}, {"not expected", n.notExpected},
        {"unknown", n.unknown},        {"scanned again", n.repeats}};
    std::vector<std::vector<QVariant>> rows;
    for (const auto& [what, count] : counts) {
        rows.push_back({QString::fromLatin1(what), count});
    }
    return rows;
}

int stockTakeCommand(const QStringList& args) {
    if (helpAsked(args, kStockTakeHelp)) {
        return 0;
    }
    QStringList words;
    bool csv = false;
    std::optional<StockTakeList> list;
    for (const QString& a : args) {
        const std::optional<StockTakeList> asked = a == QLatin1String("--missing") ? StockTakeList::Missing
                                                   : a == QLatin1String("--found") ? StockTakeList::Found
                                                   : a == QLatin1String("--unknown")
                                                       ? std::optional<StockTakeList>(StockTakeList::Unknown)
                                                       : std::nullopt;
        if (a == QLatin1String("--csv")) {
            csv = true;
        } else if (asked && !list) {
            list = asked;
        } else if (a.startsWith(QLatin1String("--"))) {
            return usage(kStockTakeHelp);
        } else {
            words << a;
        }
    }
    const bool listing = words.size() == 2 && words[1] == QLatin1String("list") && !list;
    const bool showing = words.size() == 3 && words[1] == QLatin1String("show");
    if (!listing && !showing) {
        return usage(kStockTakeHelp);
    }
    const QString& file = words[0];
    try {
        Connection c;
        c.openFile(file, QString::fromLatin1(kDefaultFilePassword), false);
        c.engine().refuseChanges();
        if (c.schemaVersion() < 3) {
            complain(QStringLiteral("%1: the register is of schema version %2 and keeps no stock-takes yet; the "
                                    "program brings it up to date when it next opens it")
                         .arg(file)
                         .arg(c.schemaVersion()));
            return listing ? 0 : 1;
        }
        QStringList titles;
        std::vector<std::vector<QVariant>> rows;
        if (listing) {
            titles =
                QStringList{QStringLiteral("Name"),        QStringLiteral("State"),      QStringLiteral("Location"),
                            QStringLiteral("Groups"),      QStringLiteral("StartedUTC"), QStringLiteral("StartedBy"),
                            QStringLiteral("ClosedUTC"),   QStringLiteral("ClosedBy"),   QStringLiteral("Expected"),
                            QStringLiteral("Found"),       QStringLiteral("Elsewhere"),  QStringLiteral("WrittenOff"),
                            QStringLiteral("NotExpected"), QStringLiteral("Unknown"),    QStringLiteral("Repeats")};
            for (const StockTake& t : stockTakes(c, false)) {
                const StockTakeCounts n = countScans(c, t);
                rows.push_back({t.name, t.isOpen() ? QStringLiteral("open") : QStringLiteral("closed"), t.location,
                                t.groups.join(QLatin1Char(',')), t.startedAt, t.startedBy, t.closedAt, t.closedBy,
                                countExpected(c, t), n.found, n.elsewhere, n.writtenOff, n.notExpected, n.unknown,
                                n.repeats});
            }
        } else {
            const std::optional<StockTake> t = findStockTake(c, words[2]);
            if (!t) {
                complain(QStringLiteral("%1: there is no stock-take named '%2' (vnrdb stocktake %1 list names them)")
                             .arg(file, words[2]));
                return 1;
            }
            if (list) {
                rows = stockTakeRows(c, *t, *list, titles);
            } else {
                titles = QStringList{QStringLiteral("What"), QStringLiteral("Count")};
                rows = stockTakeCounts(c, *t);
                if (!csv) {
                    say(QStringLiteral("%1: %2, %3; started %4 UTC by %5%6")
                            .arg(t->name, t->location.isEmpty() ? QStringLiteral("any location") : t->location,
                                 t->groups.isEmpty() ? QStringLiteral("every group")
                                                     : QStringLiteral("groups ") + t->groups.join(QLatin1Char(',')),
                                 t->startedAt, t->startedBy,
                                 t->isOpen() ? QStringLiteral("; open")
                                             : QStringLiteral("; closed %1 UTC by %2").arg(t->closedAt, t->closedBy)));
                }
            }
        }
        if (!writeTable(titles, rows, csv)) {
            complain(QStringLiteral("standard output cannot be written"));
            return 1;
        }
    } catch (const VantrelError& e) {
        complain(e.text());
        return 1;
    }
    return 0;
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
        say(QStringLiteral("%1: copied to %2: %3 assets, %4 groups, %5 settings records, %6 history entries, %7 "
                           "stock-takes with %8 scans; digest %9 on both")
                .arg(args[0], args[1])
                .arg(s.assets)
                .arg(s.groups)
                .arg(s.settings)
                .arg(s.history)
                .arg(s.stockTakes)
                .arg(s.scans)
                .arg(QString::fromLatin1(s.digest)));
    } catch (const VantrelError& e) {
        complain(e.text());
        return 1;
    }
    return 0;
}

// Set by Ctrl+C while labels are drawn: the run stops after the page it is on and leaves no file.
std::atomic<bool> interrupted{false};

void onInterrupt(int) {
    interrupted = true;
}

// "WxH" in millimetres.
bool parseSize(const QString& text, QSizeF& size) {
    const QStringList parts = text.split(QLatin1Char('x'));
    bool w = false;
    bool h = false;
    if (parts.size() == 2) {
        size = QSizeF(parts[0].toDouble(&w), parts[1].toDouble(&h));
    }
    return w && h;
}

// The stock --custom describes; nullopt, with the problem, when it cannot be read.
std::optional<LabelStock> parseCustomStock(const QString& measures, QString& problem) {
    QSizeF page;
    QSizeF grid;
    QSizeF label;
    QSizeF gap(0, 0);
    std::optional<QSizeF> margin;
    bool havePage = false;
    bool haveGrid = false;
    bool haveLabel = false;
    for (const QString& part : measures.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        const QString key = part.section(QLatin1Char('='), 0, 0).trimmed().toLower();
        const QString value = part.section(QLatin1Char('='), 1).trimmed().toLower();
        bool ok = false;
        if (key == QLatin1String("page")) {
            if (value == QLatin1String("a4")) {
                page = QSizeF(210, 297);
                ok = true;
            } else if (value == QLatin1String("letter")) {
                page = QSizeF(215.9, 279.4);
                ok = true;
            } else {
                ok = parseSize(value, page);
            }
            havePage = ok;
        } else if (key == QLatin1String("grid")) {
            ok = haveGrid = parseSize(value, grid) && grid.width() == std::floor(grid.width()) &&
                            grid.height() == std::floor(grid.height());
        } else if (key == QLatin1String("label")) {
            ok = haveLabel = parseSize(value, label);
        } else if (key == QLatin1String("gap")) {
            ok = parseSize(value, gap);
        } else if (key == QLatin1String("margin")) {
            QSizeF m;
            ok = parseSize(value, m);
            margin = m;
        }
        if (!ok) {
            problem = QStringLiteral("--custom: '%1' is not page=WxH, grid=COLUMNSxROWS, label=WxH, gap=ACROSSxDOWN "
                                     "or margin=LEFTxTOP")
                          .arg(part);
            return std::nullopt;
        }
    }
    if (!havePage || !haveGrid || !haveLabel) {
        problem = QStringLiteral("--custom needs page=WxH, grid=COLUMNSxROWS and label=WxH");
        return std::nullopt;
    }
    const int columns = static_cast<int>(std::clamp(grid.width(), -1.0, 1000.0));
    const int rows = static_cast<int>(std::clamp(grid.height(), -1.0, 1000.0));
    const QSizeF m = margin ? *margin
                            : QSizeF(centredMargin(page.width(), columns, label.width(), gap.width()),
                                     centredMargin(page.height(), rows, label.height(), gap.height()));
    return customStock(page, columns, rows, label, gap.width(), gap.height(), m.width(), m.height());
}

int labelsCommand(const QStringList& args) {
    if (helpAsked(args, kLabelsHelp)) {
        return 0;
    }
    if (args.isEmpty() || args[0].startsWith(QLatin1String("--"))) {
        return usage(kLabelsHelp);
    }
    const QString file = args[0];
    QString to;
    QString choice;
    QString choiceValue;
    QString stockName;
    QString custom;
    QString length;
    LabelJob job;
    job.stock = *presetStock(QStringLiteral("a4-65"));
    const QStringList valued{QStringLiteral("--to"),    QStringLiteral("--ids"),    QStringLiteral("--added-since"),
                             QStringLiteral("--stock"), QStringLiteral("--custom"), QStringLiteral("--length"),
                             QStringLiteral("--start"), QStringLiteral("--copies"), QStringLiteral("--offset")};
    for (int i = 1; i < args.size(); ++i) {
        const QString& option = args[i];
        QString value;
        if (valued.contains(option)) {
            if (i + 1 >= args.size()) {
                return usage(kLabelsHelp);
            }
            value = args[++i];
        }
        bool ok = true;
        if (option == QLatin1String("--to")) {
            to = value;
        } else if (option == QLatin1String("--ids") || option == QLatin1String("--added-since") ||
                   option == QLatin1String("--all")) {
            if (!choice.isEmpty()) {
                complain(QStringLiteral("%1 and %2 do not go together: choose the assets one way").arg(choice, option));
                return 2;
            }
            choice = option;
            choiceValue = value;
        } else if (option == QLatin1String("--stock")) {
            stockName = value;
        } else if (option == QLatin1String("--custom")) {
            custom = value;
        } else if (option == QLatin1String("--length")) {
            length = value;
        } else if (option == QLatin1String("--start")) {
            job.start = value.toInt(&ok);
        } else if (option == QLatin1String("--copies")) {
            job.copies = value.toInt(&ok);
        } else if (option == QLatin1String("--offset")) {
            const QStringList xy = value.split(QLatin1Char(','));
            bool y = false;
            ok = xy.size() == 2;
            if (ok) {
                job.offset = QPointF(xy[0].toDouble(&ok), xy[1].toDouble(&y));
                ok = ok && y;
            }
        } else if (option == QLatin1String("--code128")) {
            job.content.code128 = true;
        } else if (option == QLatin1String("--company")) {
            job.content.company = true;
        } else if (option == QLatin1String("--group")) {
            job.content.group = true;
        } else if (option == QLatin1String("--description")) {
            job.content.description = true;
        } else if (option == QLatin1String("--check-date")) {
            job.content.lastCheck = true;
        } else if (option == QLatin1String("--outlines")) {
            job.outlines = true;
        } else {
            ok = false;
        }
        if (!ok) {
            return usage(kLabelsHelp);
        }
    }
    if (to.isEmpty() || choice.isEmpty()) {
        complain(to.isEmpty() ? QStringLiteral("--to OUT.pdf is needed")
                              : QStringLiteral("choose the assets: --ids, --added-since or --all"));
        return usage(kLabelsHelp);
    }
    if (!stockName.isEmpty() && !custom.isEmpty()) {
        complain(QStringLiteral("--stock and --custom do not go together"));
        return 2;
    }
    if (!stockName.isEmpty()) {
        const std::optional<LabelStock> preset = presetStock(stockName);
        if (!preset) {
            complain(QStringLiteral("there is no stock named '%1' (vnrdb labels --help lists them)").arg(stockName));
            return 2;
        }
        job.stock = *preset;
    }
    if (!length.isEmpty()) {
        bool ok = false;
        const double mm = length.toDouble(&ok);
        if (!ok || !job.stock.tape) {
            complain(ok ? QStringLiteral("--length is for the tape, tape-62")
                        : QStringLiteral("--length %1: not a number of millimetres").arg(length));
            return 2;
        }
        job.stock = tapeStock(mm);
    }
    if (!custom.isEmpty()) {
        QString problem;
        const std::optional<LabelStock> stock = parseCustomStock(custom, problem);
        if (!stock) {
            complain(problem);
            return 2;
        }
        job.stock = *stock;
    }
    QDate since;
    if (choice == QLatin1String("--added-since")) {
        since = QDate::fromString(choiceValue, Qt::ISODate);
        if (!since.isValid()) {
            complain(QStringLiteral("--added-since %1: not a date of the form yyyy-mm-dd").arg(choiceValue));
            return 2;
        }
    }
    if (QFileInfo::exists(to) || QFileInfo(to).isSymLink()) {
        complain(QStringLiteral("The file '%1' already exists; it is never written over.").arg(to));
        return 1;
    }

    try {
        Connection c;
        c.openFile(file, QString::fromLatin1(kDefaultFilePassword), false);
        c.engine().refuseChanges();
        job.company = labelCompanyName(c);
        std::vector<LabelAsset> assets;
        QStringList unknown;
        if (choice == QLatin1String("--ids")) {
            assets = labelAssetsByIds(c, splitIdentifiers(choiceValue), unknown);
        } else if (choice == QLatin1String("--added-since")) {
            assets = labelAssetsPurchasedSince(c, since);
        } else {
            assets = allLabelAssets(c);
        }
        c.close();
        QStringList problems;
        for (const QString& id : unknown) {
            problems << QStringLiteral("No asset has the identifier '%1'.").arg(id);
        }
        const LabelSheet sheet(job, std::move(assets));
        problems << sheet.problems();
        if (!problems.isEmpty()) {
            for (const QString& problem : problems) {
                complain(problem);
            }
            complain(QStringLiteral("%1: no labels printed; %2 not written").arg(file, to));
            return 1;
        }
        for (const QString& note : sheet.notes()) {
            complain(note);
        }

        PartialFile partial(temporaryNameBeside(to));
        QSaveFile out(partial.path());
        if (!out.open(QIODevice::WriteOnly)) {
            throw DatabaseError(QStringLiteral("The file '%1' cannot be made: %2").arg(to, out.errorString()));
        }
        QPdfWriter pdf(&out);
        pdf.setCreator(QStringLiteral("Vantrel"));
        pdf.setTitle(QStringLiteral("Labels"));
        // Progress once a second on a terminal; Ctrl+C stops at the end of a page.
        const bool terminal = ::isatty(STDERR_FILENO) != 0;
        QElapsedTimer clock;
        clock.start();
        qint64 shown = 0;
        std::signal(SIGINT, onInterrupt);
        std::signal(SIGTERM, onInterrupt);
        const bool done = sheet.print(pdf, [&](int page, int pages) {
            if (terminal && clock.elapsed() - shown >= 1000) {
                shown = clock.elapsed();
                std::fprintf(stderr, "\rvnrdb: page %d of %d", page, pages);
            }
            return !interrupted;
        });
        std::signal(SIGINT, SIG_DFL);
        std::signal(SIGTERM, SIG_DFL);
        if (terminal && shown > 0) {
            std::fputs("\n", stderr);
        }
        if (!done) {
            out.cancelWriting();
            complain(QStringLiteral("stopped; %1 not written").arg(to));
            return 1;
        }
        if (!out.commit()) {
            throw DatabaseError(QStringLiteral("The file '%1' could not be written: %2").arg(to, out.errorString()));
        }
        partial.placeAt(to);
        say(QStringLiteral("%1: %2 labels of %3 assets on %4 pages of %5 written to %6")
                .arg(file)
                .arg(sheet.labelCount())
                .arg(sheet.labelCount() / job.copies)
                .arg(sheet.pageCount())
                .arg(job.stock.name, to));
    } catch (const VantrelError& e) {
        complain(e.text());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    // Labels are drawn with Qt's fonts and PDF writer, which need a graphical application; never a display,
    // as nothing is shown: the offscreen platform serves, unless another is asked for.
    if (argc > 1 && std::string_view(argv[1]) == "labels") {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
        }
        // Qt's own notes (no runtime folder, a font substituted) are no business of this command's user.
        qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
            if (type == QtCriticalMsg || type == QtFatalMsg) {
                std::fprintf(stderr, "vnrdb: %s\n", qPrintable(message));
            }
        });
        QGuiApplication app(argc, argv);
        return labelsCommand(QCoreApplication::arguments().mid(2));
    }
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
    if (command == QLatin1String("history")) {
        return historyCommand(args.mid(1));
    }
    if (command == QLatin1String("stocktake")) {
        return stockTakeCommand(args.mid(1));
    }
    if (command == QLatin1String("--version") && args.size() == 1) {
        std::fputs("vnrdb " VANTREL_VERSION "\n", stdout);
        return 0;
    }
    const bool helpAsked = command == QLatin1String("--help") && args.size() == 1;
    std::fputs(
        "usage: vnrdb create|check|export|import|backup|copy|history|labels|stocktake ... (vnrdb COMMAND --help says "
        "more)\n"
        "       vnrdb --version\n",
        helpAsked ? stdout : stderr);
    return helpAsked ? 0 : 2;
}
