// The asset detail and write-off windows on a real register, driven through their controls: identifiers
// and their running numbers, adding assets in a row, editing behind the password, the drop-down lists, the
// dates of new assets, and what a write-off stores or leaves alone.
#include "app/logon.h"
#include "app/session.h"
#include "data/assetids.h"
#include "data/datamodule.h"
#include "data/registercopy.h"
#include "data/textvalues.h"
#include "records/assdet.h"
#include "records/historywindow.h"
#include "records/writeoff.h"
#include "tests/support/guitest.h"
#include "tests/support/testregister.h"
#include "widgets/dbcontrols.h"
#include "widgets/dialogs.h"
#include "widgets/guard.h"

#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>
#include <QtTest>

using namespace Qt::StringLiterals;

namespace {

QStringList itemsOf(const QComboBox* box) {
    QStringList items;
    for (int i = 0; i < box->count(); ++i) {
        items << box->itemText(i);
    }
    return items;
}

QString engrave(const QString& id) {
    return u"Don't forget to engrave the item with '%1'. Do you want to add another item?"_s.arg(id);
}

// The five columns a write-off writes, of KLT1001, as stored.
QString writeOffColumns(Connection& c) {
    Statement s(c, "SELECT WrittenOff, WrittenOffDate, WrittenOffBy, WrittenOffReason, WrittenDownValue FROM assets "
                   "WHERE ASSETID = 'KLT1001'");
    QStringList values;
    const int columns = s.step() ? s.columnCount() : 0;
    for (int i = 0; i < columns; ++i) {
        values << registerValueText(s.column(i));
    }
    return values.join(u'|');
}

} // namespace

class TestRecords : public QObject {
    Q_OBJECT

    Session session;
    std::unique_ptr<TestRegister> reg;
    std::unique_ptr<DataModule> dm;
    std::unique_ptr<Tlogonfrm> logon;
    std::unique_ptr<Tassdetfrm> editor;
    std::unique_ptr<Twriteofffrm> writeoff;

    void teardown() {
        writeoff.reset();
        editor.reset();
        logon.reset();
        dm.reset();
        reg.reset();
    }

    // Opens the register as start-up does (the list showing written-off assets too) and makes the windows.
    void start() {
        dm = openDataModule(*reg);
        openOn(dm->mainquery, {u"select * from assets"_s});
        logon = std::make_unique<Tlogonfrm>(nullptr, *dm, session, [](const QString&) {});
        editor = std::make_unique<Tassdetfrm>(nullptr, *dm, *logon);
        writeoff = std::make_unique<Twriteofffrm>(nullptr, *dm);
    }

    // count assets of group, numbered as the editor numbers them, the first writtenOff of them written off.
    void addAssets(const QString& prefix, const QString& group, int count, int writtenOff = 0) {
        reg->addAssets(u"ASSETID, ItemGroup, WrittenOff"_s, count, [&](int i) {
            return QVariantList{assetIdFor(prefix, i), group, i <= writtenOff ? 1 : 0};
        });
    }
    QString stored(const QString& column, const QString& id) {
        return reg->text(u"SELECT %1 FROM assets WHERE ASSETID = '%2'"_s.arg(column, id));
    }
    long long assets() { return reg->count(u"SELECT COUNT(*) FROM assets"_s); }

private slots:
    void initTestCase() {
        DialogScript::enable();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }
    void init() {
        teardown();
        DialogScript::reset();
        reg = std::make_unique<TestRegister>();
        reg->exec(u"UPDATE System SET CompanyAbbr = 'KLT', DataBasePassword = 'Secret'"_s);
        session.LoggedOn = true;
    }
    void cleanup() {
        QVERIFY(DialogScript::unexpectedModals().empty());
        QCOMPARE(DialogScript::pendingScript(), 0);
        teardown();
    }

