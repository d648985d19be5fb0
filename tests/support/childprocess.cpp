// Children of a test program.
#include "tests/support/childprocess.h"

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QtDebug>
#include <cstdlib>
#include <grp.h>
#include <unistd.h>

namespace {

const char* const kChildVariable = "VANTREL_TEST_CHILD";

} // namespace

bool isChildRun() {
    return qEnvironmentVariableIsSet(kChildVariable);
}

QString childScenario() {
    return qEnvironmentVariable(kChildVariable);
}

void startChild(QProcess& child, const QString& scenario, const QStringList& args, bool asNobody, const QString& home) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QString::fromLatin1(kChildVariable), scenario);
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home);
    env.insert(QStringLiteral("HOME"), home);
    env.insert(QStringLiteral("TMPDIR"), home);
    child.setProcessEnvironment(env);
    if (asNobody) {
        child.setChildProcessModifier([] {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
                _exit(97);
            }
        });
    }
    child.setProgram(QCoreApplication::applicationFilePath());
    child.setArguments(args);
    child.start();
}

ChildResult finishChild(QProcess& child, int timeoutMilliseconds) {
    ChildResult result;
    if (!child.waitForFinished(timeoutMilliseconds)) {
        child.kill();
        child.waitForFinished();
    }
    result.exitCode = child.exitStatus() == QProcess::NormalExit ? child.exitCode() : -1;
    for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
        const qsizetype eq = line.indexOf('=');
        if (eq > 0) {
            const QString key = QString::fromUtf8(line.left(eq));
            const QString value = QString::fromUtf8(line.mid(eq + 1));
            result.values.insert(key, value);
            result.lines.insert(key, value);
        }
    }
    if (result.exitCode != 0) {
        qWarning().noquote() << child.readAllStandardError();
    }
    return result;
}

ChildResult runChildScenario(const QString& scenario, const QStringList& args, bool asNobody, const QString& home) {
    QProcess child;
    startChild(child, scenario, args, asNobody, home);
    return finishChild(child);
}

void sayToParent(const QString& line) {
    const QByteArray bytes = (line + QLatin1Char('\n')).toUtf8();
    for (qsizetype done = 0; done < bytes.size();) {
        const ssize_t n = ::write(1, bytes.constData() + done, static_cast<size_t>(bytes.size() - done));
        if (n <= 0) {
            std::_Exit(3);
        }
        done += n;
    }
}

void openToOthers(const QString& path, bool writable) {
    QFileDevice::Permissions p = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                                 QFileDevice::ReadGroup | QFileDevice::ExeGroup | QFileDevice::ReadOther |
                                 QFileDevice::ExeOther;
    if (writable) {
        p |= QFileDevice::WriteGroup | QFileDevice::WriteOther;
    }
    QFile::setPermissions(path, p);
}
