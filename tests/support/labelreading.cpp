// A small PDF reader, enough for the files the label tests produce: objects found by their "N 0 obj" marks,
// page order from the page tree, content streams inflated, and the drawing operators followed through the
// transformation matrix. Then the independent decoder, run on each label's own crop of the page.
#include "tests/support/labelreading.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QHash>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTransform>
#include <QtDebug>
#include <cctype>
#include <cmath>

namespace {

constexpr double kMmPerPoint = 25.4 / 72;

QHash<int, QByteArray> pdfObjects(const QByteArray& file) {
    QHash<int, QByteArray> objects;
    static const QRegularExpression start(QStringLiteral("(?:^|[\\r\\n])(\\d+) 0 obj"));
    qsizetype at = 0;
    QRegularExpressionMatch m;
    const QString text = QString::fromLatin1(file);
    while ((m = start.match(text, at)).hasMatch()) {
        const qsizetype body = m.capturedEnd();
        const qsizetype end = file.indexOf("endobj", body);
        if (end < 0) {
            break;
        }
        objects.insert(m.captured(1).toInt(), file.mid(body, end - body));
        at = end;
    }
    return objects;
}

// The number after key in a dictionary's text, or the object number of a reference there; with follow, the
// number the referenced object holds.
int dictionaryNumber(const QByteArray& dict, const QByteArray& key, const QHash<int, QByteArray>& objects,
                     bool follow = true) {
    static const QRegularExpression value(QStringLiteral("^\\s*(\\d+)(\\s+0\\s+R)?"));
    const qsizetype at = dict.indexOf(key);
    if (at < 0) {
        return -1;
    }
    const QRegularExpressionMatch m = value.match(QString::fromLatin1(dict.mid(at + key.size(), 40)));
    if (!m.hasMatch()) {
        return -1;
    }
    const int n = m.captured(1).toInt();
    return m.captured(2).isEmpty() || !follow ? n : objects.value(n).trimmed().toInt();
}

QByteArray streamOf(const QByteArray& object, const QHash<int, QByteArray>& objects) {
    const qsizetype mark = object.indexOf("stream");
    if (mark < 0) {
        return QByteArray();
    }
    qsizetype data = mark + 6;
    if (object.mid(data, 2) == "\r\n") {
        data += 2;
    } else if (object[data] == '\n' || object[data] == '\r') {
        data += 1;
    }
    const int length = dictionaryNumber(object.left(mark), "/Length", objects);
    const QByteArray raw = object.mid(data, length);
    if (!object.left(mark).contains("/FlateDecode")) {
        return raw;
    }
    // qUncompress reads zlib data after a four-byte size, which it only takes as a first guess.
    QByteArray sized(4, '\0');
    const quint32 guess = static_cast<quint32>(raw.size()) * 8 + 1024;
    for (int i = 0; i < 4; ++i) {
        sized[i] = static_cast<char>((guess >> (24 - 8 * i)) & 0xFF);
    }
    return qUncompress(sized + raw);
}

// Follows one content stream's operators, collecting what they paint.
class ContentReader {
public:
    ContentReader(double pageHeightPoints, std::vector<PdfShape>& out) : height_(pageHeightPoints), out_(out) {}

    void read(const QByteArray& s) {
        qsizetype i = 0;
        while (i < s.size()) {
            const char c = s[i];
            if (std::isspace(static_cast<unsigned char>(c))) {
                ++i;
            } else if (c == '%') {
                while (i < s.size() && s[i] != '\n' && s[i] != '\r') {
                    ++i;
                }
            } else if (c == '(') {
                i = skipString(s, i);
            } else if (c == '<' || c == '>' || c == '[' || c == ']') {
                if (c == '<' && s.mid(i, 2) != "<<") {
                    i = s.indexOf('>', i) + 1;
                } else {
                    i += (s.mid(i, 2) == "<<" || s.mid(i, 2) == ">>") ? 2 : 1;
                }
            } else if (c == '/') {
                ++i;
                while (i < s.size() && !isDelimiter(s[i])) {
                    ++i;
                }
            } else {
                const qsizetype from = i;
                while (i < s.size() && !isDelimiter(s[i])) {
                    ++i;
                }
                token(s.mid(from, i - from));
            }
        }
    }

private:
    static bool isDelimiter(char c) {
        return std::isspace(static_cast<unsigned char>(c)) || c == '(' || c == ')' || c == '<' || c == '>' ||
               c == '[' || c == ']' || c == '/' || c == '%';
    }