    void identifierCountsTheGroup_data() {
        QTest::addColumn<QString>("abbr");
        QTest::addColumn<QString>("group");
        QTest::addColumn<int>("stored");
        QTest::addColumn<int>("writtenOff");
        QTest::addColumn<QString>("expected");
        QTest::newRow("KLT3012") << "KLT"
                                 << "3" << 11 << 2 << "KLT3012";
        QTest::newRow("KLT0001") << "KLT"
                                 << "0" << 0 << 0 << "KLT0001";
    }
    // Close, Escape and the close box discard the new record, so each next new asset gets the same number.
    void identifierCountsTheGroup() {
        QFETCH(QString, abbr);
        QFETCH(QString, group);
        QFETCH(int, stored);
        QFETCH(int, writtenOff);
        QFETCH(QString, expected);
        reg->exec(u"UPDATE System SET CompanyAbbr = '%1'"_s.arg(abbr));
        reg->exec(u"INSERT INTO Groups VALUES ('%1', 'Named'), ('1', 'Other')"_s.arg(group));
        if (stored > 0) {
            addAssets(abbr + group, group, stored, writtenOff);
        }
        addAssets(u"OTHER1"_s, u"1"_s, 3);
        start();
        for (int how = 0; how < 3; ++how) {
            drive<Tassdetfrm>([&](Tassdetfrm& d) {
                QCOMPARE(d.DBText1->text(), expected);
                QCOMPARE(d.assetlookup->currentText(), "Named");
                QCOMPARE(d.focusWidget(), d.assetlookup);
                closeWithoutOk(d, d.BitBtn3, how);
            });
            editor->AddAsset();
        }
        QCOMPARE(assets(), stored + 3LL);
        QCOMPARE(dm->mainquery.state(), Dataset::State::Browse);
    }

    // After a row is removed the count points at an identifier still in use (in any letter case): the next
    // free number is taken. The group value reaches the count as a quoted literal, never as statement text.
    void identifierInUseIsSkipped() {
        reg->exec(u"INSERT INTO Groups VALUES ('1', 'Tools')"_s);
        reg->addAsset(u"KLT1001"_s, u"1"_s);
        reg->addAsset(u"klt1003"_s, u"1"_s);
        start();
        DialogScript::setNextAnswer(Answer::No);
        drive<Tassdetfrm>([](Tassdetfrm& d) { d.OKBTN->click(); });
        editor->AddAsset();
        QCOMPARE(messageTexts(), QStringList{engrave(u"KLT1004"_s)});

        reg->exec(u"UPDATE Groups SET GroupNumber = '1\" OR \"x\" = \"x'"_s);
        drive<Tassdetfrm>([](Tassdetfrm& d) {
            QCOMPARE(d.DBText1->text(), "KLT1\" OR \"x\" = \"x001");
            d.BitBtn3->click();
        });
        editor->AddAsset();
    }

    // The identifier follows each change of the group at once, so Enter right after choosing saves the chosen
    // group's. When another program took that identifier after the window made it, OK saves the group's next
    // free one instead, and the engrave question names the one saved.
    void identifierFollowsTheGroupSelector() {
        reg->exec(u"INSERT INTO Groups VALUES ('3', 'Computers'), ('7', 'Vehicles')"_s);
        addAssets(u"KLT7"_s, u"7"_s, 2);
        start();
        DialogScript::setNextAnswer(Answer::No);
        drive<Tassdetfrm>([this](Tassdetfrm& d) {
            QTest::keyClick(d.assetlookup, Qt::Key_Down);
            QCOMPARE(d.DBText1->text(), "KLT7003");
            QTest::keyClick(d.assetlookup, Qt::Key_Up);
            QCOMPARE(d.DBText1->text(), "KLT3001");
            QTest::keyClick(d.assetlookup, Qt::Key_Down);
            reg->addAsset(u"KLT7003"_s, u"7"_s);
            QTest::keyClick(d.assetlookup, Qt::Key_Return);
        });
        editor->AddAsset();
        QCOMPARE(messageTexts(), QStringList{engrave(u"KLT7004"_s)});
        QCOMPARE(stored(u"ItemGroup"_s, u"KLT7004"_s), "7");
        QCOMPARE(stored(u"ItemGroup"_s, u"KLT7003"_s), "7");
    }

