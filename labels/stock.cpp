// The stocks and the checks that keep every label on its page.
#include "labels/stock.h"

#include <cmath>

namespace {

constexpr double kInch = 25.4;
constexpr QSizeF kA4{210, 297};
constexpr QSizeF kLetter{8.5 * kInch, 11 * kInch};
// Rounding of the published figures aside: a label that reaches this far past the page still counts as on it.
constexpr double kTolerance = 0.005;
constexpr int kMostColumnsOrRows = 100;

LabelStock sheet(const char* key, const QString& paper, const QSizeF& page, int columns, int rows, const QSizeF& label,
                 double gapAcross, double marginLeft, double marginTop, const QString& shownSize) {
    LabelStock s;
    s.key = QString::fromLatin1(key);
    s.name = QStringLiteral("%1 sheet, %2 labels %3 mm").arg(paper).arg(columns * rows).arg(shownSize);
    s.page = page;
    s.columns = columns;
    s.rows = rows;
    s.label = label;
    s.gapAcross = gapAcross;
    s.marginLeft = marginLeft;
    s.marginTop = marginTop;
    return s;
}

LabelStock roll(const char* key, const QSizeF& label) {
    LabelStock s;
    s.key = QString::fromLatin1(key);
    s.name = QStringLiteral("Roll, labels %1 x %2 mm").arg(millimetres(label.width()), millimetres(label.height()));
    s.page = label;
    s.label = label;
    s.roll = true;
    return s;
}

} // namespace

QRectF LabelStock::labelRect(int position) const {
    const int column = position % columns;
    const int row = position / columns;
    return QRectF(marginLeft + column * (label.width() + gapAcross), marginTop + row * (label.height() + gapDown),
                  label.width(), label.height());
}

const std::vector<LabelStock>& presetStocks() {
    // The sheets' published geometry; the US sheets are measured in inches and converted exactly.
    static const std::vector<LabelStock> presets{
        sheet("a4-65", QStringLiteral("A4"), kA4, 5, 13, {38.1, 21.2}, 2.5, 4.75, 10.7, QStringLiteral("38.1 x 21.2")),
        sheet("a4-24", QStringLiteral("A4"), kA4, 3, 8, {63.5, 33.9}, 2.5, 7.2, 12.9, QStringLiteral("63.5 x 33.9")),
        sheet("a4-21", QStringLiteral("A4"), kA4, 3, 7, {63.5, 38.1}, 2.5, 7.2, 15.15, QStringLiteral("63.5 x 38.1")),
        sheet("a4-14", QStringLiteral("A4"), kA4, 2, 7, {99.1, 38.1}, 2.5, 4.65, 15.15, QStringLiteral("99.1 x 38.1")),
        sheet("letter-30", QStringLiteral("US Letter"), kLetter, 3, 10, {2.625 * kInch, 1 * kInch}, 0.125 * kInch,
              0.1875 * kInch, 0.5 * kInch, QStringLiteral("66.7 x 25.4")),
        sheet("letter-80", QStringLiteral("US Letter"), kLetter, 4, 20, {1.75 * kInch, 0.5 * kInch}, 0.3125 * kInch,
              0.28125 * kInch, 0.5 * kInch, QStringLiteral("44.5 x 12.7")),
        tapeStock(kDefaultTapeLength),
        roll("roll-89x36", {89, 36}),
        roll("roll-57x32", {57, 32}),
        roll("roll-25x54", {25, 54}),
    };
    return presets;
}

std::optional<LabelStock> presetStock(const QString& key) {
    for (const LabelStock& s : presetStocks()) {
        if (s.key.compare(key, Qt::CaseInsensitive) == 0) {
            return s;
        }
    }
    return std::nullopt;
}

LabelStock tapeStock(double length) {
    LabelStock s;
    s.key = QStringLiteral("tape-62");
    s.name = QStringLiteral("62 mm tape, cut at %1 mm").arg(millimetres(length));
    s.page = QSizeF(kTapeWidth, length);
    s.label = s.page;
    s.roll = true;
    s.tape = true;
    return s;
}

