// Checking, laying out and drawing a run of labels. Everything is measured in millimetres and turned into the
// device's dots only when drawn, with no transformation on the painter: a PDF then holds each module as a plain
// rectangle of the page and each line as text in the embedded face, and a printer gets exact vector shapes.
//
// A label is laid out once for the whole run, for its largest QR code, its widest Code 128 symbol and its
// widest identifier: in a landscape label the QR code stands on the left and the text beside it, with the
// Code 128 symbol under the text, or across the whole label's foot when the column is too narrow for it; in a
// portrait label the code stands on top and the text under it.
#include "labels/labelsheet.h"

#include "data/errors.h"
#include "labels/symbols.h"

#include <QFont>
#include <QFontDatabase>
#include <QFontMetricsF>
#include <QLocale>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <QtConcurrent/QtConcurrentMap>
#include <algorithm>
#include <cmath>
#include <optional>

// The symbols of one asset's labels.
struct LabelSymbols {
    Symbol qr;
    std::optional<Symbol> code;
};

struct LabelSheet::Extremes {
    int qrModules = 0;
    QString qrId;
    int codeModules = 0; // 0: no Code 128 on any label
    QString codeId;
    double identifierEms = 0; // the widest identifier's width in ems of its face
    QString identifierId;
};

namespace {

constexpr double kMillimetresPerInch = 25.4;
// A line's height in ems: the identifier's, and the other lines'.
constexpr double kIdentifierSpacing = 1.15;
constexpr double kLineSpacing = 1.25;
// The ems the text is written at, in millimetres: the identifier as large as its room allows within these,
// the other lines about half its size.
constexpr double kLargestIdentifier = 9;
constexpr double kSmallestIdentifier = 2.2;
constexpr double kLargestLine = 3.2;
constexpr double kSmallestLine = 1.7;
// The Code 128 symbol's height, and the widest bar it is drawn with: wider bars only make it longer.
constexpr double kSmallestCodeHeight = 3.5;
constexpr double kLargestCodeHeight = 10;
constexpr double kWidestBar = 0.5;
// The outline of a trial print.
constexpr double kOutlineWidth = 0.1;
// The size fonts are measured at, in pixels, where rounding does not show.
constexpr int kMeasuringSize = 1000;
// How many identifiers a message names before it counts the rest.
constexpr int kNamedInNotes = 5;

// The face at sizeMm, in the device's pixels; regular weight throughout, the identifier standing out by size.
QFont labelFont(double sizeMm, double dotsPerMm) {
    QFont f;
    f.setFamilies({labelFontFamily(), QStringLiteral("EB Garamond")});
    f.setStyleHint(QFont::Serif);
    f.setHintingPreference(QFont::PreferNoHinting);
    // Never larger than laid out: rounding up could push a line past its room.
    f.setPixelSize(std::max(1, static_cast<int>(std::floor(sizeMm * dotsPerMm))));
    return f;
}

QString labelSize(const LabelStock& stock) {
    return QStringLiteral("%1 x %2 mm").arg(millimetres(stock.label.width()), millimetres(stock.label.height()));
}

// A size that falls short of the smallest readable one, to hundredths of a millimetre rounded down, so that it
// never reads as the smallest itself.
QString shortOf(double mm) {
    return QString::number(std::floor(std::max(0.0, mm) * 100) / 100, 'f', 2);
}

QString thousands(long long n) {
    return QLocale(QLocale::English).toString(n);
}

// The symbols for the assets of indexes, made on every core: a QR code takes a tenth of a millisecond, most of
// it spent choosing the best of its eight masks.
std::vector<LabelSymbols> symbolsFor(const std::vector<LabelAsset>& assets, const std::vector<size_t>& indexes,
                                     bool code128) {
    struct Made {
        LabelSymbols symbols;
        QString error;
    };
    const std::function<Made(size_t)> make = [&](size_t i) {
        Made m;
        try {
            const QString& id = assets[i].id;
            m.symbols.qr = qrSymbol(id);
            if (code128 && code128Refusal(id).isEmpty()) {
                m.symbols.code = code128Symbol(id);
            }
        } catch (const ControlError& e) {
            m.error = e.text();
        }
        return m;
    };
    const QList<Made> made = QtConcurrent::blockingMapped<QList<Made>>(indexes, make);
    std::vector<LabelSymbols> out;
    out.reserve(static_cast<size_t>(made.size()));
    for (const Made& m : made) {
        if (!m.error.isEmpty()) {
            throw ControlError(m.error);
        }
        out.push_back(m.symbols);
    }
    return out;
}

} // namespace

