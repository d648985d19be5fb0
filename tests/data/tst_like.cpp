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
    // A pattern matched against a text, with an escape character or none: the wildcards, letter case in several
    // alphabets (a letter folds to its lower case, never to several letters) and the escape character.
    void matching_data() {
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<QString>("text");
        QTest::addColumn<uint>("escape");
        QTest::addColumn<bool>("expected");
        const auto row = [](const char* name, const char* pattern, const char* text, bool expected,
                            char32_t escape = 0) {
            QTest::newRow(name) << QString::fromUtf8(pattern) << QString::fromUtf8(text) << uint(escape) << expected;
        };
        row("empty pattern, empty text", "", "", true);
        row("empty pattern, some text", "", "a", false);
        row("% alone, empty text", "%", "", true);
        row("%% on text", "%%", "anything", true);
        row("% inside, none taken", "lap%top", "laptop", true);
        row("% inside, run taken", "lap%top", "lap and desktop", true);
        row("% needs the suffix", "lap%top", "lap and desk", false);
        row("contains", "%lap%", "Dell laptop 14", true);
        row("contains at the start", "%lap%", "laptop", true);
        row("contains at the end", "%lap%", "a lap", true);
        row("contains, absent", "%lap%", "la p", false);
        row("contains longer than text", "%laptop%", "lap", false);
        row("prefix", "lap%", "Laptop", true);
        row("prefix is not contains", "lap%", "a laptop", false);
        row("suffix", "%top", "laptop", true);
        row("suffix must end the text", "%top", "laptops", false);
        row("no wildcard is whole text", "lap", "laptop", false);
        row("_ is one character", "l_p", "lap", true);
        row("_ needs a character", "lap_", "lap", false);
        row("_ takes only one", "l_p", "laap", false);
        row("_ with %", "%_", "", false);
        row("_ with % on one char", "%_%", "x", true);
        row("backtrack after partial", "%aab", "aaab", true);
        row("two stars", "%a%b%", "xxaxxbxx", true);
        row("two stars, wrong order", "%a%b%", "xxbxxaxx", false);
        row("_ on a two-byte character", "caf_", "café", true);
        row("_ on a three-byte character", "_uro", "€uro", true);
        row("_ on a four-byte character", "a_b", "a😀b", true);
        row("__ is two characters, not two bytes", "caf__", "café", false);
        row("contains with non-ASCII", "%ü%", "Grüße", true);
        row("blanks-only pattern, equal blanks", "   ", "   ", true);
        row("blanks-only pattern, fewer blanks", "   ", "  ", false);
        row("blanks in contains", "% %", "two words", true);
        row("blanks in contains, none", "% %", "oneword", false);
        // Letter case.
        row("ASCII", "LAPTOP", "laptop", true);
        row("ASCII contains", "%LaP%", "my LAPtop", true);
        row("ASCII punctuation is not folded", "[", "{", false);
        row("ASCII @ and `", "@", "`", false);
        row("é and É", "café", "CAFÉ", true);
        row("É and é in contains", "%É%", "café", true);
        row("é is not e", "cafe", "café", false);
        row("Greek", "ΩΜΕΓΑ", "ωμεγα", true);
        row("Greek final sigma", "%Σ", "λόγος", true);
        row("Cyrillic", "%ПРИВЕТ%", "скажи привет", true);
        row("ß stays ß", "STRASSE", "straße", false);
        row("ß matches ß", "%ß%", "Straße", true);
        row("capital sharp s folds to ß", "ẞ", "ß", true);
        row("Kelvin sign folds to k", "k", "K", true);
        row("different letters", "Ω", "Ψ", false);
        // The escape character.
        row("escaped % is literal", "100!%", "100%", true, '!');
        row("escaped % is not a wildcard", "100!%", "1000", false, '!');
        row("escaped _ is literal", "a!_b", "a_b", true, '!');
        row("escaped _ is not a wildcard", "a!_b", "axb", false, '!');
        row("escaped escape", "a!!b", "a!b", true, '!');
        row("escape in contains", "%5!%%", "a 5% rise", true, '!');
        row("escape in contains, absent", "%5!%%", "a 50 rise", false, '!');
        row("escape at the end matches nothing", "abc!", "abc!", false, '!');
        row("escape at the end after %", "%!", "x!", false, '!');
        row("% as escape character", "a%%", "a%", true, '%');
        row("% as escape makes %% one literal", "a%%", "a%x", false, '%');
        row("non-ASCII escape", "%é%%", "50% off", true, U'é');
        row("non-ASCII escape, literal _", "aé_", "a_", true, U'é');
        row("non-ASCII escape, not a wildcard", "aé_", "ax", false, U'é');
        row("escape with non-ASCII text", "%!%é", "50%é", true, '!');
        row("no escape leaves ! plain", "a!%", "a!bc", true, 0);
    }
    void matching() {
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

    // The register's LIKE as SQLite calls it for `text LIKE pattern`: the single value a statement returns.
    void sql_data() {
        QTest::addColumn<QString>("sql");
        QTest::addColumn<QString>("result");
        const char* escapeRefused = "error: ESCAPE expression must be a single character";
        const auto row = [](const char* sql, const char* result) {
            QTest::newRow(sql) << QString::fromUtf8(sql) << QString::fromUtf8(result);
        };
        row("SELECT NULL LIKE 'a'", "NULL");
        row("SELECT 'a' LIKE NULL", "NULL");
        row("SELECT 'a' LIKE 'a' ESCAPE NULL", "NULL");
        row("SELECT NULL NOT LIKE 'a'", "NULL");
        row("SELECT count(*) FROM (SELECT NULL AS d UNION ALL SELECT 'laptop') WHERE d LIKE '%lap%'", "1");
        // SQLite's own LIKE folds ASCII only; the register's folds every alphabet.
        row("SELECT 'CAFÉ' LIKE 'café'", "1");
        row("SELECT 'ΩΜΕΓΑ' LIKE '%μεγ%'", "1");
        // The text is on the left of LIKE and the pattern on the right: 'a%' is not a pattern here.
        row("SELECT 'a%' LIKE 'abc'", "0");
        row("SELECT 'abc' LIKE 'a%'", "1");
        row("SELECT like('a%', 'abc')", "1");
        row("SELECT 'abc' NOT LIKE 'A%'", "0");
        row("SELECT 12345 LIKE '%234%'", "1");
        row("SELECT '10%' LIKE '10!%' ESCAPE '!'", "1");
        row("SELECT '100' LIKE '10!%' ESCAPE '!'", "0");
        row("SELECT '10%' LIKE '10é%' ESCAPE 'é'", "1");
        row("SELECT 'a' LIKE 'a' ESCAPE '!!'", escapeRefused);
        row("SELECT 'a' LIKE 'a' ESCAPE ''", escapeRefused);
        row("SELECT 'a' LIKE 'a' ESCAPE 'éé'", escapeRefused);
    }
    void sql() {
        QFETCH(QString, sql);
        QFETCH(QString, result);
        QCOMPARE(MemoryDb().scalar(sql.toUtf8().constData()), result);
    }
};

QTEST_GUILESS_MAIN(TestLike)
#include "tst_like.moc"
