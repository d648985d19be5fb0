// An office on one register: another program's saves show in the list by themselves, a save refused because
// of one shows what changed and keeps the typing, a register this user cannot write is said before any form
// is filled in, and ten programs adding and editing at once keep every save.
#include "browser/main.h"
#include "data/assetids.h"
#include "program/startup.h"
#include "records/assdet.h"
#include "records/saveconflict.h"
#include "tests/support/appfixture.h"
#include "tests/support/childprocess.h"
#include "tests/support/guitest.h"
#include "widgets/dbcontrols.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <ctime>
#include <map>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int kMakeColumn = 1; // of the main list

// A register of group 9 ("Tools") holding count assets KLT9001... made by "make 1"...
void fillRegister(TestRegister& reg, int count) {
    reg.exec(u"UPDATE System SET CompanyAbbr = 'KLT'"_s);
    reg.exec(u"INSERT INTO Groups VALUES ('9', 'Tools')"_s);
    reg.addAssets(u"ASSETID, ItemGroup, Make"_s, count, [](int i) {
        return QVariantList{assetIdFor(u"KLT9"_s, i), u"9"_s, u"make %1"_s.arg(i)};
    });
}

QString cell(const Tmainfrm& main, int row, int column, int role = Qt::DisplayRole) {
    return main.DBGrid1->model()->index(row, column).data(role).toString();
}

// The list's row showing the asset id; -1 when it shows none.
int rowOf(const Tmainfrm& main, const QString& id) {
    for (int row = 0; row < main.DBGrid1->model()->rowCount(); ++row) {
        if (cell(main, row, 0) == id) {
            return row;
        }
    }
    return -1;
}

int runChild(int argc, char** argv);

} // namespace

class TestSharing : public QObject {
    Q_OBJECT
    // The program started on a register of that many assets (fillRegister), the password given, its main
    // window shown.
    Tmainfrm& startShown(AppFixture& f, int assets) {
        fillRegister(f.reg(), assets);
        if (f.start() != std::nullopt) {
            qFatal("the program did not start");
        }
        f.app().session.LoggedOn = true;
        Tmainfrm& main = *f.app().mainfrm;
        main.show();
        if (!QTest::qWaitForWindowExposed(&main)) {
            qFatal("the main window was not shown");
        }
        return main;
    }

private slots:
    void initTestCase() { DialogScript::enable(); }
    void init() { DialogScript::reset(); }
    void cleanup() { QVERIFY(DialogScript::unexpectedModals().empty()); }

    // What another program saves shows in the rows the list holds, the current one included, without a
    // search: nothing moves, nothing is added; a deleted asset stays in its place struck through and cannot
    // be edited. Watching never holds up the program: while another program holds the register locked (a long
    // save), the idle program goes on answering at once, and shows the changes once the lock is gone.
    void othersChangesShowInTheList() {
        AppFixture f;
        Tmainfrm& main = startShown(f, 20);
        Dataset& list = main.data.mainquery;
        list.moveTo(3);
        QCOMPARE(cell(main, 1, kMakeColumn), u"make 2"_s);

        f.reg().exec(u"UPDATE assets SET Make = 'theirs' WHERE ASSETID IN ('KLT9002', 'KLT9004')"_s);
        f.reg().exec(u"DELETE FROM assets WHERE ASSETID = 'KLT9006'"_s);
        f.reg().lock();
        QElapsedTimer answered;
        answered.start();
        QTest::qWait(1000);
        const qint64 waited = answered.elapsed();
        f.reg().unlock();
        QVERIFY2(waited < 2500, qPrintable(u"the event loop was held up for %1 ms"_s.arg(waited)));
        QTRY_COMPARE_WITH_TIMEOUT(cell(main, 1, kMakeColumn), u"theirs"_s, 5000);
        QTRY_VERIFY(list.rowGone(5));
        QCOMPARE(list.recNo(), 3);
        QCOMPARE(list.fieldByName(u"Make"_s).asString(), u"theirs"_s);
        QCOMPARE(list.recordCount(), 20);
        QCOMPARE(cell(main, 5, 0), u"KLT9006"_s);
        QVERIFY(main.DBGrid1->model()->index(5, 0).data(Qt::FontRole).value<QFont>().strikeOut());
        QVERIFY(!main.DBGrid1->model()->index(4, 0).data(Qt::FontRole).value<QFont>().strikeOut());

        list.moveTo(5);
        main.ToolButton2->click();
        main.ToolButton3->click();
        QCOMPARE(messageTexts().size(), 2);
        for (const QString& refusal : messageTexts()) {
            QVERIFY2(refusal.startsWith(u"The asset 'KLT9006' was deleted by another program"_s), qPrintable(refusal));
        }
    }

