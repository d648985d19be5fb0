// makepictures: draws the program's raster pictures (background, buttons, the writing-quill animation,
// viewer buttons, the report logo) and the program's icon, and writes them into folders, so that every picture
// compiled into or installed with the program can be made again from this source.
// Usage: makepictures <pictures folder> [<reports folder> [<icons folder>]]
#include <QBuffer>
#include <QColor>
#include <QDir>
#include <QFile>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPolygonF>
#include <QRegularExpression>
#include <QSaveFile>
#include <QString>
#include <QSvgGenerator>
#include <cmath>
#include <cstdio>

namespace {

const QColor kViolet{136, 41, 214};
const QColor kDeepViolet{88, 22, 150};
const QColor kMauve{219, 194, 220};
const QColor kLilac{196, 168, 232};
const QColor kInk{44, 30, 96};
const QColor kPaper{255, 252, 242};
const QColor kPaperEdge{206, 196, 210};

// The colour the animation treats as see-through.
const QColor kBackdrop{255, 0, 255};

QImage transparentCanvas(int width, int height) {
    QImage image(width, height, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    return image;
}

void antialias(QPainter& p) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
}

bool save(const QImage& image, const QString& folder, const QString& name, int quality = -1) {
    QString path = QDir(folder).filePath(name);
    if (!image.save(path, nullptr, quality)) {
        std::fprintf(stderr, "makepictures: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

QPen roundPen(const QColor& color, qreal width) {
    return QPen(color, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
}

// The window background: pale pink and lilac tiles with white joins, in the few flat colours of an
// indexed picture.
QImage background() {
    const int tile = 32;
    const QColor pink{251, 229, 238};
    const QColor lilac{235, 226, 248};
    QImage image(1024, 768, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    for (int row = 0; row * tile < image.height(); ++row) {
        for (int col = 0; col * tile < image.width(); ++col) {
            p.fillRect(col * tile + 1, row * tile + 1, tile - 2, tile - 2, (row + col) % 2 == 0 ? pink : lilac);
        }
    }
    p.end();
    return image.convertToFormat(QImage::Format_Indexed8, Qt::ThresholdDither | Qt::AvoidDither);
}

// The confirming buttons' mark: a green disc with a white tick.
QImage okPicture() {
    QImage image = transparentCanvas(16, 16);
    QPainter p(&image);
    antialias(p);
    p.setPen(QPen(QColor(30, 120, 58), 1.0));
    p.setBrush(QColor(52, 168, 83));
    p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
    p.setPen(roundPen(Qt::white, 1.9));
    p.setBrush(Qt::NoBrush);
    p.drawPolyline(QPolygonF({{4.3, 8.2}, {6.9, 10.7}, {11.7, 5.4}}));
    return image;
}

// The tick alone, for places where a disc would be too heavy.
QImage okGlyph() {
    QImage image = transparentCanvas(12, 12);
    QPainter p(&image);
    antialias(p);
    p.setPen(roundPen(QColor(40, 150, 70), 2.2));
    p.drawPolyline(QPolygonF({{1.6, 6.4}, {4.6, 9.4}, {10.4, 2.6}}));
    return image;
}

// A sheet of paper with lines of text, the folded corner at the top right.
void drawSheet(QPainter& p, const QRectF& sheet, qreal fold) {
    QPainterPath outline;
    outline.moveTo(sheet.topLeft());
    outline.lineTo(sheet.right() - fold, sheet.top());
    outline.lineTo(sheet.right(), sheet.top() + fold);
    outline.lineTo(sheet.bottomRight());
    outline.lineTo(sheet.bottomLeft());
    outline.closeSubpath();

    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 30, 90, 40));
    p.drawPath(outline.translated(3, 3));
    p.setPen(QPen(kPaperEdge, 1.5));
    p.setBrush(kPaper);
    p.drawPath(outline);

    QPainterPath corner;
    corner.moveTo(sheet.right() - fold, sheet.top());
    corner.lineTo(sheet.right() - fold, sheet.top() + fold);
    corner.lineTo(sheet.right(), sheet.top() + fold);
    corner.closeSubpath();
    p.setBrush(QColor(234, 226, 238));
    p.drawPath(corner);
}

// The logon picture: a yellow padlock in front of a sheet of paper.
QImage padlock() {
    QImage image = transparentCanvas(146, 146);
    QPainter p(&image);
    antialias(p);
    QRectF sheet(24, 8, 92, 128);
    drawSheet(p, sheet, 20);
    p.setPen(roundPen(QColor(205, 196, 222), 3));
    const qreal lengths[] = {52, 64, 58, 66, 40, 62, 56, 30};
    for (int i = 0; i < 8; ++i) {
        qreal y = 24 + i * 10;
        qreal x = sheet.left() + 12;
        qreal length = i == 0 ? 40 : lengths[i];
        p.drawLine(QPointF(x, y), QPointF(x + length, y));
    }

    // The shackle, drawn first so the body covers its ends.
    QPainterPath shackle;
    shackle.moveTo(52, 86);
    shackle.lineTo(52, 62);
    shackle.arcTo(QRectF(52, 40, 44, 44), 180, -180);
    shackle.lineTo(96, 86);
    p.setBrush(Qt::NoBrush);
    p.setPen(roundPen(QColor(96, 96, 110), 12));
    p.drawPath(shackle);
    p.setPen(roundPen(QColor(176, 178, 192), 8));
    p.drawPath(shackle);

    QRectF body(36, 78, 76, 58);
    QLinearGradient gold(body.topLeft(), body.bottomLeft());
    gold.setColorAt(0, QColor(255, 220, 90));
    gold.setColorAt(1, QColor(236, 170, 24));
    p.setPen(QPen(QColor(160, 106, 8), 2));
    p.setBrush(gold);
    p.drawRoundedRect(body, 9, 9);
    p.setPen(QPen(QColor(255, 238, 160), 1.5));
    p.drawLine(QPointF(body.left() + 8, body.top() + 4), QPointF(body.right() - 8, body.top() + 4));

    QPointF centre = body.center() + QPointF(0, -4);
    QPainterPath keyhole;
    keyhole.addEllipse(centre, 6.5, 6.5);
    keyhole.moveTo(centre + QPointF(-3.5, 3));
    keyhole.lineTo(centre + QPointF(3.5, 3));
    keyhole.lineTo(centre + QPointF(5, 20));
    keyhole.lineTo(centre + QPointF(-5, 20));
    keyhole.closeSubpath();
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(88, 56, 16));
    p.drawPath(keyhole.simplified());
    return image;
}

// The three chasing arrows of the recycling sign around centre.
void drawRecyclingSign(QPainter& p, QPointF centre, qreal radius, const QColor& color, qreal width) {
    p.setPen(QPen(color, width, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    QRectF circle(centre.x() - radius, centre.y() - radius, radius * 2, radius * 2);
    for (int i = 0; i < 3; ++i) {
        qreal start = 90 + i * 120 + 14;
        qreal span = 78;
        p.setPen(QPen(color, width, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawArc(circle, int(start * 16), int(span * 16));
        // An arrowhead at the end of the arc, pointing along it.
        qreal end = qDegreesToRadians(start + span);
        QPointF tip(centre.x() + radius * std::cos(end), centre.y() - radius * std::sin(end));
        QPointF along(-std::sin(end), -std::cos(end));
        QPointF across(std::cos(end), -std::sin(end));
        qreal head = width * 1.6;
        QPolygonF arrow({tip + along * head * 1.2, tip + across * head, tip - across * head});
        p.setPen(Qt::NoPen);
        p.setBrush(color);
        p.drawPolygon(arrow);
    }
}

// The write-off picture: a blue recycling bin.
QImage recycleBin() {
    QImage image = transparentCanvas(48, 48);
    QPainter p(&image);
    antialias(p);
    const QColor blue{46, 112, 204};
    const QColor deep{24, 70, 150};
    QPolygonF body({{11, 13}, {37, 13}, {34.5, 45}, {13.5, 45}});
    QLinearGradient shade(QPointF(11, 0), QPointF(37, 0));
    shade.setColorAt(0, blue.lighter(112));
    shade.setColorAt(1, blue.darker(108));
    p.setPen(QPen(deep, 1.2));
    p.setBrush(shade);
    p.drawPolygon(body);
    p.setBrush(deep);
    p.drawRoundedRect(QRectF(19, 3.5, 10, 4), 1.5, 1.5);
    p.setBrush(blue.lighter(120));
    p.drawRoundedRect(QRectF(8, 7, 32, 6), 2, 2);
    drawRecyclingSign(p, QPointF(24, 29), 7, Qt::white, 2.2);
    return image;
}

// Frame geometry of the animation: the open right-hand page as a slanted quadrilateral; (u, v) run
// from the spine to the outer edge and from the top to the bottom of the page.
QPointF onRightPage(qreal u, qreal v) {
    qreal x = 32 + u * 27;
    qreal top = 26 - u * 5 + 2.0 * std::sin(u * M_PI);
    qreal bottom = 54 - u * 5 + 1.0 * std::sin(u * M_PI);
    return QPointF(x, top + v * (bottom - top));
}

QPointF onLeftPage(qreal u, qreal v) {
    QPointF right = onRightPage(u, v);
    return QPointF(64 - right.x(), right.y());
}

QPolygonF pageOutline(bool right) {
    QPolygonF outline;
    auto at = [right](qreal u, qreal v) { return right ? onRightPage(u, v) : onLeftPage(u, v); };
    for (int i = 0; i <= 12; ++i) {
        outline << at(i / 12.0, 0);
    }
    for (int i = 12; i >= 0; --i) {
        outline << at(i / 12.0, 1);
    }
    return outline;
}

// One line of handwriting as a point at fraction t of its length.
struct WrittenLine {
    qreal v;
    qreal from;
    qreal to;
};

const WrittenLine kLines[] = {{0.24, 0.14, 0.72}, {0.46, 0.10, 0.74}, {0.68, 0.10, 0.50}};

QPointF handwriting(const WrittenLine& line, qreal t) {
    qreal u = line.from + (line.to - line.from) * t;
    qreal wobble = 0.03 * std::sin(t * 26) + 0.012 * std::sin(t * 57);
    return onRightPage(u, line.v + wobble - 0.02);
}

// A book open on its cover, seen from above the reader's shoulder.
void drawBook(QPainter& p) {
    // The cover shows as a violet margin around and below the pages.
    QPolygonF cover;
    for (int i = 0; i <= 12; ++i) {
        cover << onLeftPage(i * 1.1 / 12, 0.02) + QPointF(0, 1);
    }
    for (int i = 12; i >= 0; --i) {
        cover << onLeftPage(i * 1.1 / 12, 1.14);
    }
    QPolygonF rightCover;
    for (QPointF point : cover) {
        rightCover << QPointF(64 - point.x(), point.y());
    }
    QPainterPath coverPath;
    coverPath.addPolygon(cover);
    coverPath.addPolygon(rightCover);
    p.setPen(QPen(kDeepViolet, 1));
    p.setBrush(kViolet);
    p.drawPath(coverPath.simplified());

    // Page blocks: a few edge lines under each page show its thickness.
    for (int layer = 2; layer >= 1; --layer) {
        p.setPen(QPen(kPaperEdge, 0.8));
        p.setBrush(QColor(240, 232, 222));
        p.drawPolygon(pageOutline(false).translated(-layer * 0.6, layer * 1.0));
        p.drawPolygon(pageOutline(true).translated(layer * 0.6, layer * 1.0));
    }
    for (bool right : {false, true}) {
        QPolygonF page = pageOutline(right);
        QLinearGradient light(QPointF(32, 0), QPointF(right ? 60 : 4, 0));
        light.setColorAt(0, QColor(226, 218, 210));
        light.setColorAt(0.25, kPaper);
        light.setColorAt(1, kPaper);
        p.setPen(QPen(kPaperEdge, 0.8));
        p.setBrush(light);
        p.drawPolygon(page);
    }
    // The left page is already written.
    p.setPen(QPen(QColor(150, 140, 175), 1.0, Qt::SolidLine, Qt::RoundCap));
    const qreal leftLines[][2] = {{0.22, 0.80}, {0.36, 0.84}, {0.50, 0.78}, {0.64, 0.84}, {0.78, 0.52}};
    for (const auto& line : leftLines) {
        p.drawLine(onLeftPage(0.16, line[0]), onLeftPage(line[1], line[0]));
    }
}

// The quill: a feather whose nib is at tip, leaning back to the upper right.
void drawQuill(QPainter& p, QPointF tip) {
    p.save();
    p.translate(tip);
    p.rotate(-70);
    // Drawn along the +x axis from the nib.
    QPainterPath vane;
    vane.moveTo(8, 0);
    vane.cubicTo(14, -6, 25, -7, 31, -2);
    vane.cubicTo(25, 2, 15, 4.5, 8, 0);
    QPainterPath lower;
    lower.moveTo(10, 0.5);
    lower.cubicTo(15, 4, 23, 4.5, 29.5, 1);
    lower.lineTo(10, 0.5);
    p.setPen(QPen(QColor(120, 92, 160), 0.8));
    p.setBrush(QColor(250, 248, 255));
    p.drawPath(vane);
    p.setBrush(kLilac);
    p.drawPath(lower);
    // Barbs cut into the vane.
    p.setPen(QPen(QColor(176, 156, 210), 0.7));
    for (int i = 0; i < 4; ++i) {
        qreal x = 13 + i * 4.2;
        p.drawLine(QPointF(x, -0.5), QPointF(x + 3, -4.2 + i * 0.3));
    }
    p.setPen(roundPen(QColor(90, 70, 120), 1.0));
    p.drawLine(QPointF(2, 0), QPointF(32, -1));
    p.setPen(roundPen(kInk, 1.6));
    p.drawLine(QPointF(0, 0), QPointF(5, 0));
    p.restore();
}

// Frame number frame of count of the writing animation, on the flat see-through backdrop.
QImage animationFrame(int frame, int count) {
    QImage art = transparentCanvas(64, 60);
    QPainter p(&art);
    antialias(p);
    drawBook(p);

    // The ink written so far, then the quill where the writing has reached.
    qreal written = qreal(frame) / (count - 1) * 3.0;
    QPointF nib = handwriting(kLines[0], 0);
    p.setPen(roundPen(kInk, 1.1));
    p.setBrush(Qt::NoBrush);
    for (int i = 0; i < 3; ++i) {
        qreal part = std::clamp(written - i, 0.0, 1.0);
        if (part <= 0) {
            break;
        }
        QPolygonF stroke;
        int steps = std::max(2, int(part * 60));
        for (int s = 0; s <= steps; ++s) {
            stroke << handwriting(kLines[i], part * s / steps);
        }
        p.drawPolyline(stroke);
        nib = stroke.last();
    }
    drawQuill(p, nib);
    p.end();

    // Edges are cut to whole pixels: a half-covered pixel blended with the backdrop would show as a
    // magenta fringe wherever the backdrop is left out.
    QImage image(art.size(), QImage::Format_RGB888);
    QImage straight = art.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            QRgb pixel = straight.pixel(x, y);
            image.setPixelColor(x, y,
                                qAlpha(pixel) >= 128 ? QColor(qRed(pixel), qGreen(pixel), qBlue(pixel)) : kBackdrop);
        }
    }
    return image;
}

// The viewer's Save button: a violet diskette.
QImage savePicture() {
    QImage image = transparentCanvas(32, 32);
    QPainter p(&image);
    antialias(p);
    QPainterPath disk;
    disk.moveTo(4, 3);
    disk.lineTo(24, 3);
    disk.lineTo(29, 8);
    disk.lineTo(29, 27);
    disk.quadTo(29, 29, 27, 29);
    disk.lineTo(5, 29);
    disk.quadTo(3, 29, 3, 27);
    disk.lineTo(3, 5);
    disk.quadTo(3, 3, 5, 3);
    p.setPen(QPen(kDeepViolet, 1.2));
    p.setBrush(kViolet);
    p.drawPath(disk);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(214, 216, 226));
    p.drawRect(QRectF(9, 3.6, 13, 9));
    p.setBrush(QColor(70, 70, 86));
    p.drawRect(QRectF(17, 5, 3, 6));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(7, 16, 18, 11.5), 1.5, 1.5);
    p.setPen(QPen(kLilac, 1.2));
    p.drawLine(QPointF(10, 20), QPointF(22, 20));
    p.drawLine(QPointF(10, 23.5), QPointF(19, 23.5));
    return image;
}

// The viewer's Print button: a printer with a page in its tray.
QImage printPicture() {
    QImage image = transparentCanvas(32, 32);
    QPainter p(&image);
    antialias(p);
    p.setPen(QPen(QColor(150, 150, 160), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(9.5, 3.5, 13, 10));
    QLinearGradient metal(QPointF(0, 11), QPointF(0, 24));
    metal.setColorAt(0, QColor(150, 150, 166));
    metal.setColorAt(1, QColor(98, 98, 116));
    p.setPen(QPen(QColor(70, 70, 84), 1.1));
    p.setBrush(metal);
    p.drawRoundedRect(QRectF(3, 11, 26, 13), 2.5, 2.5);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(60, 200, 110));
    p.drawEllipse(QPointF(24.5, 15), 1.3, 1.3);
    p.setBrush(QColor(60, 60, 72));
    p.drawRect(QRectF(7, 19.5, 18, 2));
    p.setPen(QPen(QColor(150, 150, 160), 1));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(8.5, 20.5, 15, 9));
    p.setPen(QPen(kViolet, 1.1));
    p.drawLine(QPointF(11, 24), QPointF(21, 24));
    p.drawLine(QPointF(11, 26.5), QPointF(18, 26.5));
    return image;
}

// The viewer's Close button: a violet disc with a white cross.
QImage dismissPicture() {
    QImage image = transparentCanvas(32, 32);
    QPainter p(&image);
    antialias(p);
    p.setPen(QPen(kDeepViolet, 1.2));
    p.setBrush(kViolet);
    p.drawEllipse(QRectF(3, 3, 26, 26));
    p.setPen(roundPen(Qt::white, 3));
    p.drawLine(QPointF(11, 11), QPointF(21, 21));
    p.drawLine(QPointF(21, 11), QPointF(11, 21));
    return image;
}

// The heading of the reports: a luggage label beside the name.
QImage reportLogo() {
    QImage image(160, 60, QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    antialias(p);

    p.save();
    p.translate(25, 30);
    p.rotate(-18);
    QPainterPath label;
    label.moveTo(-7, -13);
    label.lineTo(13, -13);
    label.lineTo(13, 13);
    label.lineTo(-7, 13);
    label.lineTo(-15, 5);
    label.lineTo(-15, -5);
    label.closeSubpath();
    QPainterPath hole;
    hole.addEllipse(QPointF(-8.5, 0), 2.6, 2.6);
    p.setPen(QPen(kViolet, 1.6, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin));
    p.setBrush(kMauve);
    p.drawPath(label.subtracted(hole));
    p.setPen(QPen(kViolet, 1.2));
    p.drawLine(QPointF(-2, -5), QPointF(8, -5));
    p.drawLine(QPointF(-2, 0), QPointF(8, 0));
    p.drawLine(QPointF(-2, 5), QPointF(5, 5));
    p.restore();
    // The string through the label's eyelet.
    p.setPen(QPen(kDeepViolet, 1.1));
    p.setBrush(Qt::NoBrush);
    QPainterPath string;
    string.moveTo(17.4, 33.3);
    string.cubicTo(12, 38, 5, 30, 9, 22);
    string.cubicTo(11, 18, 8, 12, 5, 10);
    p.drawPath(string);

    QFont face;
    face.setFamilies({QStringLiteral("EB Garamond"), QStringLiteral("Garamond")});
    face.setStyleHint(QFont::Serif);
    face.setPixelSize(36);
    p.setFont(face);
    p.setPen(kViolet);
    p.drawText(QRectF(46, 4, 112, 40), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Vantrel"));
    p.setPen(QPen(kMauve, 1.2));
    p.drawLine(QPointF(48, 44.5), QPointF(154, 44.5));
    QFont small = face;
    small.setPixelSize(9);
    small.setLetterSpacing(QFont::AbsoluteSpacing, 1.6);
    p.setFont(small);
    p.setPen(QColor(120, 90, 150));
    p.drawText(QRectF(48, 46, 110, 12), Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("ASSET REGISTER"));
    return image;
}

// The program's icon on a 256 x 256 canvas: a violet asset tag with its engraved lines and string, tilted on a
// mauve tile, as the report logo's label shows it. Drawn once for every size and for the scalable picture.
void drawIcon(QPainter& p) {
    antialias(p);
    const QRectF tile(12, 12, 232, 232);
    QLinearGradient wash(tile.topLeft(), tile.bottomRight());
    wash.setColorAt(0, QColor(247, 236, 250));
    wash.setColorAt(1, kMauve);
    p.setPen(QPen(kViolet, 8));
    p.setBrush(wash);
    p.drawRoundedRect(tile, 44, 44);

    // The string, from the tag's eyelet out to the tile's top left; the tag covers all but what shows through
    // the eyelet.
    p.setPen(roundPen(kDeepViolet, 6));
    p.setBrush(Qt::NoBrush);
    QPainterPath string;
    string.moveTo(90, 153);
    string.cubicTo(58, 150, 42, 112, 58, 82);
    string.cubicTo(70, 60, 66, 44, 48, 36);
    p.drawPath(string);

    p.save();
    p.translate(138, 138);
    p.rotate(-18);
    QPainterPath tag;
    tag.moveTo(-38, -62);
    tag.lineTo(78, -62);
    tag.quadTo(88, -62, 88, -52);
    tag.lineTo(88, 52);
    tag.quadTo(88, 62, 78, 62);
    tag.lineTo(-38, 62);
    tag.lineTo(-80, 22);
    tag.lineTo(-80, -22);
    tag.closeSubpath();
    QPainterPath eyelet;
    eyelet.addEllipse(QPointF(-50, 0), 11, 11);
    QLinearGradient body(QPointF(0, -62), QPointF(0, 62));
    body.setColorAt(0, QColor(160, 76, 232));
    body.setColorAt(1, kViolet);
    p.setPen(QPen(kDeepViolet, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(body);
    p.drawPath(tag.subtracted(eyelet));
    // The ring that reinforces the eyelet.
    p.setPen(QPen(kMauve, 5));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(QPointF(-50, 0), 16, 16);
    // The engraved identifier: three lines, the last one shorter.
    p.setPen(roundPen(Qt::white, 11));
    p.drawLine(QPointF(-14, -30), QPointF(62, -30));
    p.drawLine(QPointF(-14, 0), QPointF(62, 0));
    p.drawLine(QPointF(-14, 30), QPointF(34, 30));
    p.restore();
}

QImage iconPicture(int side) {
    QImage image = transparentCanvas(side, side);
    QPainter p(&image);
    p.scale(side / 256.0, side / 256.0);
    drawIcon(p);
    return image;
}

// The icon as SVG. Its size is given in pixels, not in the millimetres the generator works out from a
// resolution: the icon theme and its tools read the picture as 256 x 256.
bool saveScalableIcon(const QString& folder, const QString& name) {
    QBuffer drawn;
    QSvgGenerator svg;
    svg.setOutputDevice(&drawn);
    svg.setSize(QSize(256, 256));
    svg.setViewBox(QRect(0, 0, 256, 256));
    svg.setTitle(QStringLiteral("Vantrel"));
    svg.setDescription(QStringLiteral("The Vantrel asset register"));
    QPainter p(&svg);
    drawIcon(p);
    p.end();
    QString text = QString::fromUtf8(drawn.data());
    text.replace(QRegularExpression(QStringLiteral("<svg width=\"[^\"]*\" height=\"[^\"]*\"")),
                 QStringLiteral("<svg width=\"256\" height=\"256\""));
    const QByteArray bytes = text.toUtf8();
    QSaveFile file(QDir(folder).filePath(name));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        std::fprintf(stderr, "makepictures: cannot write %s\n", qPrintable(file.fileName()));
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char* argv[]) {
    QGuiApplication app(argc, argv);
    if (argc < 2) {
        std::fprintf(stderr, "usage: makepictures <pictures folder> [<reports folder> [<icons folder>]]\n");
        return 2;
    }
    QString pictures = QString::fromLocal8Bit(argv[1]);
    QString reports = argc > 2 ? QString::fromLocal8Bit(argv[2]) : pictures;
    QString icons = argc > 3 ? QString::fromLocal8Bit(argv[3]) : pictures;
    if (!QDir().mkpath(pictures) || !QDir().mkpath(reports) || !QDir().mkpath(icons)) {
        std::fprintf(stderr, "makepictures: cannot make the output folders\n");
        return 1;
    }

    bool ok = save(background(), pictures, QStringLiteral("background.png"));
    ok = save(okPicture(), pictures, QStringLiteral("ok.png")) && ok;
    ok = save(okGlyph(), pictures, QStringLiteral("okglyph.png")) && ok;
    ok = save(padlock(), pictures, QStringLiteral("padlock.png")) && ok;
    ok = save(recycleBin(), pictures, QStringLiteral("recyclebin.png")) && ok;
    const int frames = 19;
    for (int i = 0; i < frames; ++i) {
        ok = save(animationFrame(i, frames), pictures, QStringLiteral("anim%1.png").arg(i, 2, 10, QLatin1Char('0'))) &&
             ok;
    }
    ok = save(savePicture(), pictures, QStringLiteral("save.png")) && ok;
    ok = save(printPicture(), pictures, QStringLiteral("print.png")) && ok;
    ok = save(dismissPicture(), pictures, QStringLiteral("dismiss.png")) && ok;
    ok = save(reportLogo(), reports, QStringLiteral("reportlogo.jpg"), 92) && ok;
    ok = saveScalableIcon(icons, QStringLiteral("vantrel.svg")) && ok;
    for (const int side : {48, 256}) {
        ok = save(iconPicture(side), icons, QStringLiteral("vantrel-%1.png").arg(side)) && ok;
    }
    return ok ? 0 : 1;
}