    static qsizetype skipString(const QByteArray& s, qsizetype i) {
        int depth = 0;
        for (; i < s.size(); ++i) {
            if (s[i] == '\\') {
                ++i;
            } else if (s[i] == '(') {
                ++depth;
            } else if (s[i] == ')' && --depth == 0) {
                return i + 1;
            }
        }
        return i;
    }

    QPointF toMm(const QPointF& p) const {
        const QPointF q = ctm_.map(p);
        return QPointF(q.x() * kMmPerPoint, (height_ - q.y()) * kMmPerPoint);
    }

    void addPoint(const QPointF& p) {
        const QPointF q = toMm(p);
        path_ = path_.isValid() ? path_.united(QRectF(q, QSizeF(0, 0))) : QRectF(q, QSizeF(0, 0));
        pathPoints_ = true;
    }

    void paint(PdfShape::Kind kind) {
        for (const QRectF& r : rects_) {
            out_.push_back({kind, r});
        }
        if (pathPoints_) {
            out_.push_back({kind, path_});
        }
        endPath();
    }

    void endPath() {
        rects_.clear();
        path_ = QRectF();
        pathPoints_ = false;
    }

    double operand(int fromEnd) const { return numbers_[numbers_.size() - 1 - fromEnd]; }

    void token(const QByteArray& t) {
        bool number = false;
        const double v = t.toDouble(&number);
        if (number) {
            numbers_.push_back(v);
            return;
        }
        const auto need = [&](size_t n) { return numbers_.size() >= n; };
        if (t == "q") {
            saved_.push_back(ctm_);
        } else if (t == "Q" && !saved_.empty()) {
            ctm_ = saved_.back();
            saved_.pop_back();
        } else if (t == "cm" && need(6)) {
            const QTransform m(operand(5), operand(4), operand(3), operand(2), operand(1), operand(0));
            ctm_ = m * ctm_;
        } else if (t == "re" && need(4)) {
            const double x = operand(3), y = operand(2), w = operand(1), h = operand(0);
            const QPointF a = toMm(QPointF(x, y));
            const QPointF b = toMm(QPointF(x + w, y + h));
            rects_.push_back(QRectF(a, b).normalized());
        } else if ((t == "m" || t == "l") && need(2)) {
            addPoint(QPointF(operand(1), operand(0)));
        } else if (t == "c" && need(6)) {
            for (int k = 0; k < 3; ++k) {
                addPoint(QPointF(operand(5 - 2 * k), operand(4 - 2 * k)));
            }
        } else if ((t == "v" || t == "y") && need(4)) {
            addPoint(QPointF(operand(3), operand(2)));
            addPoint(QPointF(operand(1), operand(0)));
        } else if (t == "S" || t == "s") {
            paint(PdfShape::Stroked);
        } else if (t == "f" || t == "F" || t == "f*" || t == "B" || t == "B*" || t == "b" || t == "b*") {
            paint(PdfShape::Filled);
        } else if (t == "n") {
            endPath();
        } else if (t == "BT") {
            text_ = QTransform();
            line_ = QTransform();
        } else if (t == "Tm" && need(6)) {
            text_ = line_ = QTransform(operand(5), operand(4), operand(3), operand(2), operand(1), operand(0));
        } else if ((t == "Td" || t == "TD") && need(2)) {
            line_ = QTransform::fromTranslate(operand(1), operand(0)) * line_;
            text_ = line_;
        } else if (t == "Tj" || t == "TJ" || t == "'" || t == "\"") {
            out_.push_back({PdfShape::Text, QRectF(toMm(text_.map(QPointF(0, 0))), QSizeF(0, 0))});
        }
        numbers_.clear();
    }

    double height_;
    std::vector<PdfShape>& out_;
    QTransform ctm_;
    std::vector<QTransform> saved_;
    QTransform text_;
    QTransform line_;
    std::vector<double> numbers_;
    std::vector<QRectF> rects_;
    QRectF path_;
    bool pathPoints_ = false;
};

} // namespace