    // OK refused because another program saved the asset meanwhile shows, field by field, what was read,
    // what is stored and what was typed, while the form keeps the typing. Keeping it saves the typed fields
    // over what is stored, and the other program's change of the fields not typed in stays; taking the
    // stored values shows them in the form and drops the typing.
    void aRefusedSaveShowsWhatChangedAndKeepsTheTyping_data() {
        QTest::addColumn<bool>("keep");
        QTest::newRow("keep my changes") << true;
        QTest::newRow("take stored values") << false;
    }
    void aRefusedSaveShowsWhatChangedAndKeepsTheTyping() {
        QFETCH(bool, keep);
        AppFixture f;
        Tmainfrm& main = startShown(f, 5);
        main.data.mainquery.moveTo(1);
        QStringList shown;
        drive<Tassdetfrm>([&](Tassdetfrm& d) {
            typeInto(d.DBEdit3, u"my model"_s);
            f.reg().exec(u"UPDATE assets SET Make = 'their make', Model = 'their model' WHERE ASSETID = 'KLT9002'"_s);
            f.reg().exec(u"UPDATE assets SET Make = 'seen' WHERE ASSETID = 'KLT9001'"_s);
            // Once the list has read the other program's save, the form still holds what was typed and read.
            QTRY_COMPARE_WITH_TIMEOUT(cell(main, 0, kMakeColumn), u"seen"_s, 5000);
            QCOMPARE(d.DBEdit3->currentText(), u"my model"_s);
            QCOMPARE(d.DBEdit2->currentText(), u"make 2"_s);
            drive<SaveConflictWindow>([&](SaveConflictWindow& w) {
                for (int row = 0; row < w.changesTable->rowCount(); ++row) {
                    QStringList cells;
                    for (int c = 0; c < w.changesTable->columnCount(); ++c) {
                        cells << w.changesTable->item(row, c)->text();
                    }
                    shown << cells.join(u'|');
                }
                (keep ? w.keepButton : w.takeButton)->click();
            });
            d.OKBTN->click();
            QVERIFY(d.isVisible() != keep);
            if (!keep) {
                QCOMPARE(d.DBEdit3->currentText(), u"their model"_s);
                QCOMPARE(d.DBEdit2->currentText(), u"their make"_s);
                d.BitBtn3->click();
            }
        });
        main.ToolButton2->click();
        QCOMPARE(shown, (QStringList{u"Make|make 2|their make|make 2"_s, u"Model||their model|my model"_s}));
        QCOMPARE(f.reg().text(u"SELECT Make || '/' || Model FROM assets WHERE ASSETID = 'KLT9002'"_s),
                 keep ? u"their make/my model"_s : u"their make/their model"_s);
        QCOMPARE(cell(main, 1, kMakeColumn), u"their make"_s);
        QVERIFY(messageTexts().isEmpty());
    }

