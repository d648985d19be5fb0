// Shared pieces of the benchmarks: demo registers of a given size, a median timer and the resident memory.
#pragma once

#include "data/schema.h"
#include "tools/demodata.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

namespace bench {

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
