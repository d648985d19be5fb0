// The configuration window on a real register: the settings record and the ten groups it writes, what
// Cancel and the close box leave alone, and OK after a refusal.
#include "app/logon.h"
#include "app/session.h"
#include "config/cfg.h"
#include "data/datamodule.h"
#include "tests/support/guitest.h"
#include "tests/support/testregister.h"
#include "widgets/dbcontrols.h"
#include "widgets/dialogs.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtTest>

using namespace Qt::StringLiterals;

class TestCfg : public QObject {
    Q_OBJECT

    Session session;
    std::unique_ptr<TestRegister> reg;
    std::unique_ptr<DataModule> dm;
    std::unique_ptr<TcfgFrm> w;

    void teardown() {
        w.reset();
        dm.reset();
        reg.reset();
    }

    void start() {
        dm = openDataModule(*reg);
        w = std::make_unique<TcfgFrm>(nullptr, *dm);
    }

    void showWith(std::function<void(TcfgFrm&)> driver) {
        drive<TcfgFrm>(driver);
        Dialogs::showModal(*w);
    }

    // The stored groups as "digit=description" in digit order.
    QString groups() {
        Statement rows(reg->side(), "SELECT GroupNumber || '=' || coalesce(Description, 'NULL') FROM Groups "
                                    "ORDER BY GroupNumber");
        QStringList found;
        while (rows.step()) {
            found << rows.column(0).toString();
        }
        return found.join(QLatin1Char(','));
    }
    QString settings() {
        return reg->text(
            QStringLiteral("SELECT coalesce(CompanyName, '') || '|' || coalesce(CompanyAbbr, '') || '|' "
                           "|| coalesce(DataBasePassword, '') || '|' || PromptPasswordToStart FROM System"));
    }

private slots:
    void initTestCase() { DialogScript::enable(); }
    void init() {
        teardown();
        DialogScript::reset();
        reg = std::make_unique<TestRegister>();
        reg->exec(QStringLiteral("UPDATE System SET CompanyName = 'Kivelor', CompanyAbbr = 'KLT', DataBasePassword = "
                                 "'old'"));
        session.LoggedOn = true;
    }
    void cleanup() {
        QVERIFY(DialogScript::unexpectedModals().empty());
        QCOMPARE(DialogScript::pendingScript(), 0);
        teardown();
    }

    // The check box's caption stands over two lines, and a click on it toggles the box and the setting as a
    // click on the box does; OK carries the 12 by 12 check mark.
    void promptCaptionOverTwoLinesTogglesTheBox() {
        start();
        QVERIFY(showsPicture(w->BitBtn1, u"okglyph.png"_s));
        showWith([](TcfgFrm& d) {
            auto* caption = d.findChild<QLabel*>(u"Label4"_s);
            QVERIFY(caption);
            QCOMPARE(caption->text(), "Prompt for password to open program.");
            QVERIFY(caption->isVisible());
            const QFontMetrics m(caption->font());
            const QRect text = m.boundingRect(caption->contentsRect(), Qt::TextWordWrap, caption->text());
            QCOMPARE(text.height() / m.lineSpacing(), 2);
            QVERIFY(caption->contentsRect().height() >= text.height());
            QVERIFY(!d.DBCheckBox1->isChecked());
            QTest::mouseClick(caption, Qt::LeftButton);
            QVERIFY(d.DBCheckBox1->isChecked());
            QCOMPARE(d.focusWidget(), d.DBCheckBox1);
            d.BitBtn1->click();
        });
        QCOMPARE(settings(), "Kivelor|KLT|old|1");
    }

    // Stored rows fill their edits; OK updates them in place, adds the missing digits and stores the settings.
    void partialGroupsAreCompleted() {
        reg->exec(u"INSERT INTO Groups VALUES ('5', 'Furniture'), ('2', 'Tools')"_s);
        start();
        showWith([](TcfgFrm& d) {
            QCOMPARE(d.Group2Name->text(), "Tools");
            QCOMPARE(d.Group5Name->text(), "Furniture");
            typeInto(d.Group2Name, u"Hand tools"_s);
            typeInto(d.Group7Name, u"Vehicles"_s);
            typeInto(d.Group5Name, QString());
            typeInto(d.DBEdit2, u"KV"_s);
            QTest::keyClick(d.DBCheckBox1, Qt::Key_Space);
            QTest::keyClick(d.Group0Name, Qt::Key_Return);
        });
        QCOMPARE(groups(), "0=,1=,2=Hand tools,3=,4=,5=,6=,7=Vehicles,8=,9=");
        QCOMPARE(reg->count(u"SELECT COUNT(*) FROM Groups"_s), 10LL);
        QCOMPARE(reg->count(u"SELECT min(rowid) FROM Groups WHERE GroupNumber = '5'"_s), 1LL);
        QCOMPARE(settings(), "Kivelor|KV|old|1");
    }

