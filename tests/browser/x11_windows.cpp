// The program on a real X server with a window manager, read back from the window system as a person meets
// it: every caption as _NET_WM_NAME holds it, the focus as real Tab presses move it, where the dialogs open
// each time they are shown, and how small the main window can be made.
#include "app/logon.h"
#include "browser/main.h"
#include "config/cfg.h"
#include "labels/labelswindow.h"
#include "program/startup.h"
#include "records/assdet.h"
#include "records/writeoff.h"
#include "tests/support/appfixture.h"
#include "tests/support/childprocess.h"
#include "tests/support/guitest.h"
#include "widgets/dbcontrols.h"
#include "widgets/dbgrid.h"
#include "widgets/dialogs.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScreen>
#include <QStandardPaths>
#include <QTimer>
#include <QToolButton>
#include <QtTest>
#include <cstdio>
#include <functional>
#include <optional>
#include <poll.h>

namespace {

// Runs a command-line tool; its standard output, or nothing when it could not be run or failed.
std::optional<QString> run(const QString& program, const QStringList& arguments) {
    QProcess p;
    p.start(program, arguments);
    if (!p.waitForFinished(10000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
        qWarning().noquote() << program << arguments.join(QLatin1Char(' ')) << "failed:" << p.errorString()
                             << QString::fromLocal8Bit(p.readAllStandardError());
        return std::nullopt;
    }
    return QString::fromUtf8(p.readAllStandardOutput());
}

// A window's caption as the window system holds it for the window manager: its _NET_WM_NAME.
QString netWmName(const QWidget& w) {
    const QString out = run(QStringLiteral("xprop"),
                            {QStringLiteral("-id"), QString::number(w.winId()), QStringLiteral("_NET_WM_NAME")})
                            .value_or(QString());
    const qsizetype first = out.indexOf(QLatin1Char('"'));
    const qsizetype last = out.lastIndexOf(QLatin1Char('"'));
    if (first < 0 || last <= first) {
        return QStringLiteral("<no _NET_WM_NAME: %1>").arg(out.trimmed());
    }
    QString text = out.mid(first + 1, last - first - 1);
    text.replace(QStringLiteral("\\\""), QStringLiteral("\""));
    text.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
    return text;
}

// Where the window system shows a window's client area, in screen coordinates.
QRect shownGeometry(const QWidget& w) {
    const QString out =
        run(QStringLiteral("xwininfo"), {QStringLiteral("-id"), QString::number(w.winId())}).value_or(QString());
    auto number = [&out](const char* label) {
        const QRegularExpression re(QString::fromLatin1(label) + QStringLiteral(":\\s*(-?\\d+)"));
        const QRegularExpressionMatch m = re.match(out);
        return m.hasMatch() ? m.captured(1).toInt() : -1;
    };
    return QRect(number("Absolute upper-left X"), number("Absolute upper-left Y"), number("Width"), number("Height"));
}

// Presses a key through the X server, as a keyboard does; key in xdotool's names ("Tab", "shift+Tab").
void pressKey(const QString& key) {
    QVERIFY2(run(QStringLiteral("xdotool"), {QStringLiteral("key"), key}), "xdotool could not press a key");
}

QString focusName() {
    const QWidget* w = QApplication::focusWidget();
    return w ? w->objectName() : QStringLiteral("<none>");
}

// Runs check on the next modal window once the window system shows it, then closes it as Cancel or Escape
// would. A window that does not appear within ten seconds fails the test rather than hanging it.
class ModalWatch : public QObject {
public:
    explicit ModalWatch(std::function<void(QWidget&)> check) : check_(std::move(check)) {
        connect(&poll_, &QTimer::timeout, this, &ModalWatch::look);
        poll_.start(20);
        waited_.start();
    }
    bool seen() const { return seen_; }

private:
    void look() {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal && modal->isVisible() && modal->windowHandle() && modal->windowHandle()->isExposed()) {
            poll_.stop();
            seen_ = true;
            check_(*modal);
            if (auto* d = qobject_cast<QDialog*>(modal); d && d->isVisible()) {
                d->reject();
            }
        } else if (waited_.elapsed() > 10000) {
            poll_.stop();
            if (modal) {
                modal->close();
            }
        }
    }

    std::function<void(QWidget&)> check_;
    QTimer poll_;
    QElapsedTimer waited_;
    bool seen_ = false;
};

// Where r lies and its size, as "x,y wxh".
QString describe(const QRect& r) {
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// The caption of the modal window that show opens, as the window system holds it.
QString captionOfModal(const std::function<void()>& show) {
    QString caption = QStringLiteral("<no window shown>");
    ModalWatch watch([&caption](QWidget& w) { caption = netWmName(w); });
    show();
    return caption;
}

} // namespace

class TestX11Windows : public QObject {
    Q_OBJECT