QPageSize labelPageSize(const LabelStock& stock) {
    for (const QPageSize::PageSizeId id : {QPageSize::A4, QPageSize::Letter}) {
        const QSizeF standard = QPageSize::size(id, QPageSize::Millimeter);
        if (std::abs(standard.width() - stock.page.width()) < 0.05 &&
            std::abs(standard.height() - stock.page.height()) < 0.05) {
            return QPageSize(id);
        }
    }
    return QPageSize(stock.page, QPageSize::Millimeter, stock.name, QPageSize::ExactMatch);
}

QString labelFontFamily() {
    static const QString family = [] {
        const QString ours = QStringLiteral("Vantrel Garamond");
        if (QFontDatabase::families().contains(ours)) {
            return ours;
        }
        const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/VantrelGaramond-Regular.otf"));
        const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
        return families.isEmpty() ? QStringLiteral("EB Garamond") : families.first();
    }();
    return family;
}

LabelSheet::LabelSheet(LabelJob job, std::vector<LabelAsset> assets)
    : job_(std::move(job)), assets_(std::move(assets)) {
    check();
}

long long LabelSheet::labelCount() const {
    return static_cast<long long>(assets_.size()) * job_.copies;
}

int LabelSheet::pageCount() const {
    const int perPage = job_.stock.perPage();
    if (perPage <= 0 || labelCount() == 0) {
        return 0;
    }
    return static_cast<int>((job_.start - 1 + labelCount() + perPage - 1) / perPage);
}