std::vector<PdfPage> readPdfPages(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return {};
    }
    const QByteArray file = f.readAll();
    const QHash<int, QByteArray> objects = pdfObjects(file);
    // The page tree's kids, in order (one level, as the files made here have it).
    static const QRegularExpression reference(QStringLiteral("(\\d+)\\s+0\\s+R"));
    std::vector<int> order;
    for (const QByteArray& o : objects) {
        if (o.contains("/Type /Pages") || o.contains("/Type/Pages")) {
            const qsizetype kids = o.indexOf("/Kids");
            const QString list = QString::fromLatin1(o.mid(kids, o.indexOf(']', kids) - kids));
            for (const QRegularExpressionMatch& m : reference.globalMatch(list)) {
                order.push_back(m.captured(1).toInt());
            }
        }
    }
    static const QRegularExpression box(QStringLiteral("/MediaBox\\s*\\[\\s*([-\\d.]+)\\s+([-\\d.]+)\\s+([-\\d.]+)\\s+"
                                                       "([-\\d.]+)\\s*\\]"));
    std::vector<PdfPage> pages;
    for (const int n : order) {
        const QByteArray& o = objects.value(n);
        const QRegularExpressionMatch m = box.match(QString::fromLatin1(o));
        if (!m.hasMatch()) {
            return {};
        }
        const double width = m.captured(3).toDouble() - m.captured(1).toDouble();
        const double height = m.captured(4).toDouble() - m.captured(2).toDouble();
        PdfPage page;
        page.mm = QSizeF(width * kMmPerPoint, height * kMmPerPoint);
        ContentReader reader(height, page.shapes);
        reader.read(streamOf(objects.value(dictionaryNumber(o, "/Contents", objects, false)), objects));
        pages.push_back(std::move(page));
    }
    return pages;
}

std::vector<QRectF> strokedRectangles(const PdfPage& page) {
    std::vector<QRectF> frames;
    for (const PdfShape& s : page.shapes) {
        if (s.kind == PdfShape::Stroked) {
            frames.push_back(s.mm);
        }
    }
    return frames;
}

QImage renderPdfPage(const QString& path, int page, int dpi) {
    QTemporaryDir dir;
    const QString stem = dir.filePath(QStringLiteral("page"));
    const int rc =
        QProcess::execute(QStringLiteral("pdftoppm"),
                          {QStringLiteral("-r"), QString::number(dpi), QStringLiteral("-gray"), QStringLiteral("-png"),
                           QStringLiteral("-f"), QString::number(page), QStringLiteral("-l"), QString::number(page),
                           QStringLiteral("-singlefile"), path, stem});
    if (rc != 0) {
        qWarning() << "pdftoppm failed on" << path << "with" << rc;
        return QImage();
    }
    return QImage(stem + QStringLiteral(".png"));
}

namespace {

QRect pixelsOf(const QRectF& mm, int dpi) {
    const double f = dpi / 25.4;
    return QRect(QPoint(qRound(mm.left() * f), qRound(mm.top() * f)),
                 QPoint(qRound(mm.right() * f) - 1, qRound(mm.bottom() * f) - 1));
}

} // namespace

std::vector<std::vector<DecodedSymbol>> decodeRegions(const QImage& image, const std::vector<QRectF>& regionsMm,
                                                      int dpi) {
    std::vector<std::vector<DecodedSymbol>> decoded;
    QTemporaryDir dir;
    for (size_t i = 0; i < regionsMm.size(); ++i) {
        const QString crop = dir.filePath(QStringLiteral("label%1.png").arg(i));
        decoded.emplace_back();
        if (!image.copy(pixelsOf(regionsMm[i], dpi)).save(crop)) {
            continue;
        }
        QProcess zbar;
        zbar.start(QStringLiteral("zbarimg"), {QStringLiteral("--quiet"), QStringLiteral("--nodbus"), crop});
        zbar.waitForFinished(30000);
        // One "TYPE:data" line a symbol, the data in UTF-8 (no identifier holds a line break).
        for (const QString& line : QString::fromUtf8(zbar.readAllStandardOutput()).split(QLatin1Char('\n'))) {
            const qsizetype colon = line.indexOf(QLatin1Char(':'));
            if (colon > 0) {
                decoded.back().push_back({line.left(colon), line.mid(colon + 1)});
            }
        }
    }
    return decoded;
}

bool regionIsBlank(const QImage& image, const QRectF& regionMm, int dpi) {
    const QRect r = pixelsOf(regionMm, dpi).intersected(image.rect());
    for (int y = r.top(); y <= r.bottom(); ++y) {
        for (int x = r.left(); x <= r.right(); ++x) {
            if (qGray(image.pixel(x, y)) < 200) {
                return false;
            }
        }
    }
    return true;
}
