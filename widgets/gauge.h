// The progress gauge: a bordered bar filled from the left in proportion to Progress between MinValue and
// MaxValue, with the percentage written across it so that it reads over both colours.
#pragma once

#include <QColor>
#include <QWidget>

// Holds MinValue <= Progress <= MaxValue at all times; a bound set the wrong side of the other is refused
// with a ControlError and leaves the gauge as it was.
class TGauge : public QWidget {
    Q_OBJECT
public:
    explicit TGauge(QWidget* parent = nullptr);

    int minValue() const { return minValue_; }
    int maxValue() const { return maxValue_; }
    int progress() const { return progress_; }
    QColor backColor() const { return backColor_; }
    QColor foreColor() const { return foreColor_; }

    // Raises Progress with it when needed. Throws ControlError when value is above MaxValue.
    void setMinValue(int value);
    // Lowers Progress with it when needed. Throws ControlError when value is below MinValue.
    void setMaxValue(int value);
    // Stores value held within [MinValue, MaxValue]. The gauge is repainted only when the whole percentage
    // it draws changes, so a caller may step it once per record of a long walk.
    void setProgress(int value);
    void setBackColor(const QColor& color);
    void setForeColor(const QColor& color);

    // The whole percentage Progress has covered between the bounds, truncated; 0 when the bounds are equal.
    int percentDone() const;

    QSize sizeHint() const override { return QSize(200, 24); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int minValue_ = 0;
    int maxValue_ = 100;
    int progress_ = 0;
    QColor backColor_ = Qt::white;
    QColor foreColor_ = Qt::black;
};