void LabelSheet::check() {
    problems_ = stockProblems(job_.stock);
    if (!problems_.isEmpty()) {
        return;
    }
    const int perPage = job_.stock.perPage();
    if (job_.start < 1 || job_.start > perPage) {
        problems_ << (perPage == 1 ? QStringLiteral("Each page of this stock holds one label, so labels start at 1; %1 "
                                                    "was given.")
                                         .arg(job_.start)
                                   : QStringLiteral("A page of this stock holds %1 labels, so labels start at 1 to %1; "
                                                    "%2 was given.")
                                         .arg(perPage)
                                         .arg(job_.start));
    }
    if (job_.copies < 1 || job_.copies > kMostCopies) {
        problems_ << QStringLiteral("Each asset may have 1 to %1 labels; %2 were asked for.")
                         .arg(thousands(kMostCopies), thousands(job_.copies));
    }
    if (!std::isfinite(job_.offset.x()) || !std::isfinite(job_.offset.y()) ||
        std::abs(job_.offset.x()) > job_.stock.page.width() || std::abs(job_.offset.y()) > job_.stock.page.height()) {
        problems_ << QStringLiteral("The print offset of %1, %2 mm moves the labels off the page.")
                         .arg(millimetres(job_.offset.x()), millimetres(job_.offset.y()));
    }
    if (assets_.empty()) {
        problems_ << QStringLiteral("There are no assets to print labels for.");
    }
    if (!problems_.isEmpty()) {
        return;
    }

    // Every asset's codes and identifier are measured before anything is drawn, so that a run is refused as a
    // whole rather than stopped half printed.
    struct Measure {
        int qr = 0;
        int code = 0;
        QString refusal;
        QString error;
    };
    const bool code128 = job_.content.code128;
    const std::function<Measure(const LabelAsset&)> measure = [code128](const LabelAsset& a) {
        Measure m;
        if (a.id.isEmpty()) {
            return m;
        }
        try {
            m.qr = qrModules(a.id);
            if (code128) {
                m.refusal = code128Refusal(a.id);
                m.code = m.refusal.isEmpty() ? code128Modules(a.id) : 0;
            }
        } catch (const ControlError& e) {
            m.error = e.text();
        }
        return m;
    };
    const QList<Measure> measured = QtConcurrent::blockingMapped<QList<Measure>>(assets_, measure);

    Extremes extremes;
    const QFontMetricsF metrics(labelFont(kMeasuringSize, 1));
    QStringList refused;
    int unnamed = 0;
    for (size_t i = 0; i < assets_.size(); ++i) {
        const LabelAsset& a = assets_[i];
        const Measure& m = measured[static_cast<qsizetype>(i)];
        if (a.id.isEmpty()) {
            ++unnamed;
            continue;
        }
        if (!m.error.isEmpty()) {
            problems_ << m.error;
            continue;
        }
        if (m.qr > extremes.qrModules) {
            extremes.qrModules = m.qr;
            extremes.qrId = a.id;
        }
        if (m.code > extremes.codeModules) {
            extremes.codeModules = m.code;
            extremes.codeId = a.id;
        }
        if (!m.refusal.isEmpty() && !refused.contains(a.id)) {
            if (refused.size() < kNamedInNotes) {
                notes_ << QStringLiteral("%1 has no Code 128 symbol: %2. Its labels carry the QR code alone, in UTF-8.")
                              .arg(a.id, m.refusal);
            }
            refused << a.id;
        }
        const double ems = metrics.horizontalAdvance(a.id) / kMeasuringSize;
        if (ems > extremes.identifierEms) {
            extremes.identifierEms = ems;
            extremes.identifierId = a.id;
        }
    }
    if (refused.size() > kNamedInNotes) {
        notes_ << QStringLiteral("%1 more identifiers have no Code 128 symbol for the same reason.")
                      .arg(thousands(refused.size() - kNamedInNotes));
    }
    if (unnamed > 0) {
        problems_ << QStringLiteral("%1 of the assets chosen %2 no identifier, and a label without one is of no use.")
                         .arg(thousands(unnamed), unnamed == 1 ? QStringLiteral("has") : QStringLiteral("have"));
    }
    if (problems_.isEmpty()) {
        largestQr_ = extremes.qrModules;
        if (const QString problem = chooseLayout(extremes); !problem.isEmpty()) {
            problems_ << problem;
        }
    }
}