    void cancelKeepsWhatIsStored_data() { addClosingRows(); }
    // Nothing is written; at the next showing the settings and stored groups read afresh, while a digit with
    // no row keeps the unsaved text of its edit.
    void cancelKeepsWhatIsStored() {
        QFETCH(int, how);
        reg->exec(u"INSERT INTO Groups VALUES ('2', 'Tools')"_s);
        start();
        showWith([how](TcfgFrm& d) {
            typeInto(d.DBEdit1, u"Other Ltd"_s);
            typeInto(d.Group2Name, u"Spanners"_s);
            typeInto(d.Group4Name, u"Unsaved"_s);
            closeWithoutOk(d, d.BitBtn2, how);
        });
        QCOMPARE(settings(), "Kivelor|KLT|old|0");
        QCOMPARE(groups(), "2=Tools");
        showWith([](TcfgFrm& d) {
            QCOMPARE(d.DBEdit1->text(), "Kivelor");
            QCOMPARE(d.Group2Name->text(), "Tools");
            QCOMPARE(d.Group4Name->text(), "Unsaved");
            d.BitBtn2->click();
        });
        QCOMPARE(dm->SystemTable.state(), Dataset::State::Browse);
    }

    // On an empty register (no settings record, no groups) the window shows empty edits; OK with the
    // password typed makes the settings record and ten empty groups, and a later run asks for that password.
    void emptyRegisterAndTheNewPassword() {
        reg->exec(u"DELETE FROM System"_s);
        start();
        showWith([](TcfgFrm& d) {
            QCOMPARE(d.focusWidget(), d.DBEdit1);
            QVERIFY(d.DBEdit1->text().isEmpty() && d.DBEdit3->echoMode() == QLineEdit::Password);
            for (int g = 0; g < 10; ++g) {
                QVERIFY(d.groupEdit(g)->text().isEmpty());
            }
            typeInto(d.DBEdit3, u"New Pass"_s);
            d.BitBtn1->click();
        });
        QCOMPARE(w->result(), mrOk);
        QCOMPARE(settings(), "||New Pass|0");
        QCOMPARE(groups(), "0=,1=,2=,3=,4=,5=,6=,7=,8=,9=");

        DataModule later;
        later.ADOConnection1.openFile(reg->path(), u"kivelor"_s);
        later.SystemTable.open();
        session.LoggedOn = false;
        Tlogonfrm password(nullptr, later, session, [](const QString&) {});
        DialogScript::setNextModal([](QDialog& d) {
            auto& f = static_cast<Tlogonfrm&>(d);
            QTest::keyClicks(f.Password, u"old"_s);
            f.BitBtn1->click();
            QVERIFY(f.isVisible());
            f.Password->clear();
            QTest::keyClicks(f.Password, u"new pass"_s);
            f.BitBtn1->click();
        });
        QVERIFY(password.PasswordGiven());
        QCOMPARE(DialogScript::messages().back().text, "This password is incorrect");
    }

    // A group name too long for its column is refused before anything is written. A group the register
    // refuses stops OK with nothing saved, not even the settings, and the window keeps what was typed; the
    // next OK saves the whole again.
    void refusedOkKeepsTheWindowOpen() {
        reg->refuseInserts(u"Groups"_s, u"NEW.GroupNumber = '4'"_s, u"group four refused"_s);
        start();
        showWith([this](TcfgFrm& d) {
            typeInto(d.DBEdit1, u"Acme"_s);
            d.Group4Name->setText(QString(300, u'x'));
            d.BitBtn1->click();
            QCOMPARE(d.focusWidget(), d.Group4Name);
            QVERIFY(DialogScript::messages().back().text.contains("group 4 has 300 characters"));
            QCOMPARE(settings(), "Kivelor|KLT|old|0");
            typeInto(d.Group4Name, u"Ladders"_s);
            typeInto(d.Group9Name, u"Vans"_s);
            d.BitBtn1->click();
            QVERIFY(d.isVisible());
            QVERIFY(DialogScript::messages().back().text.contains("group four refused"));
            QCOMPARE(settings(), "Kivelor|KLT|old|0");
            QCOMPARE(groups(), "");
            QCOMPARE(d.DBEdit1->text(), "Acme");
            QCOMPARE(d.Group9Name->text(), "Vans");
            reg->allowInserts(u"Groups"_s);
            d.BitBtn1->click();
        });
        QCOMPARE(w->result(), mrOk);
        QCOMPARE(settings(), "Acme|KLT|old|0");
        QCOMPARE(groups(), "0=,1=,2=,3=,4=Ladders,5=,6=,7=,8=,9=Vans");
        QCOMPARE(DialogScript::messages().size(), size_t(2));
    }
};

QTEST_MAIN(TestCfg)
#include "tst_cfg.moc"
