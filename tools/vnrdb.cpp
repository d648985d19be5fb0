// vnrdb: the register tool.
//   vnrdb create FILE [--demo N] [--seed S]   makes a register, empty or filled with N demo assets
//   vnrdb check FILE                          examines a register the way the program opens it, and more
// It never writes over an existing file, and check writes nothing. Exit codes: 0 done, 1 refused or a
// finding, 2 a usage error.
#include "data/connection.h"
#include "data/errors.h"
#include "data/schema.h"
#include "tools/demodata.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>

namespace {

const char* const kCreateHelp = "usage: vnrdb create FILE [--demo N] [--seed S]\n"
                                "Makes a new register FILE: the tables and one empty settings record; with --demo,\n"
                                "N demo assets over six groups (access password: demo), generated from seed S.\n"
                                "Never writes over an existing file.\n";
const char* const kCheckHelp = "usage: vnrdb check FILE\n"
                               "Examines the register FILE without changing it: the program's own opening checks,\n"
                               "every page (integrity_check), the schema version, and identifiers that differ only\n"
                               "in letter case. Prints one line per finding and a summary; exit code 1 when\n"
                               "anything is wrong.\n";

int usage(const char* help) {
    std::fputs(help, stderr);
    return 2;
}

void say(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
}

int create(const QStringList& args) {
    if (args.contains(QLatin1String("--help"))) {
        std::fputs(kCreateHelp, stdout);
        return 0;
    }
    if (args.isEmpty()) {
        return usage(kCreateHelp);
    }
    const QString file = args[0];
    int demo = -1;
    DemoOptions options;
    for (int i = 1; i < args.size(); ++i) {
        bool ok = false;
        if (args[i] == QLatin1String("--demo") && i + 1 < args.size()) {
            demo = args[++i].toInt(&ok);
        } else if (args[i] == QLatin1String("--seed") && i + 1 < args.size()) {
            options.seed = args[++i].toUInt(&ok);
        }
        if (!ok) {
            return usage(kCreateHelp);
        }
    }
    try {
        createRegister(file);
        if (demo >= 0) {
            options.assets = demo;
            fillDemoRegister(file, options);
        }
    } catch (const VantrelError& e) {
        std::fprintf(stderr, "vnrdb: %s\n", e.what());
        return 1;
    }
    say(QStringLiteral("%1: register made%2")
            .arg(file, demo >= 0 ? QStringLiteral(" with %1 demo assets").arg(demo) : QString()));
    return 0;
}

int check(const QStringList& args) {
    if (args.contains(QLatin1String("--help"))) {
        std::fputs(kCheckHelp, stdout);
        return 0;
    }
    if (args.size() != 1) {
        return usage(kCheckHelp);
    }
    const QString file = QFileInfo(args[0]).absoluteFilePath();
    int findings = 0;
    try {
        Connection c;
        c.openFile(file, QString::fromLatin1(kDefaultFilePassword), false);
        Statement integrity(c, "PRAGMA integrity_check(100)");
        while (integrity.step()) {
            const QString line = integrity.column(0).toString();
            if (line != QLatin1String("ok")) {
                say(QStringLiteral("%1: damaged: %2").arg(file, line));
                ++findings;
            }
        }
        Statement twins(c, "SELECT group_concat(ASSETID, ', ') FROM assets GROUP BY ASSETID COLLATE NOCASE "
                           "HAVING count(*) > 1");
        while (twins.step()) {
            say(QStringLiteral("%1: one identifier held by several assets: %2").arg(file, twins.column(0).toString()));
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
        for (const QString& problem : Connection::integrityProblems(file)) {
            say(QStringLiteral("%1: damaged: %2").arg(file, problem));
        }
        return 1;
    }
    return findings == 0 ? 0 : 1;
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
    std::fputs("usage: vnrdb create|check ... (vnrdb COMMAND --help says more)\n", stderr);
    return 2;
}