    // A register file, or its folder, that this user cannot write: the caption says so from the start, and
    // every change command refuses before its window opens (the edit window at OK); made writable while the
    // program runs, the next change is saved. Run as the user nobody when the tests run as root, who may
    // write anything.
    void aReadOnlyRegisterIsSaidBeforeAnyFormAndMendedWhileRunning_data() {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("refusal");
        QTest::newRow("file") << u"file"_s << u"the file is read-only for you"_s;
        QTest::newRow("folder") << u"folder"_s << u"its folder is read-only for you"_s;
    }
    void aReadOnlyRegisterIsSaidBeforeAnyFormAndMendedWhileRunning() {
        if (testingOnServer()) {
            QSKIP("a server's rights are its login's, not a file's");
        }
        QFETCH(QString, what);
        QFETCH(QString, refusal);
        QTemporaryDir home;
        const bool root = geteuid() == 0;
        if (root) {
            QVERIFY(chown(QFile::encodeName(home.path()).constData(), 65534, 65534) == 0);
        }
        const ChildResult r = runChildScenario(u"readonly"_s, {what}, root, home.path());
        QCOMPARE(r.exitCode, 0);
        QCOMPARE(r.values.value(u"caption"_s), u"Vantrel (Read Only Mode) - the register is read-only for you"_s);
        QStringList messages = r.lines.values(u"message"_s);
        // Add, Write Off, Configuration and Edit's OK refused; after the mend, only the engrave question.
        QCOMPARE(
            messages.removeAll(u"Don't forget to engrave the item with 'KLT9002'. Do you want to add another item?"_s),
            1);
        QCOMPARE(messages.size(), 4);
        for (const QString& m : messages) {
            QVERIFY2(m.startsWith(u"The register '"_s) && m.contains(refusal) && m.contains(u"Ask whoever"_s),
                     qPrintable(m));
        }
        QCOMPARE(r.values.value(u"windowsOpened"_s), u"0"_s);
        QCOMPARE(r.values.value(u"mendedCaption"_s), u"Vantrel (Read Only Mode) "_s);
        QCOMPARE(r.values.value(u"savedAfterMend"_s), u"KLT9002"_s);
    }

    // Ten programs (processes) on one register add assets to one group and edit assets all of them show, on
    // a file or on a server. Afterwards no identifier is held twice, every save was kept or refused with a
    // clear message, and each program's list showed every other program's saves by itself.
    void tenProgramsShareOneRegister() {
        constexpr int kPrograms = 10;
        constexpr int kRounds = 3;
        TestRegister reg;
        fillRegister(reg, kPrograms + 1); // one asset each, and KLT9011 that all of them edit
        const QString programFolder = reg.folder() + u"/program"_s;
        QDir().mkpath(programFolder);
        makeProgramFolder(programFolder);
        std::vector<std::unique_ptr<QProcess>> programs;
        for (int k = 1; k <= kPrograms; ++k) {
            programs.push_back(std::make_unique<QProcess>());
            startChild(*programs.back(), u"desk"_s,
                       {reg.folder(), programFolder + u"/vantrel"_s, QString::number(k), QString::number(kPrograms),
                        QString::number(kRounds)},
                       false, reg.folder());
        }
        std::vector<ChildResult> results;
        for (auto& p : programs) {
            results.push_back(finishChild(*p, 240000));
            QCOMPARE(results.back().exitCode, 0);
        }

        QStringList added;
        QStringList refusals;
        std::map<QString, qint64> savedAt; // value -> when its program saved it
        for (const ChildResult& r : results) {
            added += r.lines.values(u"added"_s);
            refusals += r.lines.values(u"message"_s);
            for (const QString& s : r.lines.values(u"saved"_s)) {
                savedAt[s.section(u' ', 0, 0)] = s.section(u' ', 1).toLongLong();
            }
        }
        for (const QString& m : refusals) {
            QVERIFY2(m.contains(u"is locked by another program"_s), qPrintable(m));
        }
        QCOMPARE(added.size(), kPrograms * kRounds * 2);
        QCOMPARE(QSet<QString>(added.begin(), added.end()).size(), added.size());
        QCOMPARE(reg.count(u"SELECT count(*) FROM assets"_s), kPrograms + 1 + added.size());
        QCOMPARE(reg.count(u"SELECT count(DISTINCT lower(ASSETID)) FROM assets"_s), kPrograms + 1 + added.size());
        QCOMPARE(reg.count(u"SELECT count(*) FROM assets WHERE ItemGroup <> '9'"_s), 0);
        QCOMPARE(int(savedAt.size()), kPrograms * kRounds);
        QStringList late;
        for (int k = 1; k <= kPrograms; ++k) {
            const QString last = u"d%1r%2"_s.arg(k).arg(kRounds - 1);
            QCOMPARE(reg.text(u"SELECT Make FROM assets WHERE ASSETID = '%1'"_s.arg(assetIdFor(u"KLT9"_s, k))), last);
            // Every other program saw each of this one's saves, in time.
            for (int j = 1; j <= kPrograms; ++j) {
                if (j == k) {
                    continue;
                }
                QMap<QString, qint64> seen;
                for (const QString& s : results[static_cast<size_t>(j - 1)].lines.values(u"seen"_s)) {
                    seen.insert(s.section(u' ', 0, 0), s.section(u' ', 1).toLongLong());
                }
                for (int round = 0; round < kRounds; ++round) {
                    const QString value = u"d%1r%2"_s.arg(k).arg(round);
                    QVERIFY2(seen.contains(value), qPrintable(u"program %1 never showed %2"_s.arg(j).arg(value)));
                    const qint64 after = seen.value(value) - savedAt[value];
                    if (after > 2000) {
                        late << u"%1 in program %2 after %3 ms"_s.arg(value).arg(j).arg(after);
                    }
                }
            }
        }
        QVERIFY2(late.isEmpty(), qPrintable(late.join(u", "_s)));
        // The asset every program edited holds one of their saves, and each save either went in or met
        // another's and kept its typing over it.
        const QString shared = reg.text(u"SELECT Location FROM assets WHERE ASSETID = 'KLT9011'"_s);
        QVERIFY2(shared.startsWith(u"d"_s), qPrintable(shared));
    }
};