    // Yes three times then No saves four assets with consecutive numbers; each further one starts in the
    // first group with the focus in the group selector.
    void addingSeveralInARow() {
        reg->exec(u"INSERT INTO Groups VALUES ('1', 'Tools'), ('2', 'Chairs')"_s);
        start();
        for (Answer a : {Answer::Yes, Answer::Yes, Answer::Yes, Answer::No}) {
            DialogScript::setNextAnswer(a);
        }
        drive<Tassdetfrm>([](Tassdetfrm& d) {
            QTest::keyClick(d.assetlookup, Qt::Key_Down);
            for (int i = 0; i < 4; ++i) {
                QCOMPARE(d.assetlookup->currentText(), i == 0 ? "Chairs" : "Tools");
                typeInto(d.DBEdit2, u"Drill %1"_s.arg(i));
                d.OKBTN->click();
                QCOMPARE(d.isVisible(), i < 3);
                QVERIFY(i == 3 || d.focusWidget() == d.assetlookup);
            }
        });
        editor->AddAsset();
        QCOMPARE(messageTexts(), (QStringList{engrave(u"KLT2001"_s), engrave(u"KLT1001"_s), engrave(u"KLT1002"_s),
                                              engrave(u"KLT1003"_s)}));
        QCOMPARE(stored(u"Make"_s, u"KLT1003"_s), "Drill 3");
        QCOMPARE(assets(), 4LL);
    }

    // A register locked by another program, or an abbreviation too long for an identifier: the error shows,
    // no window opens, and no record is left pending for a later move of the list to save.
    void failedIdentifierLeavesNothingPending() {
        reg->exec(u"INSERT INTO Groups VALUES ('1', 'Tools')"_s);
        start();
        dm->ADOConnection1.setBusyTimeout(20);
        reg->lock();
        QVERIFY(!runGuarded([this] { editor->AddAsset(); }));
        reg->unlock();
        QCOMPARE(dm->mainquery.state(), Dataset::State::Browse);

        reg->exec(u"UPDATE System SET CompanyAbbr = '%1'"_s.arg(QString(253, u'K')));
        dm->SystemTable.close();
        dm->SystemTable.open();
        QVERIFY(!runGuarded([this] { editor->AddAsset(); }));
        QVERIFY(messageTexts().last().contains("would have 257"));
        QCOMPARE(dm->mainquery.state(), Dataset::State::Browse);
        QCOMPARE(dm->mainquery.recordCount(), 0);
    }

    void editingAsksForThePassword_data() {
        QTest::addColumn<bool>("given");
        QTest::newRow("password given") << true;
        QTest::newRow("password refused") << false;
    }
    // Refused: the message shows, the window stays open, and Close leaves the asset as stored. The group of a
    // stored asset cannot be changed.
    void editingAsksForThePassword() {
        QFETCH(bool, given);
        reg->exec(u"INSERT INTO Groups VALUES ('1', 'Tools'), ('2', 'Chairs')"_s);
        reg->addAsset(u"KLT1001"_s, u"1"_s, u"Make"_s, u"'Bosch'"_s);
        start();
        session.LoggedOn = false;
        drive<Tassdetfrm>([given](Tassdetfrm& d) {
            QTest::keyClick(d.assetlookup, Qt::Key_Down);
            typeInto(d.DBEdit2, u"Makita"_s);
            d.OKBTN->click();
            QCOMPARE(d.isVisible(), !given);
            if (d.isVisible()) {
                d.BitBtn3->click();
            }
        });
        drive<Tlogonfrm>([given](Tlogonfrm& d) {
            QTest::keyClicks(d.Password, u"SECRET"_s);
            (given ? d.BitBtn1 : d.BitBtn2)->click();
        });
        editor->EditAsset();
        const QString make = given ? u"Makita"_s : u"Bosch"_s;
        QCOMPARE(stored(u"Make || ItemGroup"_s, u"KLT1001"_s), make + "1");
        QCOMPARE(dm->mainquery.fieldByName(u"Make"_s).asString(), make);
        QCOMPARE(messageTexts(), given
                                     ? QStringList()
                                     : QStringList{"You cannot change an item unless you enter the correct password"});
    }