    std::unique_ptr<AppFixture> f;
    Tmainfrm* w = nullptr;

    // Starts the program on a register of ten assets and shows the main window as the event loop would.
    void start() {
        f = std::make_unique<AppFixture>();
        f->reg().exec(QStringLiteral("UPDATE System SET DataBasePassword = 'Secret', CompanyAbbr = 'KLT'"));
        f->reg().exec(QStringLiteral("INSERT INTO Groups VALUES ('1', 'Computers')"));
        for (int i = 1; i <= 10; ++i) {
            f->reg().addAsset(QStringLiteral("KLT1%1").arg(i, 3, 10, QLatin1Char('0')), QStringLiteral("1"),
                              QStringLiteral("Description, WrittenOffBy"), QStringLiteral("'Item %1', 'Ann'").arg(i));
        }
        QCOMPARE(f->start(), std::nullopt);
        w = f->app().mainfrm.get();
        w->show();
        w->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w));
    }

private slots:
    void initTestCase() {
        QVERIFY2(QGuiApplication::platformName() == QStringLiteral("xcb"), "these tests need the X server");
        for (const char* tool : {"xprop", "xwininfo", "xdotool"}) {
            QVERIFY2(!QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty(),
                     qPrintable(QStringLiteral("%1 is not installed (Debian packages x11-utils, xdotool)")
                                    .arg(QString::fromLatin1(tool))));
        }
    }

    void cleanup() {
        w = nullptr;
        f.reset();
    }

    // Each caption exactly as the program names it, with nothing appended by the toolkit.
    void captionsAreTheProgramsOwn() {
        start();
        QCOMPARE(netWmName(*w), QStringLiteral("Vantrel (Read Only Mode) "));
        Startup& app = f->app();
        QCOMPARE(captionOfModal([] { Dialogs::askYesNo(QStringLiteral("Add another?")); }), QStringLiteral("Question"));
        QCOMPARE(captionOfModal([] { Dialogs::showMessage(QStringLiteral("A notice")); }), QStringLiteral("Vantrel"));
        QCOMPARE(captionOfModal([] { Dialogs::showError(QStringLiteral("An error")); }), QStringLiteral("Vantrel"));
        QCOMPARE(captionOfModal([&app] { Dialogs::showModal(*app.writeofffrm); }), QStringLiteral("Write Off Asset"));
        QCOMPARE(captionOfModal([&app] { Dialogs::showModal(*app.cfgFrm); }), QStringLiteral("Configuration"));

        // The password window, and the main window's caption once the password is given.
        QString security;
        ModalWatch watch([&security](QWidget& d) {
            security = netWmName(d);
            auto* edit = d.findChild<QLineEdit*>(QStringLiteral("Password"));
            edit->setText(QStringLiteral("secret"));
            d.findChild<QPushButton*>(QStringLiteral("BitBtn1"))->click();
        });
        QVERIFY(app.logonfrm->PasswordGiven());
        QCOMPARE(security, QStringLiteral("Security"));
        QTRY_COMPARE(netWmName(*w), QStringLiteral("Vantrel"));
        cleanup();

        // A register that cannot be opened at start.
        AppFixture broken;
        QVERIFY(QFile::remove(broken.reg().path()));
        std::optional<int> code;
        QCOMPARE(captionOfModal([&broken, &code] { code = broken.start(); }), QStringLiteral("Application Error"));
        QCOMPARE(code, std::optional<int>(1));
    }

    // Two program windows on one register: the second (another process) saves an asset through its edit
    // window, and the first paints the new value in that asset's row by itself. No other row's pixels change,
    // the current row's highlight included: nothing moves, nothing flickers into another state. With
    // VANTREL_SCREENSHOT set, the screen with both windows is written there.
    void anotherProgramsSaveIsPaintedWithoutASearch() {
        start();
        w->move(0, 0);
        TDBGrid& grid = *w->DBGrid1;
        QWidget* port = grid.viewport();
        const auto grab = [&] {
            const QPoint at = port->mapToGlobal(QPoint(0, 0));
            return QGuiApplication::primaryScreen()
                ->grabWindow(0, at.x(), at.y(), port->width(), port->height())
                .toImage();
        };
        const auto rowBand = [&](int row) {
            return QRect(0, grid.rowViewportPosition(row), port->width(), grid.rowHeight(row));
        };
        QTest::qWait(300);
        const QImage before = grab();
        QProcess other;
        startChild(other, QStringLiteral("other program"), {f->reg().folder(), f->programFile()}, false,
                   f->reg().folder());
        QByteArray said;
        QTRY_VERIFY2_WITH_TIMEOUT((said += other.readAllStandardOutput()).contains("saved"),
                                  other.readAllStandardError().constData(), 20000);
        QTRY_VERIFY_WITH_TIMEOUT(grab().copy(rowBand(2)) != before.copy(rowBand(2)), 5000);
        QTest::qWait(300);
        const QImage after = grab();
        if (const QString shot = qEnvironmentVariable("VANTREL_SCREENSHOT"); !shot.isEmpty()) {
            QGuiApplication::primaryScreen()->grabWindow(0).save(shot);
        }
        other.write("done\n");
        QVERIFY(other.waitForFinished(10000));
        QCOMPARE(other.exitCode(), 0);
        QCOMPARE(grid.model()->index(2, 4).data().toString(), QStringLiteral("Changed elsewhere"));
        QCOMPARE(w->data.mainquery.recNo(), 0);
        for (int row = 0; row < 10; ++row) {
            if (row != 2) {
                QVERIFY2(after.copy(rowBand(row)) == before.copy(rowBand(row)), qPrintable(QString::number(row)));
            }
        }
    }

    void tabGoesThroughPanelListAndToolbar_data() {
        QTest::addColumn<QString>("searchField");
        QTest::newRow("Asset ID chosen") << "assetid";
        QTest::newRow("Description chosen") << "description";
        QTest::newRow("Supplier chosen") << "supplier";
    }
    // Tab visits the search panel's controls (of the search fields, the chosen one), the list and the
    // toolbar, in that order, and round again; passing through the list leaves its current asset alone.
    // Shift+Tab goes back from the list to the panel, and the arrow keys, End and Home move between assets.
    void tabGoesThroughPanelListAndToolbar() {
        QFETCH(QString, searchField);
        start();
        // A search field is chosen with the mouse; at start Asset ID is chosen and none has been clicked.
        if (searchField != QStringLiteral("assetid")) {
            auto* field = w->findChild<QRadioButton*>(searchField);
            QTest::mouseClick(field, Qt::LeftButton, {}, QPoint(8, field->height() / 2));
            QVERIFY(field->isChecked());
        }
        w->details->setFocus(Qt::OtherFocusReason);
        QTRY_COMPARE(focusName(), QStringLiteral("details"));
        Dataset& list = w->data.mainquery;
        list.moveTo(2);
        const QStringList order{searchField,   "incWriteOff", "DBGrid1",     "ToolButton1",  "ToolButton2",
                                "ToolButton3", "ToolButton4", "ToolButton7", "labelsButton", "stockTakeButton",
                                "ToolButton5", "ToolButton6", "details"};
        for (const QString& next : order) {
            pressKey(QStringLiteral("Tab"));
            QTRY_COMPARE(focusName(), next);
            QCOMPARE(list.recNo(), 2);
        }
        // Back into the list from the toolbar, and on back to the panel.
        w->ToolButton1->setFocus(Qt::OtherFocusReason);
        QTRY_COMPARE(focusName(), QStringLiteral("ToolButton1"));
        pressKey(QStringLiteral("shift+Tab"));
        QTRY_COMPARE(focusName(), QStringLiteral("DBGrid1"));
        const struct {
            const char* key;
            int row;
        } moves[] = {{"Down", 3}, {"Up", 2}, {"End", 9}, {"Home", 0}, {"Page_Down", -1}};
        for (const auto& move : moves) {
            pressKey(QString::fromLatin1(move.key));
            if (move.row >= 0) {
                QTRY_COMPARE(list.recNo(), move.row);
            } else {
                QTRY_VERIFY(list.recNo() > 0);
            }
        }
        pressKey(QStringLiteral("shift+Tab"));
        QTRY_COMPARE(focusName(), QStringLiteral("incWriteOff"));
    }

    // Each dialog opens in the same place every time: centred over the main window, or on the screen for
    // the password window.
    void dialogsOpenCentredEveryTime() {
        start();
        Startup& app = f->app();
        const QRect main = shownGeometry(*w);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        const struct {
            QDialog* dialog;
            QPoint centre;
        } dialogs[] = {{app.writeofffrm, main.center()},
                       {app.cfgFrm, main.center()},
                       {app.labelsWindow, main.center()},
                       {app.logonfrm.get(), screen.center()}};
        for (const auto& d : dialogs) {
            QList<QRect> shown;
            for (int i = 0; i < 3; ++i) {
                ModalWatch watch([&shown](QWidget& dialog) {
                    QTest::qWait(150); // let the window manager finish placing it
                    shown << shownGeometry(dialog);
                });
                Dialogs::showModal(*d.dialog);
                QVERIFY(watch.seen());
            }
            const QString name = d.dialog->objectName();
            QVERIFY2(shown[1] == shown[0] && shown[2] == shown[0],
                     qPrintable(QStringLiteral("%1 opened at %2 then %3 then %4")
                                    .arg(name, describe(shown[0]), describe(shown[1]), describe(shown[2]))));
            const QPoint off = shown[0].center() - d.centre;
            QVERIFY2(std::abs(off.x()) <= 1 && std::abs(off.y()) <= 1,
                     qPrintable(QStringLiteral("%1 is %2,%3 off centre").arg(name).arg(off.x()).arg(off.y())));
        }
    }

    // However small a person drags it, the main window keeps its whole toolbar and search panel.
    void mainWindowKeepsToolbarAndSearchPanel() {
        start();
        QVERIFY(run(QStringLiteral("xdotool"), {QStringLiteral("windowsize"), QString::number(w->winId()),
                                                QStringLiteral("300"), QStringLiteral("150")}));
        QTest::qWait(300);
        const QRect shown = shownGeometry(*w);
        QTRY_COMPARE(w->size(), shown.size());
        QVERIFY2(shown.width() < 1127 || shown.height() < 508, "the window manager did not shrink the window");
        const QRect inside(QPoint(0, 0), shown.size());
        for (QWidget* part : {static_cast<QWidget*>(w->ToolBar1), static_cast<QWidget*>(w->Panel1),
                              static_cast<QWidget*>(w->ToolButton6), static_cast<QWidget*>(w->ToolButton5)}) {
            const QRect r(part->mapTo(w, QPoint(0, 0)), part->size());
            QVERIFY2(inside.contains(r), qPrintable(QStringLiteral("%1 at %2 is cut off in a %3x%4 window")
                                                        .arg(part->objectName(), describe(r))
                                                        .arg(shown.width())
                                                        .arg(shown.height())));
        }
        QVERIFY(w->DBGrid1->height() > 0);
    }
};

