// The common look of the program's windows: the Garamond face at 16 px in violet, bold labels, the tiled
// background picture drawn unscaled from the top left, mauve panels and grey grid titles.
#pragma once

#include <QColor>
#include <QFont>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QAbstractItemView;
class QHeaderView;
class QLabel;
class QRect;
class QToolButton;
class QWidget;

namespace Look {

inline const QColor kViolet{136, 41, 214};
inline const QColor kMauve{219, 194, 220};
inline const QColor kTitleGrey{207, 207, 207};
inline const QColor kRowLine{160, 160, 160};
inline const QColor kStatusBlue{0, 74, 149};
inline const QColor kGaugeFore{128, 128, 255};
inline const QColor kViewerText{251, 245, 179};

// The application's style: the platform's, except that masked entries show every character as "*".
void installStyle();
// "Garamond", else the program's lining-figure copy of EB Garamond, else EB Garamond, else a serif face, at
// pixelSize.
QFont font(int pixelSize = 16, bool bold = false);
// The shared 1024 x 768 background picture.
const QPixmap& background();
// Font, violet text and white window colour for a window and its children.
void apply(QWidget* window);
// A bold label font of the window's size.
void makeBold(QWidget* w);
// A panel or group box in light mauve.
void makeMauve(QWidget* w);
// A list's column titles as the grids show them: bold, on grey, ruled, left-aligned, not clickable.
void makeGridTitles(QHeaderView* titles);
// Rows of view ruled as the grids rule them, with a grey line under each; columns are not ruled.
void ruleRows(QAbstractItemView* view);
// A bold label named name at box in parent, with the caption's mnemonic leading to buddy.
QLabel* boldLabel(QWidget* parent, const QString& name, const QString& caption, const QRect& box, QWidget* buddy);
// A toolbar button named name in bar: the picture as a square icon of iconSide pixels above the caption,
// raised only under the mouse. The caller places it.
QToolButton* makeToolButton(QWidget* bar, const QString& name, const QString& caption, const QString& picture,
                            int iconSide);
// The confirming buttons' picture: a green disc with a white tick.
QIcon okIcon();
// The 12 x 12 green check mark alone, for the OK buttons of the password and configuration windows.
QIcon okGlyph();
// A picture from the program's resources by file name (":/pictures/<name>"); SVG or PNG.
QIcon icon(const QString& name);
QPixmap pixmap(const QString& name, const QSize& size = QSize());

} // namespace Look
