// A frame animation: a list of pictures shown one after another in the middle of the control, each tick
// of a timer drawing the next one.
#pragma once

#include <QList>
#include <QPixmap>
#include <QPointer>
#include <QTimer>
#include <QWidget>

// An ordered list of frames shared by the animations that show it; says when its frames change.
class TCoolImages : public QObject {
    Q_OBJECT
public:
    explicit TCoolImages(QObject* parent = nullptr);

    // Replaces every frame and emits changed().
    void setImages(QList<QPixmap> images);
    const QList<QPixmap>& images() const { return images_; }
    int count() const { return static_cast<int>(images_.size()); }

signals:
    void changed();

private:
    QList<QPixmap> images_;
};

// Shows the frames of an attached TCoolImages while Active. The frame index carries on from where the last
// showing stopped; between ticks nothing new is drawn, and an inactive animation shows only its background.
class TCoolAnimate : public QWidget {
    Q_OBJECT
public:
    static constexpr int kDefaultInterval = 120;

    explicit TCoolAnimate(QWidget* parent = nullptr);

    // Attaches a frame list (or none); like a change of its frames, this switches Active off.
    void setCoolImages(TCoolImages* images);
    TCoolImages* coolImages() const { return images_; }
    // Milliseconds between frames. Throws ControlError when ms is negative.
    void setInterval(int ms);
    int interval() const { return interval_; }
    // Starts or stops the ticking. Throws ControlError when the timer cannot be started.
    void setActive(bool active);
    bool active() const { return active_; }
    // With Transparent on, the colour of each frame's bottom-left pixel is not drawn.
    void setTransparent(bool transparent);
    bool transparent() const { return transparent_; }
    // With AutoSize on, the control takes the size of the frame it shows next.
    void setAutoSize(bool autoSize);
    bool autoSize() const { return autoSize_; }
    // The frame the next tick draws.
    int frameIndex() const { return index_; }

    // Draws the frame at the index and moves the index on, wrapping after the last frame. Does nothing
    // without frames.
    void tick();

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void framesChanged();
    void fitToFrame();
    void restartTimer();
    int frameCount() const;

    QPointer<TCoolImages> images_;
    QMetaObject::Connection imagesConnection_;
    QTimer timer_;
    int interval_ = kDefaultInterval;
    bool active_ = false;
    bool transparent_ = false;
    bool autoSize_ = false;
    int index_ = 0;
    // The picture the last tick drew, already masked when Transparent; null when nothing is to be shown.
    QPixmap shown_;
};