LabelStock customStock(const QSizeF& page, int columns, int rows, const QSizeF& label, double gapAcross, double gapDown,
                       double marginLeft, double marginTop) {
    LabelStock s;
    s.key = QStringLiteral("custom");
    s.name = QStringLiteral("Custom: %1 x %2 mm page, %3 x %4 labels of %5 x %6 mm")
                 .arg(millimetres(page.width()), millimetres(page.height()))
                 .arg(columns)
                 .arg(rows)
                 .arg(millimetres(label.width()), millimetres(label.height()));
    s.page = page;
    s.columns = columns;
    s.rows = rows;
    s.label = label;
    s.gapAcross = gapAcross;
    s.gapDown = gapDown;
    s.marginLeft = marginLeft;
    s.marginTop = marginTop;
    return s;
}

double centredMargin(double pageSide, int count, double size, double gap) {
    return (pageSide - count * size - (count - 1) * gap) / 2;
}

QStringList stockProblems(const LabelStock& s) {
    QStringList problems;
    const auto positive = [&](const QString& what, double value, double largest) {
        if (!std::isfinite(value) || value <= 0) {
            problems << QStringLiteral("The %1 must be more than 0 mm; it is %2 mm.").arg(what, millimetres(value));
            return false;
        }
        if (value > largest) {
            problems << QStringLiteral("The %1 must be at most %2 mm; it is %3 mm.")
                            .arg(what, millimetres(largest), millimetres(value));
            return false;
        }
        return true;
    };
    const auto notNegative = [&](const QString& what, double value) {
        if (!std::isfinite(value) || value < 0) {
            problems << QStringLiteral("The %1 must be 0 mm or more; it is %2 mm.").arg(what, millimetres(value));
            return false;
        }
        return true;
    };
    const auto count = [&](const QString& what, int value) {
        if (value < 1 || value > kMostColumnsOrRows) {
            problems << QStringLiteral("There must be 1 to %1 %2; there are %3.")
                            .arg(kMostColumnsOrRows)
                            .arg(what)
                            .arg(value);
            return false;
        }
        return true;
    };
    const QString length = s.tape ? QStringLiteral("length the tape is cut at") : QStringLiteral("page height");
    bool sound = positive(QStringLiteral("page width"), s.page.width(), kLargestPageSide);
    sound = positive(length, s.page.height(), kLargestPageSide) && sound;
    if (s.roll) {
        return problems; // the label is the page
    }
    sound = count(QStringLiteral("columns"), s.columns) && sound;
    sound = count(QStringLiteral("rows"), s.rows) && sound;
    sound = positive(QStringLiteral("label width"), s.label.width(), kLargestPageSide) && sound;
    sound = positive(QStringLiteral("label height"), s.label.height(), kLargestPageSide) && sound;
    sound = notNegative(QStringLiteral("gap between columns"), s.gapAcross) && sound;
    sound = notNegative(QStringLiteral("gap between rows"), s.gapDown) && sound;
    sound = notNegative(QStringLiteral("left margin"), s.marginLeft) && sound;
    sound = notNegative(QStringLiteral("top margin"), s.marginTop) && sound;
    if (!sound) {
        return problems;
    }
    const double across = s.marginLeft + s.columns * s.label.width() + (s.columns - 1) * s.gapAcross;
    if (across > s.page.width() + kTolerance) {
        problems << QStringLiteral(
                        "The labels do not fit across the page: %1 columns of %2 mm with gaps of %3 mm from a "
                        "left margin of %4 mm reach %5 mm, and the page is %6 mm wide.")
                        .arg(s.columns)
                        .arg(millimetres(s.label.width()), millimetres(s.gapAcross), millimetres(s.marginLeft),
                             millimetres(across), millimetres(s.page.width()));
    }
    const double down = s.marginTop + s.rows * s.label.height() + (s.rows - 1) * s.gapDown;
    if (down > s.page.height() + kTolerance) {
        problems << QStringLiteral(
                        "The labels do not fit down the page: %1 rows of %2 mm with gaps of %3 mm from a top "
                        "margin of %4 mm reach %5 mm, and the page is %6 mm high.")
                        .arg(s.rows)
                        .arg(millimetres(s.label.height()), millimetres(s.gapDown), millimetres(s.marginTop),
                             millimetres(down), millimetres(s.page.height()));
    }
    return problems;
}

QString millimetres(double mm) {
    if (!std::isfinite(mm)) {
        return QStringLiteral("%1").arg(mm);
    }
    QString text = QString::number(std::round(mm * 100) / 100, 'f', 2);
    while (text.endsWith(QLatin1Char('0'))) {
        text.chop(1);
    }
    if (text.endsWith(QLatin1Char('.'))) {
        text.chop(1);
    }
    return text == QLatin1String("-0") ? QStringLiteral("0") : text;
}
