// The common look: one face, one text colour and the shared pictures, handed to every window so that
// they all read alike. Pictures come from the program's compiled-in resources.
#include "widgets/look.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QSvgRenderer>
#include <QWidget>

namespace {

QString picturePath(const QString& name) {
    return QStringLiteral(":/pictures/") + name;
}

bool isSvg(const QString& name) {
    return name.endsWith(QStringLiteral(".svg"), Qt::CaseInsensitive);
}

// Draws an SVG picture at size, or at the size its view box declares when size is not valid.
QPixmap renderSvg(const QString& path, const QSize& size) {
    QSvgRenderer renderer(path);
    if (!renderer.isValid()) {
        return QPixmap();
    }
    QSize target = size.isValid() ? size : renderer.defaultSize();
    QPixmap picture(target);
    picture.fill(Qt::transparent);
    QPainter painter(&picture);
    renderer.render(&painter);
    return picture;
}

// The background is loaded at its first use and dropped when the application ends, so that no
// pixmap outlives the application that owns the graphics system.
struct BackgroundCache {
    QPixmap picture;
    bool loaded = false;
};

BackgroundCache& backgroundCache() {
    static BackgroundCache cache;
    return cache;
}

void forgetBackground() {
    backgroundCache() = BackgroundCache{};
}

} // namespace

namespace Look {

QFont font(int pixelSize, bool bold) {
    QFont f;
    f.setFamilies({QStringLiteral("Garamond"), QStringLiteral("EB Garamond")});
    f.setStyleHint(QFont::Serif);
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    return f;
}

const QPixmap& background() {
    BackgroundCache& cache = backgroundCache();
    if (!cache.loaded) {
        cache.picture = QPixmap(picturePath(QStringLiteral("background.png")));
        cache.loaded = true;
        qAddPostRoutine(forgetBackground);
    }
    return cache.picture;
}

void apply(QWidget* window) {
    window->setFont(font(16));
    QPalette palette = window->palette();
    palette.setColor(QPalette::WindowText, kViolet);
    palette.setColor(QPalette::Text, kViolet);
    palette.setColor(QPalette::ButtonText, kViolet);
    palette.setColor(QPalette::Window, Qt::white);
    window->setPalette(palette);
}

void makeBold(QWidget* w) {
    QFont f = w->font();
    f.setBold(true);
    w->setFont(f);
}

void makeMauve(QWidget* w) {
    QPalette palette = w->palette();
    palette.setColor(QPalette::Window, kMauve);
    w->setPalette(palette);
    w->setAutoFillBackground(true);
}

QIcon okIcon() {
    return QIcon(picturePath(QStringLiteral("ok.png")));
}

QIcon icon(const QString& name) {
    if (!isSvg(name)) {
        return QIcon(picturePath(name));
    }
    // Drawn at the sizes toolbars and buttons ask for, so the icon never depends on an icon plugin.
    QIcon result;
    for (int side : {16, 24, 32, 48}) {
        QPixmap picture = renderSvg(picturePath(name), QSize(side, side));
        if (!picture.isNull()) {
            result.addPixmap(picture);
        }
    }
    return result;
}

QPixmap pixmap(const QString& name, const QSize& size) {
    if (isSvg(name)) {
        return renderSvg(picturePath(name), size);
    }
    QPixmap picture(picturePath(name));
    if (size.isValid() && !picture.isNull() && picture.size() != size) {
        picture = picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    return picture;
}

} // namespace Look

namespace {

class VantrelStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == QStyle::SH_LineEdit_PasswordCharacter) {
            return '*';
        }
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

} // namespace

void Look::installStyle() {
    QApplication::setStyle(new VantrelStyle);
}
