#include "meter/gaugeimage.h"

#include <QPainter>

GaugeImage::GaugeImage(QWidget* parent) : QWidget(parent) {}

void GaugeImage::paintEvent(QPaintEvent*) {
    QPainter p(this);
    if (!Canvas.isNull()) p.drawImage(rect(), Canvas);
}