    // OK with nothing changed closes without the password or a save. With an empty list the editor does not
    // open, and the write-off window offers only Cancel: no empty record is begun or saved.
    void editingWithNothingToSave() {
        reg->addAsset(u"KLT1001"_s, u"1"_s, u"Make"_s, u"'Bosch'"_s);
        start();
        session.LoggedOn = false;
        drive<Tassdetfrm>([](Tassdetfrm& d) {
            typeInto(d.DBEdit2, u"Bosch"_s); // changed and changed back
            d.OKBTN->click();
        });
        editor->EditAsset();
        QVERIFY(DialogScript::messages().empty());

        reg->exec(u"DELETE FROM assets"_s);
        dm->mainquery.close();
        dm->mainquery.open();
        editor->EditAsset();
        drive<Twriteofffrm>([](Twriteofffrm& d) {
            QVERIFY(!d.BitBtn1->isEnabled() && !d.DBEdit15->isEnabled());
            QTest::keyClick(&d, Qt::Key_Return);
            d.BitBtn2->click();
        });
        Dialogs::showModal(*writeoff);
        QCOMPARE(messageTexts(), (QStringList{"There is no asset selected", "There is no asset selected"}));
        QCOMPARE(dm->mainquery.state(), Dataset::State::Browse);
        QCOMPARE(assets(), 0LL);
    }

    // Every exit adds the field's text to that field's own list, empty and repeated texts too, but not after a
    // refused conversion. The write-off fields take the focus but no change.
    void dropDownListsGrowOnEveryExit() {
        reg->addAsset(u"KLT1001"_s, u"1"_s, u"Make, WrittenOff, WrittenOffReason"_s, u"'Bosch', 1, 'Stolen'"_s);
        start();
        drive<Tassdetfrm>([](Tassdetfrm& d) {
            for (int pass = 0; pass < 2; ++pass) {
                d.DBEdit2->setFocus(Qt::TabFocusReason);
                d.DBEdit3->setFocus(Qt::TabFocusReason);
            }
            typeInto(d.DBEdit2, u"Hilti"_s);
            typeInto(d.DBEdit6, u"next week"_s);
            d.DBEdit4->setFocus(Qt::TabFocusReason);
            QCOMPARE(d.focusWidget(), d.DBEdit6);
            QCOMPARE(DialogScript::messages().back().text, "'next week' is not a valid date");
            typeInto(d.DBEdit6, QString());
            typeInto(d.DBEdit16, u"Lost"_s);
            QCOMPARE(d.DBEdit16->currentText(), "Stolen");
            d.DBCheckBox->setFocus(Qt::TabFocusReason);
            QTest::keyClick(d.DBCheckBox, Qt::Key_Space);
            QVERIFY(d.DBCheckBox->isChecked());
            d.BitBtn3->click();
            QCOMPARE(itemsOf(d.DBEdit2), (QStringList{"Bosch", "Bosch", "Hilti"}));
            QCOMPARE(itemsOf(d.DBEdit3), (QStringList{"", ""}));
            QCOMPARE(itemsOf(d.DBEdit6), QStringList{""});
            QCOMPARE(itemsOf(d.DBEdit16), QStringList{"Stolen"});
            QVERIFY(itemsOf(d.DBEdit4).isEmpty());
        });
        editor->EditAsset();
        QCOMPARE(stored(u"Make || WrittenOff || WrittenOffReason"_s, u"KLT1001"_s), "Bosch1Stolen");
    }