namespace {

// The same clock in every process of the machine.
qint64 monotonicMs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<qint64>(t.tv_sec) * 1000 + t.tv_nsec / 1000000;
}

void print(const QString& key, const QString& value) {
    QTextStream(stdout) << key << '=' << value << Qt::endl;
}

void printMessages() {
    for (const QString& m : messageTexts()) {
        print(u"message"_s, m);
    }
    DialogScript::clearMessages();
}

// A program on a register this user cannot write, as in aReadOnlyRegisterIsSaidBeforeAnyForm...
int readOnlyChild(const QString& what) {
    AppFixture f;
    fillRegister(f.reg(), 1);
    const QString target = what == u"file"_s ? f.reg().path() : f.reg().folder();
    const QFileDevice::Permissions before = QFile::permissions(target);
    QFile::setPermissions(target, before & ~(QFileDevice::WriteOwner | QFileDevice::WriteGroup |
                                             QFileDevice::WriteOther | QFileDevice::WriteUser));
    if (f.start() != std::nullopt) {
        return 2;
    }
    f.app().session.LoggedOn = true;
    Tmainfrm& main = *f.app().mainfrm;
    print(u"caption"_s, main.windowTitle());
    main.ToolButton1->click();
    main.ToolButton3->click();
    main.ToolButton5->click();
    print(u"windowsOpened"_s, QString::number(DialogScript::unexpectedModals().size()));
    // The edit window opens to be looked at; its OK refuses, and the typing stays.
    drive<Tassdetfrm>([](Tassdetfrm& d) {
        typeInto(d.DBEdit3, u"typed"_s);
        d.OKBTN->click();
        if (d.isVisible() && d.DBEdit3->currentText() == u"typed"_s) {
            d.BitBtn3->click();
        }
    });
    main.ToolButton2->click();
    printMessages();

    QFile::setPermissions(target, before);
    QElapsedTimer waited;
    waited.start();
    while (main.windowTitle() != main.caption() && waited.elapsed() < 5000) {
        QTest::qWait(20);
    }
    print(u"mendedCaption"_s, main.windowTitle());
    DialogScript::setNextAnswer(Answer::No);
    drive<Tassdetfrm>([](Tassdetfrm& d) { d.OKBTN->click(); });
    main.ToolButton1->click();
    print(u"savedAfterMend"_s, f.reg().text(u"SELECT max(ASSETID) FROM assets"_s));
    printMessages();
    return 0;
}

