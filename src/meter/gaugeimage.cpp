#include "meter/gaugeimage.h"

#include <QPainter>

GaugeImage::GaugeImage(QWidget* parent) : QWidget(parent) {}

QImage& GaugeImage::Surface() {
    if (canvas_.isNull()) {
        const QSize s = size().isEmpty() ? QSize(1, 1) : size();
        canvas_ = QImage(s, QImage::Format_RGB32);
        canvas_.fill(Qt::white);
    }
    return canvas_;
}

void GaugeImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!canvas_.isNull()) p.drawImage(rect(), canvas_);
}
