// The common look: one face, one text colour and the shared pictures, handed to every window so that
// they all read alike. Pictures come from the program's compiled-in resources.
#include "widgets/look.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCoreApplication>
#include <QFontDatabase>
#include <QHeaderView>
#include <QLabel>
#include <QPainter>
#include <QPalette>
#include <QProxyStyle>
#include <QStyledItemDelegate>
#include <QSvgRenderer>
#include <QToolButton>
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

// The program's copy of EB Garamond whose default figures are the lining ones (EB Garamond's own are old-style,
// and Qt cannot switch a font's figures): compiled in, and registered with the font database the first time a
// window asks for the face. Its family name, or empty when it could not be loaded.
QString liningFamily() {
    static const QString family = [] {
        const int id = QFontDatabase::addApplicationFont(QStringLiteral(":/fonts/VantrelGaramond-Regular.otf"));
        const QStringList families = id < 0 ? QStringList() : QFontDatabase::applicationFontFamilies(id);
        return families.isEmpty() ? QString() : families.first();
    }();
    return family;
}

} // namespace

namespace Look {

QFont font(int pixelSize, bool bold) {
    QFont f;
    QStringList families{QStringLiteral("Garamond"), QStringLiteral("EB Garamond")};
    if (const QString lining = liningFamily(); !lining.isEmpty()) {
        families.insert(1, lining);
    }
    f.setFamilies(families);
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

void makeGridTitles(QHeaderView* titles) {
    titles->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    titles->setHighlightSections(false);
    titles->setSectionsClickable(false);
    QFont bold;
    bold.setBold(true);
    titles->setFont(bold);
    titles->setStyleSheet(QStringLiteral("QHeaderView::section { background-color: rgb(%1, %2, %3); padding: 2px 4px; "
                                         "border: none; border-right: 1px solid rgb(%4, %4, %4); "
                                         "border-bottom: 1px solid rgb(%4, %4, %4); }")
                              .arg(kTitleGrey.red())
                              .arg(kTitleGrey.green())
                              .arg(kTitleGrey.blue())
                              .arg(kRowLine.red()));
}

namespace {

// Paints a cell as usual and then the line under it.
class RowLineDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QStyledItemDelegate::paint(painter, option, index);
        painter->save();
        painter->setPen(kRowLine);
        painter->drawLine(option.rect.bottomLeft(), option.rect.bottomRight());
        painter->restore();
    }
};

} // namespace

void ruleRows(QAbstractItemView* view) {
    view->setItemDelegate(new RowLineDelegate(view));
}

QLabel* boldLabel(QWidget* parent, const QString& name, const QString& caption, const QRect& box, QWidget* buddy) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(name);
    label->setGeometry(box);
    label->setBuddy(buddy);
    makeBold(label);
    return label;
}

QToolButton* makeToolButton(QWidget* bar, const QString& name, const QString& caption, const QString& picture,
                            int iconSide) {
    auto* button = new QToolButton(bar);
    button->setObjectName(name);
    button->setText(caption);
    button->setIcon(icon(picture));
    button->setIconSize(QSize(iconSide, iconSide));
    button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    button->setAutoRaise(true);
    return button;
}

QIcon okIcon() {
    return QIcon(picturePath(QStringLiteral("ok.png")));
}

QIcon okGlyph() {
    return QIcon(picturePath(QStringLiteral("okglyph.png")));
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
