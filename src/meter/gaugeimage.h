#pragma once
// The gauge's drawing surface: an image stretched over its panel.
#include <QImage>
#include <QWidget>

class GaugeImage : public QWidget {
    Q_OBJECT
public:
    explicit GaugeImage(QWidget* parent = nullptr);
    QImage Canvas;
protected:
    void paintEvent(QPaintEvent* event) override;
};