QString LabelSheet::chooseLayout(const Extremes& x) {
    const LabelContent& c = job_.content;
    const QSizeF size = job_.stock.label;
    const double shorter = std::min(size.width(), size.height());
    const double pad = std::clamp(0.06 * shorter, 0.6, 2.0);
    const double gap = pad;
    const QRectF inner(pad, pad, size.width() - 2 * pad, size.height() - 2 * pad);
    const int lines = int(c.company) + int(c.group) + int(c.description) + int(c.lastCheck);
    const bool withCode = x.codeModules > 0;
    const QString labels = labelSize(job_.stock);

    enum class Shape { Beside, CodeBelow, Stacked };
    bool codeTooNarrow = false; // the last attempt failed for the Code 128 symbol's width
    const auto attempt = [&](Shape shape, LabelLayout& l) -> QString {
        QRectF text;
        bool codeInText = withCode;
        if (shape == Shape::Stacked) {
            const double side = std::min(inner.width(), 0.6 * inner.height());
            l.qr = QRectF(inner.x() + (inner.width() - side) / 2, inner.y(), side, side);
            text = QRectF(inner.x(), inner.y() + side + gap, inner.width(), inner.height() - side - gap);
            l.centred = true;
        } else if (shape == Shape::Beside) {
            const double side = std::min(inner.height(), 0.45 * inner.width());
            l.qr = QRectF(inner.x(), inner.y() + (inner.height() - side) / 2, side, side);
            text = QRectF(inner.x() + side + gap, inner.y(), inner.width() - side - gap, inner.height());
        } else {
            const double codeHeight = std::clamp(0.3 * inner.height(), kSmallestCodeHeight, kLargestCodeHeight);
            l.code = QRectF(inner.x(), inner.bottom() - codeHeight, inner.width(), codeHeight);
            const double upper = inner.height() - codeHeight - gap;
            const double side = std::min(upper, 0.45 * inner.width());
            l.qr = QRectF(inner.x(), inner.y(), side, side);
            text = QRectF(inner.x() + side + gap, inner.y(), inner.width() - side - gap, upper);
            codeInText = false;
        }
        const double module = l.qr.width() / x.qrModules;
        if (module < kSmallestModule) {
            return QStringLiteral(
                       "Labels of %1 are too small for a readable QR code of %2: its modules would be %3 mm, "
                       "and scanners need %4 mm at least. Choose larger labels.")
                .arg(labels, x.qrId, shortOf(module), QString::number(kSmallestModule, 'f', 2));
        }
        if (withCode) {
            const double bar = (codeInText ? text.width() : l.code.width()) / x.codeModules;
            if (bar < kSmallestModule) {
                codeTooNarrow = true;
                return QStringLiteral("Labels of %1 are too narrow for a readable Code 128 symbol of %2: its bars "
                                      "would be %3 mm, and scanners need %4 mm at least. Leave out Code 128 or choose "
                                      "larger labels.")
                    .arg(labels, x.codeId, shortOf(bar), QString::number(kSmallestModule, 'f', 2));
            }
        }
        const double widthLimit = text.width() / x.identifierEms;
        if (widthLimit < kSmallestIdentifier) {
            return QStringLiteral("The identifier %1 is too long to print on labels of %2.")
                .arg(x.identifierId, labels);
        }
        // The text's sizes in room of height: the identifier as large as the room allows and the lines half
        // that, shrunk together to fit; then, if the lines came out too small, the lines at their smallest and
        // the identifier in what is left.
        double identifier = 0;
        double line = 0;
        const auto fit = [&](double height) {
            identifier = std::min({kLargestIdentifier, widthLimit, height / kIdentifierSpacing});
            line = lines > 0 ? std::clamp(0.5 * identifier, kSmallestLine, kLargestLine) : 0;
            const double needed = identifier * kIdentifierSpacing + lines * line * kLineSpacing;
            if (needed > height) {
                const double f = std::max(0.0, height) / needed;
                identifier *= f;
                line *= f;
            }
            if (lines > 0 && line < kSmallestLine) {
                line = kSmallestLine;
                identifier = std::min(widthLimit, (height - lines * line * kLineSpacing) / kIdentifierSpacing);
            }
            return identifier >= kSmallestIdentifier;
        };
        // A Code 128 symbol under the text takes what the text can spare, down to its smallest height.
        bool fits = false;
        if (codeInText) {
            for (const double share : {0.4, 0.0}) {
                const double codeHeight = std::clamp(share * text.height(), kSmallestCodeHeight, kLargestCodeHeight);
                const double room = text.height() - codeHeight - gap;
                if (fit(room)) {
                    l.code = QRectF(text.x(), text.bottom() - codeHeight, text.width(), codeHeight);
                    text.setHeight(room);
                    fits = true;
                    break;
                }
            }
        } else {
            fits = fit(text.height());
        }
        if (!fits) {
            return QStringLiteral("Labels of %1 have no room for the text chosen. Leave out some of the company name, "
                                  "group, description and check date%2, or choose larger labels.")
                .arg(labels, withCode ? QStringLiteral(" or the Code 128 symbol") : QString());
        }
        // The lines stand together in the middle of their room.
        const double used = identifier * kIdentifierSpacing + lines * line * kLineSpacing;
        l.text = QRectF(text.x(), text.y() + (text.height() - used) / 2, text.width(), used);
        l.identifierSize = identifier;
        l.lineSize = line;
        return QString();
    };

    std::vector<Shape> shapes;
    if (inner.width() >= 1.25 * inner.height()) {
        shapes = withCode ? std::vector<Shape>{Shape::Beside, Shape::CodeBelow} : std::vector<Shape>{Shape::Beside};
    } else {
        shapes = {Shape::Stacked};
    }
    // When no shape serves, the first one's reason is said, unless that was the Code 128 symbol's width: the
    // shapes after it are there to give the symbol more, and the last one's reason is then the nearer miss.
    QString said;
    bool firstForCode = false;
    for (size_t i = 0; i < shapes.size(); ++i) {
        LabelLayout l;
        codeTooNarrow = false;
        const QString problem = attempt(shapes[i], l);
        if (problem.isEmpty()) {
            layout_ = l;
            return QString();
        }
        if (i == 0) {
            firstForCode = codeTooNarrow;
            said = problem;
        } else if (firstForCode) {
            said = problem;
        }
    }
    return said;
}

