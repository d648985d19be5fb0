// Fuzzes the expansion of report template lines. Whatever the line, the names handed over are trimmed and
// upper-cased, no tilde reaches the report, values arrive HTML-escaped, and the result is what a plain
// reading of the rules gives: text outside tildes copied, ~NAME~ replaced, an unmatched tilde dropping the
// rest of the line.
#include "reporting/placeholders.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// A value per name, with markup and a line break in it, so escaping shows.
QString valueOf(const QString& name) {
    if (name == QLatin1String("TITLE")) {
        return QStringLiteral("Assets <by group> & \"totals\"");
    }
    if (name == QLatin1String("USER")) {
        return QStringLiteral("s");
    }
    if (name == QLatin1String("COMPANYNAME")) {
        return QStringLiteral("Kelton & Sons\r\nLtd");
    }
    return QString();
}

QString reference(const QString& line) {
    QString out;
    QString name;
    bool inside = false;
    for (const QChar c : line) {
        if (c == QLatin1Char('~')) {
            if (inside) {
                while (!name.isEmpty() && name.front().unicode() <= ' ') {
                    name.remove(0, 1);
                }
                while (!name.isEmpty() && name.back().unicode() <= ' ') {
                    name.chop(1);
                }
                for (QChar& n : name) {
                    if (n >= QLatin1Char('a') && n <= QLatin1Char('z')) {
                        n = QChar(n.unicode() - 32);
                    }
                }
                out += valueOf(name).toHtmlEscaped();
                name.clear();
            }
            inside = !inside;
        } else if (inside) {
            name += c;
        } else {
            out += c;
        }
    }
    return out;
}

[[noreturn]] void fault(const char* what, const QString& line, const QString& detail) {
    std::fprintf(stderr, "%s: line \"%s\": \"%s\"\n", what, line.toUtf8().constData(), detail.toUtf8().constData());
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString line = QString::fromUtf8(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString expanded = expandPlaceholders(line, [&](const QString& name) {
        if (!name.isEmpty() && (name.front().unicode() <= ' ' || name.back().unicode() <= ' ')) {
            fault("a name is handed over untrimmed", line, name);
        }
        for (const QChar c : name) {
            if (c >= QLatin1Char('a') && c <= QLatin1Char('z')) {
                fault("a name is handed over with lower-case letters", line, name);
            }
        }
        return valueOf(name);
    });
    if (expanded.contains(QLatin1Char('~'))) {
        fault("a tilde reached the report", line, expanded);
    }
    if (expanded != reference(line)) {
        fault("the expansion differs from the rules", line,
              expanded + QStringLiteral("\" instead of \"") + reference(line));
    }
    return 0;
}