    // A new asset gets today's dates only from the user's own entry and clicks, a typed purchase date is kept,
    // and a stored asset gets none.
    void defaultDatesOnNewAssetsOnly() {
        reg->exec(u"INSERT INTO Groups VALUES ('1', 'Tools')"_s);
        reg->addAsset(u"KLT1001"_s, u"1"_s, u"isElectrical, itemBorrowed"_s, u"1, 1"_s);
        start();
        const QDate today = QDate::currentDate();
        DialogScript::setNextAnswer(Answer::No);
        drive<Tassdetfrm>([today](Tassdetfrm& d) {
            d.DBEdit6->setFocus(Qt::TabFocusReason);
            QCOMPARE(d.DBEdit6->currentText(), dateToText(today));
            typeInto(d.DBEdit6, u"1/2/2020"_s);
            d.DBEdit4->setFocus(Qt::TabFocusReason);
            d.DBEdit6->setFocus(Qt::BacktabFocusReason);
            QCOMPARE(d.DBEdit6->currentText(), "1/2/2020");
            QTest::mouseClick(d.DBCheckBox2, Qt::LeftButton);
            QTest::mouseClick(d.DBCheckBox2, Qt::LeftButton);
            d.OKBTN->click();
        });
        editor->AddAsset();
        QCOMPARE(
            reg->text(u"SELECT DatePurchased || '|' || BorrowedOn || '|' || ExpectedReturn || '|' || itemBorrowed "
                      "|| '|' || coalesce(CAST(LastTestTag AS TEXT), '-') FROM assets WHERE ASSETID = 'KLT1002'"_s),
            u"2020-01-02|%1|%2|0|-"_s.arg(dateToStored(today), dateToStored(today.addDays(30))));

        QVERIFY(dm->mainquery.locate(u"ASSETID"_s, u"KLT1001"_s));
        drive<Tassdetfrm>([](Tassdetfrm& d) {
            QTest::mouseClick(d.DBCheckBox1, Qt::LeftButton);
            QTest::mouseClick(d.DBCheckBox2, Qt::LeftButton);
            d.DBEdit6->setFocus(Qt::TabFocusReason);
            d.OKBTN->click();
        });
        editor->EditAsset();
        QCOMPARE(reg->text(u"SELECT CAST(isElectrical AS TEXT) || CAST(itemBorrowed AS TEXT) || "
                           u"coalesce(CAST(LastTestTag AS TEXT), '-') || "
                           "coalesce(CAST(BorrowedOn AS TEXT), '-') || coalesce(CAST(DatePurchased AS TEXT), '-') "
                           "FROM assets WHERE ASSETID = 'KLT1001'"_s),
                 "00---");
    }

    void typedDatesFollowTheLocale_data() {
        QTest::addColumn<QLocale>("locale");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expected"); // as stored; empty: refused
        const QLocale gb(QLocale::English, QLocale::UnitedKingdom);
        QTest::newRow("C, day first") << QLocale::c() << u"15/03/2026"_s << u"2026-03-15"_s;
        QTest::newRow("en_US, month first")
            << QLocale(QLocale::English, QLocale::UnitedStates) << u"3/15/2026"_s << u"2026-03-15"_s;
        QTest::newRow("en_GB, impossible") << gb << u"31/02/2026"_s << QString();
    }
    // The editor's date fields take what people type in the locale's order, and refuse impossible dates.
    void typedDatesFollowTheLocale() {
        QFETCH(QLocale, locale);
        QFETCH(QString, typed);
        QFETCH(QString, expected);
        reg->addAsset(u"KLT1001"_s, u"1"_s);
        start();
        QLocale::setDefault(locale);
        drive<Tassdetfrm>([typed](Tassdetfrm& d) {
            typeInto(d.DBEdit6, typed);
            d.OKBTN->click();
            if (d.isVisible()) {
                d.BitBtn3->click();
            }
        });
        editor->EditAsset();
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
        if (expected.isEmpty()) {
            QCOMPARE(messageTexts(), QStringList{u"'%1' is not a valid date"_s.arg(typed)});
            QCOMPARE(reg->text(u"SELECT coalesce(CAST(DatePurchased AS TEXT), '-') FROM assets"_s), "-");
        } else {
            QCOMPARE(messageTexts(), QStringList());
            QCOMPARE(stored(u"DatePurchased"_s, u"KLT1001"_s), expected);
        }
    }

