#pragma once
// The gauge's drawing surface (KD1): a picture shown stretched over the gauge panel's client
// area. The dial and the needle are drawn into the picture; the picture keeps the pixel size it
// was first drawn at.
#include <QImage>
#include <QWidget>

class GaugeImage : public QWidget {
    Q_OBJECT
public:
    explicit GaugeImage(QWidget* parent = nullptr);

    // The picture to draw on; created at the widget's current size (white) on first use.
    QImage& Surface();
    const QImage& Canvas() const { return canvas_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage canvas_;
};
