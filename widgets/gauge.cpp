// The gauge keeps its three values consistent and paints itself from them; all arithmetic on the values is
// done in 64 bits because the bounds may span the whole int range.
#include "widgets/gauge.h"

#include "data/errors.h"

#include <QPainter>
#include <limits>

namespace {

ControlError outOfRange(qint64 low, qint64 high) {
    return ControlError(QStringLiteral("Value must be between %1 and %2").arg(low).arg(high));
}

QColor inverted(const QColor& color) {
    return QColor(255 - color.red(), 255 - color.green(), 255 - color.blue());
}

} // namespace

TGauge::TGauge(QWidget* parent) : QWidget(parent) {}

void TGauge::setMinValue(int value) {
    if (value == minValue_) {
        return;
    }
    if (value > maxValue_) {
        throw outOfRange(std::numeric_limits<int>::min(), qint64(maxValue_) - 1);
    }
    minValue_ = value;
    if (progress_ < value) {
        progress_ = value;
    }
    update();
}

void TGauge::setMaxValue(int value) {
    if (value == maxValue_) {
        return;
    }
    if (value < minValue_) {
        throw outOfRange(qint64(minValue_) + 1, std::numeric_limits<int>::max());
    }
    maxValue_ = value;
    if (progress_ > value) {
        progress_ = value;
    }
    update();
}

void TGauge::setProgress(int value) {
    int held = std::clamp(value, minValue_, maxValue_);
    if (held == progress_) {
        return;
    }
    const int drawn = percentDone();
    progress_ = held;
    // Only the whole percentage is drawn, so a step within it leaves the picture as it is.
    if (percentDone() != drawn) {
        update();
    }
}

void TGauge::setBackColor(const QColor& color) {
    backColor_ = color;
    update();
}

void TGauge::setForeColor(const QColor& color) {
    foreColor_ = color;
    update();
}

int TGauge::percentDone() const {
    qint64 span = qint64(maxValue_) - minValue_;
    if (span == 0) {
        return 0;
    }
    return static_cast<int>((qint64(progress_) - minValue_) * 100 / span);
}

void TGauge::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.fillRect(rect(), Qt::black);
    QRect inside = rect().adjusted(1, 1, -1, -1);
    if (inside.isEmpty()) {
        return;
    }
    painter.fillRect(inside, backColor_);
    int percent = percentDone();
    QRect done = inside;
    done.setWidth(inside.width() * percent / 100);
    QRect rest = inside.adjusted(done.width(), 0, 0, 0);
    painter.fillRect(done, foreColor_);

    // The text is drawn twice, each time clipped to one part and in that part's inverse, so it reads
    // across the boundary between the two colours.
    QString text = QStringLiteral("%1%").arg(percent);
    painter.setFont(font());
    painter.setClipRect(done);
    painter.setPen(inverted(foreColor_));
    painter.drawText(inside, Qt::AlignCenter, text);
    painter.setClipRect(rest);
    painter.setPen(inverted(backColor_));
    painter.drawText(inside, Qt::AlignCenter, text);
}
