// Tests of the register's LIKE: the wildcards, case in several alphabets, the escape character, its speed on
// patterns that make naive matchers backtrack, and its behaviour when SQLite calls it for `text LIKE pattern`.
#include "data/likefunction.h"

#include <QElapsedTimer>
#include <QtTest>
#include <sqlite3.h>
#include <string>
#include <vector>

namespace {

bool matches(const QString& pattern, const QString& text, char32_t escape = 0) {
    const QByteArray p = pattern.toUtf8();
    const QByteArray t = text.toUtf8();
    return likeMatch(std::string_view(p.constData(), static_cast<size_t>(p.size())),
                     std::string_view(t.constData(), static_cast<size_t>(t.size())), escape);
}

// Opens an in-memory database with the register's LIKE in place of SQLite's.
struct MemoryDb {
    sqlite3* db = nullptr;
    MemoryDb() {
        if (sqlite3_open(":memory:", &db) != SQLITE_OK) {
            qFatal("cannot open an in-memory database");
        }
        registerLikeFunctions(db);
    }
    ~MemoryDb() { sqlite3_close(db); }

    // The single value the query returns: "NULL", the integer as text, or "error: <message>".
    QString scalar(const char* sql) const {
        sqlite3_stmt* stmt = nullptr;
        if (sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) != SQLITE_OK) {
            return QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
        }
        QString result;
        const int rc = sqlite3_step(stmt);
        if (rc == SQLITE_ROW) {
            result = sqlite3_column_type(stmt, 0) == SQLITE_NULL ? QStringLiteral("NULL")
                                                                 : QString::number(sqlite3_column_int(stmt, 0));
        } else {
            result = QStringLiteral("error: ") + QString::fromUtf8(sqlite3_errmsg(db));
        }
        sqlite3_finalize(stmt);
        return result;
    }
};

} // namespace

class TestLike : public QObject {
    Q_OBJECT

private slots:
    void wildcards_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");

