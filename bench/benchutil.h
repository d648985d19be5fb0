// Shared pieces of the benchmarks: demo registers of a given size, a median timer, a throw-away server cluster and
// the resident memory.
#pragma once

#include "data/connection.h"
#include "data/jetsql.h"
#include "data/schema.h"
#include "registertool/demodata.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryFile>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <sqlite3.h>
#include <vector>

namespace bench {

// Before the application object: windows draw offscreen unless a platform is named, and numbers and dates read
// as in the figures of the README, whatever the machine's locale.
inline void prepareApplication() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
}

// Milliseconds since t started.
inline double msSince(const QElapsedTimer& t) {
    return static_cast<double>(t.nsecsElapsed()) / 1e6;
}

// The report templates and logo as the source tree holds them.
inline QString reportsSource() {
    return QStringLiteral(VANTREL_SOURCE_DIR "/resources/reports");
}

// A program folder in folder, with the templates and logo copied into its reports folder; folder with a
// trailing separator, as the session keeps it.
inline QString programFolder(const QString& folder) {
    QDir(folder).mkpath(QStringLiteral("reports"));
    const QDir source(reportsSource());
    for (const QString& name : source.entryList(QDir::Files)) {
        QFile::copy(source.filePath(name), folder + QStringLiteral("/reports/") + name);
    }
    return folder + QDir::separator();
}

// A demo register of n assets in folder/<n>/vnrdata.mdb, made once and reused.
inline QString demoRegister(const QString& folder, int n) {
    const QString dir = folder + QStringLiteral("/%1").arg(n);
    QDir().mkpath(dir);
    const QString path = dir + QStringLiteral("/vnrdata.mdb");
    if (!QFile::exists(path)) {
        createRegister(path);
        DemoOptions o;
        o.assets = n;
        fillDemoRegister(path, o);
    }
    return path;
}

// The median of runs timings of work, in milliseconds.
inline double medianMs(int runs, const std::function<void()>& work) {
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer timer;
        timer.start();
        work();
        t.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// The raw engine's time for a statement: SQLite preparing the translated text and stepping every row.
inline double rawStepMs(const Connection& c, const QStringList& lines) {
    const std::string sql = translateJetSql(lines.join(QLatin1Char('\n'))).sql;
    return medianMs(7, [&] {
        sqlite3_stmt* s = nullptr;
        sqlite3_prepare_v2(c.handle(), sql.c_str(), -1, &s, nullptr);
        while (sqlite3_step(s) == SQLITE_ROW) {
        }
        sqlite3_finalize(s);
    });
}

// A throw-away PostgreSQL cluster on this machine for the length of the run (tools/pgcluster.sh), durable (every
// commit flushed to disk, as a real server keeps data) or as the tests run it; its address is empty when none
// could be started.
class Cluster {
public:
    explicit Cluster(bool durable = false) {
        file_.open();
        file_.close();
        QProcess start;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("PGCLUSTER_DURABLE"), durable ? QStringLiteral("1") : QStringLiteral("0"));
        start.setProcessEnvironment(env);
        start.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        start.start(QStringLiteral("bash"), {script(), QStringLiteral("start"), file_.fileName()});
        start.waitForFinished(120000);
        QFile f(file_.fileName());
        if (f.open(QIODevice::ReadOnly)) {
            address_ = QString::fromUtf8(f.readLine()).trimmed();
        }
    }
    ~Cluster() { QProcess::execute(QStringLiteral("bash"), {script(), QStringLiteral("stop"), file_.fileName()}); }
    Cluster(const Cluster&) = delete;
    Cluster& operator=(const Cluster&) = delete;
    const QString& address() const { return address_; }

private:
    // Beside this header in the source tree: the build reaches it through a link, which is followed.
    static QString script() {
        return QFileInfo(QFileInfo(QStringLiteral(__FILE__)).canonicalFilePath()).absolutePath() +
               QStringLiteral("/../tools/pgcluster.sh");
    }
    QTemporaryFile file_;
    QString address_;
};

// Resident memory of this process in MB.
inline double residentMb() {
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toDouble() * 4096.0 / (1024.0 * 1024.0) : -1;
}

} // namespace bench
