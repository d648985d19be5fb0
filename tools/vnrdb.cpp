// vnrdb: makes register files from the command line.
//   vnrdb create FILE               an empty register: the tables and one settings record
//   vnrdb create FILE --demo N      the same, filled with N demo assets over six groups
// It never writes over an existing file.
#include "data/errors.h"
#include "data/schema.h"
#include "tools/demodata.h"

#include <QCoreApplication>
#include <QStringList>
#include <cstdio>

namespace {

int usage() {
    std::fputs("usage: vnrdb create FILE [--demo N] [--seed S]\n", stderr);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments().mid(1);
    if (args.size() < 2 || args[0] != QLatin1String("create")) {
        return usage();
    }
    const QString file = args[1];
    int demo = -1;
    DemoOptions options;
    for (int i = 2; i < args.size(); ++i) {
        bool ok = false;
        if (args[i] == QLatin1String("--demo") && i + 1 < args.size()) {
            demo = args[++i].toInt(&ok);
        } else if (args[i] == QLatin1String("--seed") && i + 1 < args.size()) {
            options.seed = args[++i].toUInt(&ok);
        }
        if (!ok) {
            return usage();
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
    std::printf("%s: register made%s\n", qPrintable(file),
                demo >= 0 ? qPrintable(QStringLiteral(" with %1 demo assets").arg(demo)) : "");
    return 0;
}