        QTest::newRow("empty pattern, empty text") << ""
                                                   << "" << true;
        QTest::newRow("empty pattern, some text") << ""
                                                  << "a" << false;
        QTest::newRow("% alone, empty text") << "%"
                                             << "" << true;
        QTest::newRow("%% on text") << "%%"
                                    << "anything" << true;
        QTest::newRow("% inside, none taken") << "lap%top"
                                              << "laptop" << true;
        QTest::newRow("% inside, run taken") << "lap%top"
                                             << "lap and desktop" << true;
        QTest::newRow("% needs the suffix") << "lap%top"
                                            << "lap and desk" << false;
        QTest::newRow("contains") << "%lap%"
                                  << "Dell laptop 14" << true;
        QTest::newRow("contains at the start") << "%lap%"
                                               << "laptop" << true;
        QTest::newRow("contains at the end") << "%lap%"
                                             << "a lap" << true;
        QTest::newRow("contains, absent") << "%lap%"
                                          << "la p" << false;
        QTest::newRow("contains longer than text") << "%laptop%"
                                                   << "lap" << false;
        QTest::newRow("prefix") << "lap%"
                                << "Laptop" << true;
        QTest::newRow("prefix is not contains") << "lap%"
                                                << "a laptop" << false;
        QTest::newRow("suffix") << "%top"
                                << "laptop" << true;
        QTest::newRow("suffix must end the text") << "%top"
                                                  << "laptops" << false;
        QTest::newRow("no wildcard is whole text") << "lap"
                                                   << "laptop" << false;
        QTest::newRow("_ is one character") << "l_p"
                                            << "lap" << true;
        QTest::newRow("_ needs a character") << "lap_"
                                             << "lap" << false;
        QTest::newRow("_ takes only one") << "l_p"
                                          << "laap" << false;
        QTest::newRow("_ with %") << "%_"
                                  << "" << false;
        QTest::newRow("_ with % on one char") << "%_%"
                                              << "x" << true;
        QTest::newRow("backtrack after partial") << "%aab"
                                                 << "aaab" << true;
        QTest::newRow("two stars") << "%a%b%"
                                   << "xxaxxbxx" << true;
        QTest::newRow("two stars, wrong order") << "%a%b%"
                                                << "xxbxxaxx" << false;
        QTest::newRow("_ on a two-byte character") << "caf_"
                                                   << "café" << true;
        QTest::newRow("_ on a three-byte character") << "_uro"
                                                     << "€uro" << true;
        QTest::newRow("_ on a four-byte character") << "a_b"
                                                    << "a😀b" << true;
        QTest::newRow("__ is two characters, not two bytes") << "caf__"
                                                             << "café" << false;
        QTest::newRow("contains with non-ASCII") << "%ü%"
                                                 << "Grüße" << true;
        QTest::newRow("blanks-only pattern, equal blanks") << "   "
                                                           << "   " << true;
        QTest::newRow("blanks-only pattern, fewer blanks") << "   "
                                                           << "  " << false;
        QTest::newRow("blanks in contains") << "% %"
                                            << "two words" << true;
        QTest::newRow("blanks in contains, none") << "% %"
                                                  << "oneword" << false;
    }
    void wildcards() {
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QCOMPARE(matches(pattern, text), expected);
    }

    void letterCase_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("expected");

        QTest::newRow("ASCII") << "LAPTOP"
                               << "laptop" << true;
        QTest::newRow("ASCII contains") << "%LaP%"
                                        << "my LAPtop" << true;
        QTest::newRow("ASCII punctuation is not folded") << "["
                                                         << "{" << false;
        QTest::newRow("ASCII @ and `") << "@"
                                       << "`" << false;
        QTest::newRow("é and É") << "café"
                                 << "CAFÉ" << true;
        QTest::newRow("É and é in contains") << "%É%"
                                             << "café" << true;
        QTest::newRow("é is not e") << "cafe"
                                    << "café" << false;
        QTest::newRow("Greek") << "ΩΜΕΓΑ"
                               << "ωμεγα" << true;
        QTest::newRow("Greek final sigma") << "%Σ"
                                           << "λόγος" << true;
        QTest::newRow("Cyrillic") << "%ПРИВЕТ%"
                                  << "скажи привет" << true;
        QTest::newRow("ß stays ß") << "STRASSE"
                                   << "straße" << false;
        QTest::newRow("ß matches ß") << "%ß%"
                                     << "Straße" << true;
        QTest::newRow("capital sharp s folds to ß") << "ẞ"
                                                    << "ß" << true;
        QTest::newRow("Kelvin sign folds to k") << "k"
                                                << "K" << true;
        QTest::newRow("different letters") << "Ω"
                                           << "Ψ" << false;
    }
    void letterCase() {
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QFETCH(bool, expected);
        QCOMPARE(matches(pattern, text), expected);
    }

    void escapeCharacter_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("escape");
        QTest::addColumn<bool>("expected");

        QTest::newRow("escaped % is literal") << "100!%"
                                              << "100%" << uint('!') << true;
        QTest::newRow("escaped % is not a wildcard") << "100!%"
                                                     << "1000" << uint('!') << false;
        QTest::newRow("escaped _ is literal") << "a!_b"
                                              << "a_b" << uint('!') << true;
        QTest::newRow("escaped _ is not a wildcard") << "a!_b"
                                                     << "axb" << uint('!') << false;
        QTest::newRow("escaped escape") << "a!!b"
                                        << "a!b" << uint('!') << true;
        QTest::newRow("escape in contains") << "%5!%%"
                                            << "a 5% rise" << uint('!') << true;
        QTest::newRow("escape in contains, absent") << "%5!%%"
                                                    << "a 50 rise" << uint('!') << false;
        QTest::newRow("escape at the end matches nothing") << "abc!"
                                                           << "abc!" << uint('!') << false;
        QTest::newRow("escape at the end after %") << "%!"
                                                   << "x!" << uint('!') << false;
        QTest::newRow("% as escape character") << "a%%"
                                               << "a%" << uint('%') << true;
        QTest::newRow("% as escape makes %% one literal") << "a%%"
                                                          << "a%x" << uint('%') << false;
        QTest::newRow("non-ASCII escape") << "%é%%"
                                          << "50% off" << uint(U'é') << true;
        QTest::newRow("non-ASCII escape, literal _") << "aé_"
                                                     << "a_" << uint(U'é') << true;
        QTest::newRow("non-ASCII escape, not a wildcard") << "aé_"
                                                          << "ax" << uint(U'é') << false;
        QTest::newRow("escape with non-ASCII text") << "%!%é"
                                                    << "50%é" << uint('!') << true;
        QTest::newRow("no escape leaves ! plain") << "a!%"
                                                  << "a!bc" << 0u << true;
    }
    void escapeCharacter() {
        QFETCH(QString, pattern);
        QFETCH(QString, text);
        QFETCH(uint, escape);
        QFETCH(bool, expected);
        QCOMPARE(matches(pattern, text, static_cast<char32_t>(escape)), expected);
    }

    void malformedUtf8MatchesOnlyItself() {
        const std::string broken = "a\xC3"
                                   "b";
        QVERIFY(likeMatch(broken, broken));
        QVERIFY(likeMatch("a_b", broken));
        QVERIFY(!likeMatch("a\xC4"
                           "b",
                           broken));
        QVERIFY(!likeMatch("a__b", broken));
        QVERIFY(likeMatch("%\xC3%", "xx\xC3yy"));
    }

    void backtrackingStaysLinear() {
        const std::string text(200000, 'a');
        std::string unicodeText;
        for (int i = 0; i < 50000; ++i) {
            unicodeText += "é";
        }
        QElapsedTimer timer;
        timer.start();
        QVERIFY(!likeMatch("%a%a%a%a%a%b", text));
        QVERIFY(!likeMatch("%a_a%a_a%a%a%a%a%a%a%b%", text));
        QVERIFY(likeMatch("%a%a%a%a%a%a", text));
        QVERIFY(!likeMatch("%é%é%é%é%é%x", unicodeText));
        QVERIFY(likeMatch("%É%É%_%É%É", unicodeText));
        // A matcher that retries every split of every % would not end within the age of the universe here.
        QVERIFY2(timer.elapsed() < 5000, qPrintable(QStringLiteral("took %1 ms").arg(timer.elapsed())));
    }

    void searchOverManyRows() {
        std::vector<std::string> rows;
        rows.reserve(100000);
        int expected = 0;
        for (int i = 0; i < 100000; ++i) {
            std::string row = "Asset " + std::to_string(i) + (i % 7 == 0 ? " Dell LAPTOP 14in" : " Dell desktop 24in");
            row.resize(30, ' ');
            expected += i % 7 == 0 ? 1 : 0;
            rows.push_back(std::move(row));
        }
        QElapsedTimer timer;
        timer.start();
        int found = 0;
        for (const std::string& row : rows) {
            found += likeMatch("%lap%", row) ? 1 : 0;
        }
        const qint64 elapsedUs = timer.nsecsElapsed() / 1000;
        QCOMPARE(found, expected);
        qInfo("likeMatch(\"%%lap%%\") over %d rows of 30 characters: %lld us", int(rows.size()), elapsedUs);
    }

    void sqlNullsGiveNull() {
        MemoryDb m;
        QCOMPARE(m.scalar("SELECT NULL LIKE 'a'"), QStringLiteral("NULL"));
        QCOMPARE(m.scalar("SELECT 'a' LIKE NULL"), QStringLiteral("NULL"));
        QCOMPARE(m.scalar("SELECT 'a' LIKE 'a' ESCAPE NULL"), QStringLiteral("NULL"));
        QCOMPARE(m.scalar("SELECT NULL NOT LIKE 'a'"), QStringLiteral("NULL"));
        QCOMPARE(m.scalar("SELECT count(*) FROM (SELECT NULL AS d UNION ALL SELECT 'laptop') WHERE d LIKE '%lap%'"),
                 QStringLiteral("1"));
    }

    void sqlReplacesBuiltInLike() {
        MemoryDb m;
        // SQLite's own LIKE folds ASCII only; the register's folds every alphabet.
        QCOMPARE(m.scalar("SELECT 'CAFÉ' LIKE 'café'"), QStringLiteral("1"));
        QCOMPARE(m.scalar("SELECT 'ΩΜΕΓΑ' LIKE '%μεγ%'"), QStringLiteral("1"));
        // The text is on the left of LIKE and the pattern on the right: 'a%' is not a pattern here.
        QCOMPARE(m.scalar("SELECT 'a%' LIKE 'abc'"), QStringLiteral("0"));
        QCOMPARE(m.scalar("SELECT 'abc' LIKE 'a%'"), QStringLiteral("1"));
        QCOMPARE(m.scalar("SELECT like('a%', 'abc')"), QStringLiteral("1"));
        QCOMPARE(m.scalar("SELECT 'abc' NOT LIKE 'A%'"), QStringLiteral("0"));
        QCOMPARE(m.scalar("SELECT 12345 LIKE '%234%'"), QStringLiteral("1"));
    }

    void sqlEscapeMustBeOneCharacter() {
        MemoryDb m;
        QCOMPARE(m.scalar("SELECT '10%' LIKE '10!%' ESCAPE '!'"), QStringLiteral("1"));
        QCOMPARE(m.scalar("SELECT '100' LIKE '10!%' ESCAPE '!'"), QStringLiteral("0"));
        QCOMPARE(m.scalar("SELECT '10%' LIKE '10é%' ESCAPE 'é'"), QStringLiteral("1"));
        const QString expected = QStringLiteral("error: ESCAPE expression must be a single character");
        QCOMPARE(m.scalar("SELECT 'a' LIKE 'a' ESCAPE '!!'"), expected);
        QCOMPARE(m.scalar("SELECT 'a' LIKE 'a' ESCAPE ''"), expected);
        QCOMPARE(m.scalar("SELECT 'a' LIKE 'a' ESCAPE 'éé'"), expected);
    }
};

QTEST_GUILESS_MAIN(TestLike)
#include "tst_like.moc"
