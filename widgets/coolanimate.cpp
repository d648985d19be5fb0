// The animation ticks on a QTimer owned by the control; a tick only chooses the picture, and painting
// draws whatever the last tick chose, so a repaint between ticks never advances the animation.
#include "widgets/coolanimate.h"

#include "data/errors.h"

#include <QImage>
#include <QPainter>
#include <limits>

namespace {

// The frame with every pixel of its bottom-left colour made fully transparent.
QPixmap withoutBackdrop(const QPixmap& frame) {
    QImage image = frame.toImage().convertToFormat(QImage::Format_ARGB32);
    if (image.isNull()) {
        return frame;
    }
    QRgb backdrop = image.pixel(0, image.height() - 1);
    for (int y = 0; y < image.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if (line[x] == backdrop) {
                line[x] = qRgba(0, 0, 0, 0);
            }
        }
    }
    return QPixmap::fromImage(image);
}

} // namespace

TCoolImages::TCoolImages(QObject* parent) : QObject(parent) {}

void TCoolImages::setImages(QList<QPixmap> images) {
    images_ = std::move(images);
    emit changed();
}

TCoolAnimate::TCoolAnimate(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(interval_);
    connect(&timer_, &QTimer::timeout, this, &TCoolAnimate::tick);
}

int TCoolAnimate::frameCount() const {
    return images_ ? images_->count() : 0;
}

void TCoolAnimate::setCoolImages(TCoolImages* images) {
    if (images == images_) {
        return;
    }
    disconnect(imagesConnection_);
    images_ = images;
    if (images_) {
        imagesConnection_ = connect(images_, &TCoolImages::changed, this, &TCoolAnimate::framesChanged);
    }
    framesChanged();
}

void TCoolAnimate::framesChanged() {
    setActive(false);
    fitToFrame();
}

void TCoolAnimate::fitToFrame() {
    int count = frameCount();
    if (!autoSize_ || count == 0) {
        return;
    }
    QSize frameSize = images_->images().at(index_ % count).size();
    if (size() != frameSize) {
        resize(frameSize);
    }
}

void TCoolAnimate::setInterval(int ms) {
    if (ms < 0) {
        throw ControlError(QStringLiteral("Value must be between 0 and %1").arg(std::numeric_limits<int>::max()));
    }
    interval_ = ms;
    timer_.setInterval(ms);
}

void TCoolAnimate::restartTimer() {
    if (!active_ || frameCount() == 0) {
        timer_.stop();
        return;
    }
    if (timer_.isActive()) {
        return;
    }
    timer_.start(interval_);
    // A timer that could not be registered has no id.
    if (!timer_.isActive() || timer_.timerId() <= 0) {
        active_ = false;
        throw ControlError(QStringLiteral("Low resources"));
    }
}

void TCoolAnimate::setActive(bool active) {
    if (active == active_) {
        return;
    }
    active_ = active;
    // A new showing starts from a blank control; the index still carries on where the last one stopped.
    shown_ = QPixmap();
    update();
    restartTimer();
}

void TCoolAnimate::setTransparent(bool transparent) {
    transparent_ = transparent;
}

void TCoolAnimate::setAutoSize(bool autoSize) {
    autoSize_ = autoSize;
    fitToFrame();
}

void TCoolAnimate::tick() {
    int count = frameCount();
    if (count == 0) {
        return;
    }
    // The list may have shrunk since the index was last moved.
    if (index_ >= count) {
        index_ = 0;
    }
    fitToFrame();
    const QPixmap& frame = images_->images().at(index_);
    shown_ = transparent_ ? withoutBackdrop(frame) : frame;
    index_ = (index_ + 1) % count;
    update();
}

void TCoolAnimate::paintEvent(QPaintEvent*) {
    if (shown_.isNull()) {
        return;
    }
    QPainter painter(this);
    QPoint topLeft((width() - shown_.width()) / 2, (height() - shown_.height()) / 2);
    painter.drawPixmap(topLeft, shown_);
}