    // The three typed values, today's date and the flag are saved together; Enter in a field writes off too,
    // with empty fields and a typed reason; the asset stays in the list.
    void writeOffSavesAllFiveColumns() {
        reg->addAsset(u"KLT1001"_s, u"1"_s);
        reg->addAsset(u"KLT1002"_s, u"1"_s);
        start();
        const QString today = dateToStored(QDate::currentDate());
        drive<Twriteofffrm>([](Twriteofffrm& d) {
            QCOMPARE(d.focusWidget(), d.DBEdit15);
            typeInto(d.DBEdit15, u"Sam O'Neil"_s);
            typeInto(d.DBEdit17, u"12.5"_s);
            d.DBComboBox1->setFocus(Qt::TabFocusReason);
            for (int i = 0; i < 11 && d.DBComboBox1->currentText() != "Stolen"; ++i) {
                QTest::keyClick(d.DBComboBox1, Qt::Key_Down);
            }
            d.BitBtn1->click();
        });
        Dialogs::showModal(*writeoff);
        QCOMPARE(writeOffColumns(reg->side()), u"1|10:%1|10:Sam O'Neil|6:Stolen|12.5"_s.arg(today));
        QCOMPARE(messageTexts(), QStringList{"Item now written off in Vantrel. Please dispose of item"});
        QCOMPARE(writeoff->result(), mrOk);

        dm->mainquery.next();
        drive<Twriteofffrm>([](Twriteofffrm& d) {
            typeInto(d.DBComboBox1, u"Fell off the lorry"_s);
            QTest::keyClick(d.DBComboBox1, Qt::Key_Return);
        });
        Dialogs::showModal(*writeoff);
        QCOMPARE(
            reg->text(
                u"SELECT CAST(WrittenOff AS TEXT) || WrittenOffDate || WrittenOffReason || coalesce(WrittenOffBy, '-') "
                "FROM assets WHERE ASSETID = 'KLT1002'"_s),
            u"1%1Fell off the lorry-"_s.arg(today));
        QCOMPARE(dm->mainquery.recordCount(), 2);
    }

    void cancelledWriteOffChangesNothing_data() { addClosingRows(); }
    void cancelledWriteOffChangesNothing() {
        QFETCH(int, how);
        reg->addAsset(u"KLT1001"_s, u"1"_s, u"WrittenOffBy"_s, u"'earlier'"_s);
        start();
        const QString before = writeOffColumns(reg->side());
        drive<Twriteofffrm>([how](Twriteofffrm& d) {
            typeInto(d.DBEdit15, u"Sam"_s);
            typeInto(d.DBEdit17, u"3"_s);
            typeInto(d.DBComboBox1, u"Obsolete"_s);
            closeWithoutOk(d, d.BitBtn2, how);
        });
        Dialogs::showModal(*writeoff);
        QCOMPARE(writeOffColumns(reg->side()), before);
        QCOMPARE(dm->mainquery.state(), Dataset::State::Browse);
        QCOMPARE(dm->mainquery.fieldByName(u"WrittenOffBy"_s).asString(), "earlier");
        QVERIFY(DialogScript::messages().empty());
    }