void LabelSheet::drawPage(QPainter& painter, int page) const {
    const double dotsPerMm = painter.device()->logicalDpiX() / kMillimetresPerInch;
    const long long perPage = job_.stock.perPage();
    const long long skipped = job_.start - 1;
    const long long end = std::min((page + 1) * perPage, skipped + labelCount());
    const long long begin = std::max(page * perPage, skipped);
    if (begin >= end) {
        return;
    }
    // Each asset's symbols are made once for its copies on the page.
    const auto assetOf = [&](long long slot) { return static_cast<size_t>((slot - skipped) / job_.copies); };
    std::vector<size_t> indexes;
    for (size_t i = assetOf(begin); i <= assetOf(end - 1); ++i) {
        indexes.push_back(i);
    }
    const std::vector<LabelSymbols> symbols = symbolsFor(assets_, indexes, job_.content.code128);
    for (long long slot = begin; slot < end; ++slot) {
        const size_t asset = assetOf(slot);
        const QRectF frame = job_.stock.labelRect(static_cast<int>(slot % perPage)).translated(job_.offset);
        drawLabel(painter, dotsPerMm, frame, assets_[asset], symbols[asset - indexes.front()]);
    }
}

void LabelSheet::drawLabel(QPainter& painter, double dotsPerMm, const QRectF& frame, const LabelAsset& asset,
                           const LabelSymbols& symbols) const {
    const auto place = [&](const QRectF& r) {
        return QRectF((frame.x() + r.x()) * dotsPerMm, (frame.y() + r.y()) * dotsPerMm, r.width() * dotsPerMm,
                      r.height() * dotsPerMm);
    };
    const LabelLayout& l = layout_;
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::black);
    std::vector<QRectF> dark;

    // The layout was made for the largest QR code of the run; a smaller one gets larger modules.
    if (symbols.qr.width > largestQr_) {
        throw ControlError(QStringLiteral("The QR code of %1 came out larger than it was measured").arg(asset.id));
    }
    const QRectF qr = place(l.qr);
    const double module = qr.width() / symbols.qr.width;
    for (const QRectF& r : symbols.qr.dark) {
        dark.emplace_back(qr.x() + r.x() * module, qr.y() + r.y() * module, r.width() * module, r.height() * module);
    }
    painter.drawRects(dark.data(), static_cast<int>(dark.size()));

    if (symbols.code) {
        const QRectF area = place(l.code);
        const double bar = std::min(area.width() / symbols.code->width, kWidestBar * dotsPerMm);
        const double left = l.centred ? area.x() + (area.width() - bar * symbols.code->width) / 2 : area.x();
        dark.clear();
        for (const QRectF& r : symbols.code->dark) {
            dark.emplace_back(left + r.x() * bar, area.y(), r.width() * bar, area.height());
        }
        painter.drawRects(dark.data(), static_cast<int>(dark.size()));
    }

    // The lines in order: the company above the identifier, the rest below it. A line that does not fit is cut
    // short with an ellipsis; the identifier always fits, as the layout was made for the widest.
    struct Line {
        QString text;
        bool identifier;
    };
    const LabelContent& c = job_.content;
    std::vector<Line> lines;
    if (c.company) {
        lines.push_back({job_.company, false});
    }
    lines.push_back({asset.id, true});
    if (c.group) {
        lines.push_back({asset.group, false});
    }
    if (c.description) {
        lines.push_back({asset.description, false});
    }
    if (c.lastCheck) {
        const bool checked = asset.electrical && asset.lastCheck.isValid();
        // In ISO form: a label outlives the locale it was printed in, and the inspector reading it may be abroad.
        lines.push_back(
            {checked ? QStringLiteral("Checked %1").arg(asset.lastCheck.toString(Qt::ISODate)) : QString(), false});
    }
    const QRectF text = place(l.text);
    const QFont identifierFont = labelFont(l.identifierSize, dotsPerMm);
    const QFont lineFont = labelFont(l.lineSize, dotsPerMm);
    painter.setPen(Qt::black);
    double top = text.y();
    for (const Line& line : lines) {
        const QFont& font = line.identifier ? identifierFont : lineFont;
        const double height =
            (line.identifier ? l.identifierSize * kIdentifierSpacing : l.lineSize * kLineSpacing) * dotsPerMm;
        if (!line.text.isEmpty()) {
            painter.setFont(font);
            const QFontMetricsF m(font, painter.device());
            const QString shown = line.identifier ? line.text : m.elidedText(line.text, Qt::ElideRight, text.width());
            const double width = m.horizontalAdvance(shown);
            const double x = l.centred ? text.x() + (text.width() - width) / 2 : text.x();
            // The capitals and the descenders sit in the middle of the line's height.
            const double baseline = top + (height - m.capHeight() - m.descent()) / 2 + m.capHeight();
            painter.drawText(QPointF(x, baseline), shown);
        }
        top += height;
    }

    if (job_.outlines) {
        painter.setPen(QPen(Qt::black, kOutlineWidth * dotsPerMm));
        painter.setBrush(Qt::NoBrush);
        // Inside the label, so a roll's frame is not cut in half by the page's edge.
        const double inset = kOutlineWidth / 2;
        painter.drawRect(place(QRectF(QPointF(0, 0), job_.stock.label).adjusted(inset, inset, -inset, -inset)));
    }
}

