// The frame animation: which frame each tick draws, that the index survives a pause, that stopping and
// replacing the frames stop the ticking, and that the bottom-left colour is left out when Transparent.
#include "data/errors.h"
#include "widgets/coolanimate.h"
#include "widgets/dialogs.h"
#include "widgets/look.h"

#include <QImage>
#include <QPainter>
#include <QTest>

namespace {

constexpr int kFrames = 19;
const QColor kBackdrop(255, 0, 255);
const QColor kParentColour(Qt::white);

// Frame i: a flat colour of its own with a one-pixel border in the backdrop colour.
QColor frameColour(int i) {
    return QColor(10 + i * 12, 200 - i * 5, 40);
}

QPixmap frame(int i, QSize size = QSize(64, 60)) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(kBackdrop);
    QPainter painter(&image);
    painter.fillRect(QRect(QPoint(0, 0), size).adjusted(1, 1, -1, -1), frameColour(i));
    painter.end();
    return QPixmap::fromImage(image);
}

QList<QPixmap> frames(int count, QSize size = QSize(64, 60)) {
    QList<QPixmap> list;
    for (int i = 0; i < count; ++i) {
        list << frame(i, size);
    }
    return list;
}

} // namespace

class TestCoolAnimate : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { DialogScript::enable(); }
    void init() {
        parent_ = new QWidget;
        parent_->resize(200, 200);
        QPalette palette = parent_->palette();
        palette.setColor(QPalette::Window, kParentColour);
        parent_->setPalette(palette);
        parent_->setAutoFillBackground(true);
        animate_ = new TCoolAnimate(parent_);
        animate_->setGeometry(20, 20, 100, 80);
        images_ = new TCoolImages(parent_);
        images_->setImages(frames(kFrames));
        animate_->setCoolImages(images_); // the test's frames, unless a test takes them away
    }

    void cleanup() {
        delete parent_;
        parent_ = nullptr;
    }

    void ticksDrawEachFrameAndWrap() {
        animate_->setActive(true);
        QCOMPARE(animate_->frameIndex(), 0);
        for (int tick = 0; tick < 2 * kFrames + 1; ++tick) {
            int drawn = tick % kFrames;
            animate_->tick();
            QCOMPARE(centreColour(), frameColour(drawn));
            QCOMPARE(animate_->frameIndex(), (drawn + 1) % kFrames);
        }
    }

    // Switched off, the control shows only the background behind it and keeps its frame index; switched on again,
    // it draws nothing until the next tick, which draws the frame it stopped at.
    void inactiveControlShowsOnlyBackgroundAndKeepsItsIndex() {
        QCOMPARE(centreColour(), kParentColour);
        animate_->setActive(true);
        animate_->tick();
        QCOMPARE(centreColour(), frameColour(0));
        for (int i = 1; i < 5; ++i) {
            animate_->tick();
        }
        animate_->setActive(false);
        QCOMPARE(centreColour(), kParentColour);
        QCOMPARE(animate_->frameIndex(), 5);
        animate_->setActive(true);
        QCOMPARE(centreColour(), kParentColour);
        QCOMPARE(animate_->frameIndex(), 5);
        animate_->tick();
        QCOMPARE(centreColour(), frameColour(5));
    }

    void activeTicksOnItsOwnAndStopsAtOnce() {
        animate_->setInterval(5);
        QCOMPARE(animate_->interval(), 5);
        // Without Active the timer does not run.
        QTest::qWait(60);
        QCOMPARE(animate_->frameIndex(), 0);

        animate_->setActive(true);
        QTRY_VERIFY_WITH_TIMEOUT(animate_->frameIndex() >= 3, 2000);
        animate_->setActive(false);
        int stoppedAt = animate_->frameIndex();
        QTest::qWait(60);
        QCOMPARE(animate_->frameIndex(), stoppedAt);
    }

    void newFramesSwitchActiveOffAndAutoSize() {
        animate_->setCoolImages(nullptr);
        animate_->setAutoSize(true);
        QCOMPARE(animate_->size(), QSize(100, 80)); // no frames yet
        animate_->setCoolImages(images_);
        QCOMPARE(animate_->size(), QSize(64, 60));
        animate_->setActive(true);
        animate_->tick();

        images_->setImages(frames(4, QSize(32, 20)));
        QVERIFY(!animate_->active());
        QCOMPARE(animate_->size(), QSize(32, 20));
        int index = animate_->frameIndex();
        QTest::qWait(3 * TCoolAnimate::kDefaultInterval);
        QCOMPARE(animate_->frameIndex(), index);

        // Without AutoSize the control keeps its size.
        TCoolAnimate fixed(parent_);
        fixed.resize(90, 90);
        fixed.setCoolImages(images_);
        fixed.setActive(true);
        images_->setImages(frames(3, QSize(16, 16)));
        QVERIFY(!fixed.active());
        QCOMPARE(fixed.size(), QSize(90, 90));
    }

    void shrunkListRestartsFromTheFirstFrame() {
        for (int i = 0; i < 10; ++i) {
            animate_->tick();
        }
        images_->setImages(frames(4));
        animate_->setActive(true);
        animate_->tick();
        QCOMPARE(centreColour(), frameColour(0));
        QCOMPARE(animate_->frameIndex(), 1);
    }

    void transparentLeavesBottomLeftColourOut() {
        animate_->setActive(true);
        animate_->tick();
        QCOMPARE(cornerColour(), kBackdrop);

        animate_->setTransparent(true);
        animate_->tick();
        QCOMPARE(cornerColour(), kParentColour);
        QCOMPARE(centreColour(), frameColour(1));
    }

    void negativeIntervalIsRefused() {
        QVERIFY_THROWS_EXCEPTION(ControlError, animate_->setInterval(-1));
        QCOMPARE(animate_->interval(), TCoolAnimate::kDefaultInterval);
    }

    void programFramesLoadFromResources() {
        QList<QPixmap> program;
        for (int i = 0; i < kFrames; ++i) {
            QPixmap picture = Look::pixmap(QStringLiteral("anim%1.png").arg(i, 2, 10, QLatin1Char('0')));
            QVERIFY2(!picture.isNull(), qPrintable(QStringLiteral("frame %1 is missing").arg(i)));
            QCOMPARE(picture.size(), QSize(64, 60));
            QCOMPARE(picture.toImage().pixelColor(0, 59), kBackdrop);
            program << picture;
        }
        images_->setImages(program);
        animate_->setTransparent(true);
        animate_->setActive(true);
        animate_->tick();
        QCOMPARE(cornerColour(), kParentColour);
    }

private:
    // The colour at the centre of the animation as its parent shows it.
    QColor centreColour() {
        QImage picture = parent_->grab().toImage();
        QPoint centre = animate_->geometry().center();
        return picture.pixelColor(centre);
    }

    // The bottom-left pixel of the frame drawn centred in the animation.
    QColor cornerColour() {
        QImage picture = parent_->grab().toImage();
        QRect area = animate_->geometry();
        QPoint corner(area.left() + (area.width() - 64) / 2, area.top() + (area.height() - 60) / 2 + 59);
        return picture.pixelColor(corner);
    }

    QWidget* parent_ = nullptr;
    TCoolAnimate* animate_ = nullptr;
    TCoolImages* images_ = nullptr;
};

QTEST_MAIN(TestCoolAnimate)
#include "tst_coolanimate.moc"