// One of the ten programs of tenProgramsShareOneRegister: program k adds two assets a round and saves
// d<k>r<round> as the make of its own asset and as the location of the asset they all edit, then watches
// its list for a while, printing when it first shows each other program's save.
int deskChild(const QStringList& args) {
    const QString folder = args.value(1);
    const int k = args.value(3).toInt();
    const int programs = args.value(4).toInt();
    const int rounds = args.value(5).toInt();
    QDir::setCurrent(folder);
    Startup app;
    if (app.prepare(args.value(2), StartOptions{}) != std::nullopt) {
        return 2;
    }
    app.session.LoggedOn = true;
    Tmainfrm& main = *app.mainfrm;
    main.show();
    // The list is looked at every few milliseconds, while this program adds and edits too.
    std::map<int, QString> shown; // program -> the make its asset shows
    QTimer look;
    QObject::connect(&look, &QTimer::timeout, [&] {
        for (int j = 1; j <= programs; ++j) {
            const int row = rowOf(main, assetIdFor(u"KLT9"_s, j));
            const QString make = row >= 0 ? cell(main, row, kMakeColumn) : QString();
            if (j != k && make != shown[j]) {
                shown[j] = make;
                print(u"seen"_s, make + u' ' + QString::number(monotonicMs()));
            }
        }
    });
    look.start(10);
    // Saves value into box of the asset id through the edit window; a save that meets another program's
    // keeps the typing over it.
    const auto edit = [&](const QString& id, TDBComboBox* Tassdetfrm::*box, const QString& value) {
        main.data.mainquery.moveTo(rowOf(main, id));
        drive<Tassdetfrm>([&](Tassdetfrm& d) {
            typeInto(d.*box, value);
            for (int attempt = 0; attempt < 5 && d.isVisible(); ++attempt) {
                if (attempt > 0) {
                    DialogScript::setNextModal([](QDialog& w) {
                        if (auto* conflict = qobject_cast<SaveConflictWindow*>(&w)) {
                            conflict->keepButton->click();
                        } else {
                            w.reject();
                        }
                    });
                }
                const size_t unexpected = DialogScript::unexpectedModals().size();
                d.OKBTN->click();
                if (DialogScript::unexpectedModals().size() == unexpected && d.isVisible()) {
                    break; // refused with a message
                }
            }
            if (d.isVisible()) {
                d.BitBtn3->click();
            }
        });
        main.ToolButton2->click();
    };
    for (int round = 0; round < rounds; ++round) {
        for (int i = 0; i < 2; ++i) {
            DialogScript::setNextAnswer(Answer::No);
            drive<Tassdetfrm>([](Tassdetfrm& d) {
                d.OKBTN->click();
                if (d.isVisible()) {
                    d.BitBtn3->click();
                }
            });
            main.ToolButton1->click();
            for (const QString& m : messageTexts()) {
                if (m.startsWith(u"Don't forget to engrave the item with '"_s)) {
                    print(u"added"_s, m.section(u'\'', 2, 2));
                } else {
                    print(u"message"_s, m);
                }
            }
            DialogScript::clearMessages();
        }
        const QString value = u"d%1r%2"_s.arg(k).arg(round);
        edit(assetIdFor(u"KLT9"_s, k), &Tassdetfrm::DBEdit2, value);
        if (messageTexts().isEmpty()) {
            print(u"saved"_s, value + u' ' + QString::number(monotonicMs()));
        }
        printMessages();
        edit(assetIdFor(u"KLT9"_s, programs + 1), &Tassdetfrm::DBComboBox1, value);
        printMessages();
        QTest::qWait(1500);
    }
    QTest::qWait(3000);
    return 0;
}

int runChild(int argc, char** argv) {
    QApplication app(argc, argv);
    DialogScript::enable();
    const QStringList args = QCoreApplication::arguments();
    if (childScenario() == u"readonly"_s) {
        return readOnlyChild(args.value(1));
    }
    return deskChild(args);
}

} // namespace

int main(int argc, char** argv) {
    if (isChildRun()) {
        return runChild(argc, argv);
    }
    QApplication app(argc, argv);
    TestSharing test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "tst_sharing.moc"