    // A value that is no number keeps the focus in its field and blocks Write Off; a post refused by a locked
    // register leaves the window open in edit state; a later Write Off goes through.
    void refusedWriteOffKeepsTheWindowOpen() {
        reg->addAsset(u"KLT1001"_s, u"1"_s);
        start();
        dm->ADOConnection1.setBusyTimeout(20);
        drive<Twriteofffrm>([this](Twriteofffrm& d) {
            typeInto(d.DBEdit17, u"12,3,4"_s);
            d.DBComboBox1->setFocus(Qt::TabFocusReason);
            QCOMPARE(d.focusWidget(), d.DBEdit17);
            d.BitBtn1->click();
            typeInto(d.DBEdit17, u"4"_s);
            reg->lockForWriting();
            d.BitBtn1->click();
            reg->unlock();
            QVERIFY(d.isVisible());
            QCOMPARE(dm->mainquery.state(), Dataset::State::Edit);
            QCOMPARE(reg->text(u"SELECT WrittenOff FROM assets"_s), "0");
            d.BitBtn1->click();
        });
        Dialogs::showModal(*writeoff);
        QCOMPARE(messageTexts().size(), 4);
        QCOMPARE(messageTexts().first(), "'12,3,4' is not a valid floating point value");
        QCOMPARE(DialogScript::messages()[2].icon, MessageIcon::Error);
        QCOMPARE(reg->text(u"SELECT CAST(WrittenOff AS TEXT) || CAST(WrittenDownValue AS TEXT) FROM assets"_s), "14");
    }

    void writingOffAgainAsksFirst_data() {
        QTest::addColumn<QString>("stored");   // WrittenOff, WrittenOffDate, WrittenOffBy as SQL literals
        QTest::addColumn<QString>("question"); // empty: none asked
        QTest::addColumn<int>("answer");       // Answer::Yes or Answer::No
        QTest::newRow("not written off") << u"0, NULL, NULL"_s << QString() << int(Answer::Yes);
        const QString again =
            u"This asset was written off on 2/29/2024 by Ann. Write it off again with today's date?"_s;
        QTest::newRow("again, No") << u"1, '2024-02-29', 'Ann'"_s << again << int(Answer::No);
        QTest::newRow("again, Yes") << u"1, '2024-02-29', 'Ann'"_s << again << int(Answer::Yes);
        QTest::newRow("no person stored") << u"1, '2024-02-29', NULL"_s
                                          << u"This asset was written off on 2/29/2024. Write it off again with "
                                             "today's date?"_s
                                          << int(Answer::No);
    }
    // A second write-off would replace the first one's date and person: it asks first, naming them, and No
    // leaves the stored asset as it was and the window open. The window names the asset it acts on.
    void writingOffAgainAsksFirst() {
        QFETCH(QString, stored);
        QFETCH(QString, question);
        QFETCH(int, answer);
        reg->addAsset(u"KLT1001"_s, u"1"_s, u"Description, WrittenOff, WrittenOffDate, WrittenOffBy"_s,
                      u"'Laptop', "_s + stored);
        start();
        const QString before = writeOffColumns(reg->side());
        const bool asked = !question.isEmpty();
        const bool goesOn = !asked || answer == int(Answer::Yes);
        if (asked) {
            DialogScript::setNextAnswer(Answer(answer));
        }
        drive<Twriteofffrm>([this, goesOn](Twriteofffrm& d) {
            const auto* id = d.findChild<QLabel*>(u"DBText1"_s);
            const auto* description = d.findChild<QLabel*>(u"DBText2"_s);
            QVERIFY(id && description);
            QCOMPARE(id->text(), "KLT1001");
            QCOMPARE(description->text(), "Laptop");
            QVERIFY(id->isVisible());
            typeInto(d.DBEdit15, u"Bob"_s);
            d.BitBtn1->click();
            QCOMPARE(d.isVisible(), !goesOn);
            if (!goesOn) {
                QCOMPARE(dm->mainquery.state(), Dataset::State::Edit);
                d.BitBtn2->click();
            }
        });
        Dialogs::showModal(*writeoff);
        QStringList expected;
        if (asked) {
            expected << question;
        }
        if (goesOn) {
            expected << u"Item now written off in Vantrel. Please dispose of item"_s;
            QCOMPARE(reg->text(u"SELECT WrittenOff || '|' || WrittenOffDate || '|' || WrittenOffBy FROM assets"_s),
                     u"1|%1|Bob"_s.arg(dateToStored(QDate::currentDate())));
        } else {
            QCOMPARE(writeOffColumns(reg->side()), before);
        }
        QCOMPARE(messageTexts(), expected);
    }