namespace {

// The second program of anotherProgramsSaveIsPaintedWithoutASearch, on the same display: its main window
// beside the first, then an asset's description changed through its edit window; it stays on screen until
// told to end.
int otherProgram() {
    const QStringList args = QCoreApplication::arguments();
    DialogScript::enable();
    QDir::setCurrent(args.value(1));
    Startup app;
    if (app.prepare(args.value(2), StartOptions{}) != std::nullopt) {
        return 2;
    }
    app.session.LoggedOn = true;
    Tmainfrm& main = *app.mainfrm;
    main.move(300, 420);
    main.show();
    if (!QTest::qWaitForWindowExposed(&main)) {
        return 3;
    }
    main.data.mainquery.moveTo(2);
    DialogScript::setNextModal([](QDialog& d) {
        auto& editor = static_cast<Tassdetfrm&>(d);
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        typeInto(editor.DBEdit5, QStringLiteral("Changed elsewhere"));
        editor.OKBTN->click();
    });
    main.ToolButton2->click();
    std::printf("saved\n");
    std::fflush(stdout);
    pollfd told{0, POLLIN, 0};
    while (::poll(&told, 1, 0) == 0) {
        QTest::qWait(50);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (isChildRun()) {
        return otherProgram();
    }
    TestX11Windows test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}
#include "x11_windows.moc"
