// The placeholder scanner: one pass over the line, a tilde opening and the next one closing a name.
#include "reporting/placeholders.h"

#include "data/asciicase.h"

namespace {

// A placeholder name as it is compared: blanks and control characters stripped from both ends, ASCII
// letters upper-cased.
QString placeholderKey(QStringView name) {
    qsizetype from = 0;
    qsizetype to = name.size();
    while (from < to && name.at(from).unicode() <= ' ') {
        ++from;
    }
    while (to > from && name.at(to - 1).unicode() <= ' ') {
        --to;
    }
    return upperAscii(name.mid(from, to - from).toString());
}

} // namespace

QString expandPlaceholders(const QString& line, const std::function<QString(const QString& name)>& valueOf) {
    QString out;
    out.reserve(line.size());
    bool inside = false;
    qsizetype opened = 0;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line.at(i);
        if (c == QLatin1Char('~')) {
            if (inside) {
                out += valueOf(placeholderKey(QStringView(line).mid(opened + 1, i - opened - 1))).toHtmlEscaped();
            } else {
                opened = i;
            }
            inside = !inside;
        } else if (!inside) {
            out += c;
        }
    }
    return out;
}