bool LabelSheet::print(QPagedPaintDevice& device, const std::function<bool(int, int)>& carryOn,
                       const std::function<void()>& abandon) const {
    QPageLayout page(labelPageSize(job_.stock), QPageLayout::Portrait, QMarginsF(), QPageLayout::Millimeter);
    page.setMode(QPageLayout::FullPageMode);
    if (!device.setPageLayout(page)) {
        throw ControlError(QStringLiteral("The printer cannot take pages of %1 x %2 mm")
                               .arg(millimetres(job_.stock.page.width()), millimetres(job_.stock.page.height())));
    }
    QPainter painter;
    if (!painter.begin(&device)) {
        throw ControlError(QStringLiteral("The labels cannot be drawn on the printer or file chosen"));
    }
    // A run stopped part way, by the person or by a failure, is abandoned before the painter ends: ending it
    // would send a printer what was drawn so far.
    const auto stop = [&] {
        if (abandon) {
            abandon();
        }
        painter.end();
    };
    const int pages = pageCount();
    for (int n = 0; n < pages; ++n) {
        try {
            if (n > 0 && !device.newPage()) {
                throw ControlError(QStringLiteral("The printer or file chosen took no more than %1 pages").arg(n));
            }
            drawPage(painter, n);
        } catch (const ControlError&) {
            stop();
            throw;
        }
        if (!carryOn(n + 1, pages)) {
            stop();
            return false;
        }
    }
    if (!painter.end()) {
        throw ControlError(QStringLiteral("The labels could not be finished on the printer or file chosen"));
    }
    return true;
}