    // The History button shows the asset's saved changes, newest first, in a list nobody can edit, without the
    // password; a new asset, not saved yet, has none to show.
    void historyShowsTheSavedChangesNewestFirst() {
        reg->addAsset(u"KLT1001"_s, u"1"_s, u"Description"_s, u"'Laptop\n14 inch'"_s);
        start();
        drive<Tassdetfrm>([](Tassdetfrm& d) {
            d.DBCheckBox2->click();
            typeInto(d.DBEdit19, u"Zoë Nowak"_s);
            d.OKBTN->click();
        });
        editor->EditAsset();
        drive<Twriteofffrm>([](Twriteofffrm& d) {
            typeInto(d.DBEdit15, u"Sam O'Neil"_s);
            d.BitBtn1->click();
        });
        Dialogs::showModal(*writeoff);
        DialogScript::clearMessages();
        const long long entries = reg->count(u"SELECT count(*) FROM History"_s);

        session.LoggedOn = false;
        QStringList rows;
        drive<Tassdetfrm>([&rows](Tassdetfrm& d) {
            QVERIFY(d.historyButton->isEnabled());
            drive<HistoryWindow>([&rows](HistoryWindow& h) {
                QCOMPARE(h.assetLabel->text(), u"KLT1001 (Laptop 14 inch): 3 saved changes, newest first"_s);
                QCOMPARE(h.historyList->editTriggers(), QAbstractItemView::NoEditTriggers);
                for (int i = 0; i < h.historyList->topLevelItemCount(); ++i) {
                    const QTreeWidgetItem* row = h.historyList->topLevelItem(i);
                    QVERIFY(!row->text(0).isEmpty());
                    rows << row->text(2) + u" | "_s + row->text(3).replace(u'\n', u"; "_s);
                    QVERIFY(!(row->flags() & Qt::ItemIsEditable));
                }
                h.closeButton->click();
            });
            d.historyButton->click();
            d.BitBtn3->click();
        });
        editor->EditAsset();
        const QString today = dateToStored(QDate::currentDate());
        QCOMPARE(rows, (QStringList{u"Written off | WrittenOff: 'False' -> 'True'; WrittenOffDate: '' -> '%1'; "
                                    "WrittenOffBy: '' -> 'Sam O'Neil'"_s.arg(today),
                                    u"Lent | itemBorrowed: 'False' -> 'True'; Borrower: '' -> 'Zoë Nowak'"_s,
                                    u"Added | ASSETID: '' -> 'KLT1001'; ItemGroup: '' -> '1'; Description: '' -> "
                                    "'Laptop; 14 inch'"_s}));
        QCOMPARE(messageTexts(), QStringList());
        QCOMPARE(reg->count(u"SELECT count(*) FROM History"_s), entries);

        session.LoggedOn = true;
        drive<Tassdetfrm>([](Tassdetfrm& d) {
            QVERIFY(!d.historyButton->isEnabled());
            d.BitBtn3->click();
        });
        editor->AddAsset();
    }
};

QTEST_MAIN(TestRecords)
#include "tst_records.moc"
