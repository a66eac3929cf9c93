#include "app/widgets.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {
void DrawMagnifier(QPainter& p, int s, bool plus) {
    const qreal r = s * 0.30;
    const QPointF c(s * 0.40, s * 0.40);
    p.setPen(QPen(QColor(40, 40, 40), s * 0.09, Qt::SolidLine, Qt::RoundCap));
    p.setBrush(QColor(210, 235, 255));
    p.drawEllipse(c, r, r);
    p.drawLine(QPointF(c.x() + r * 0.72, c.y() + r * 0.72), QPointF(s * 0.92, s * 0.92));
    p.setPen(QPen(QColor(20, 20, 140), s * 0.08, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(c.x() - r * 0.55, c.y()), QPointF(c.x() + r * 0.55, c.y()));
    if (plus) p.drawLine(QPointF(c.x(), c.y() - r * 0.55), QPointF(c.x(), c.y() + r * 0.55));
}

void DrawScope(QPainter& p, int s, bool lit) {
    // A monitor on the left, a handheld meter on the right, a cable between them.
    const QColor screen = lit ? QColor(90, 230, 120) : QColor(40, 50, 45);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(s * 0.05, s * 0.15, s * 0.55, s * 0.45));
    p.setBrush(screen);
    p.drawRect(QRectF(s * 0.10, s * 0.20, s * 0.45, s * 0.33));
    if (lit) {
        QPainterPath wave;
        wave.moveTo(s * 0.12, s * 0.37);
        for (int i = 1; i <= 20; ++i) {
            const qreal x = s * 0.12 + i * s * 0.41 / 20;
            wave.lineTo(x, s * 0.37 - std::sin(i * 0.63) * s * 0.1);
        }
        p.setPen(QPen(QColor(0, 80, 0), 1));
        p.setBrush(Qt::NoBrush);
        p.drawPath(wave);
        p.setPen(QPen(Qt::black, 1));
    }
    p.setBrush(QColor(160, 160, 160));
    p.drawRect(QRectF(s * 0.25, s * 0.60, s * 0.15, s * 0.08));
    p.setBrush(QColor(230, 180, 40));
    p.drawRoundedRect(QRectF(s * 0.68, s * 0.25, s * 0.27, s * 0.62), 2, 2);
    p.setBrush(screen);
    p.drawRect(QRectF(s * 0.72, s * 0.30, s * 0.19, s * 0.16));
    p.setBrush(Qt::black);
    p.drawEllipse(QPointF(s * 0.815, s * 0.66), s * 0.07, s * 0.07);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(60, 60, 60), 1.2));
    p.drawLine(QPointF(s * 0.60, s * 0.45), QPointF(s * 0.68, s * 0.55));
}

void DrawPageArrow(QPainter& p, int s, bool left, bool bar) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 30, 120));
    QPolygonF tri;
    if (left)
        tri << QPointF(s * 0.25, s * 0.5) << QPointF(s * 0.7, s * 0.2) << QPointF(s * 0.7, s * 0.8);
    else
        tri << QPointF(s * 0.75, s * 0.5) << QPointF(s * 0.3, s * 0.2) << QPointF(s * 0.3, s * 0.8);
    p.drawPolygon(tri);
    if (bar) p.drawRect(QRectF(left ? s * 0.15 : s * 0.75, s * 0.2, s * 0.1, s * 0.6));
}
}  // namespace

QPixmap DrawIcon(IconKind kind, int size) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    const int s = size;
    switch (kind) {
        case IconKind::LinkOk:
        case IconKind::LinkDown: {
            const bool ok = kind == IconKind::LinkOk;
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(ok ? QColor(40, 200, 60) : QColor(90, 90, 90));
            p.drawEllipse(QRectF(s * 0.1, s * 0.1, s * 0.8, s * 0.8));
            p.setBrush(ok ? QColor(180, 255, 180) : QColor(140, 140, 140));
            p.drawEllipse(QRectF(s * 0.25, s * 0.2, s * 0.3, s * 0.25));
            break;
        }
        case IconKind::ZoomIn: DrawMagnifier(p, s, true); break;
        case IconKind::ZoomOut: DrawMagnifier(p, s, false); break;
        case IconKind::ScopeDark: DrawScope(p, s, false); break;
        case IconKind::ScopeLit: DrawScope(p, s, true); break;
        case IconKind::NewTable:
        case IconKind::ChartNew: {
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(Qt::white);
            QPolygonF sheet;
            sheet << QPointF(s * 0.2, s * 0.1) << QPointF(s * 0.62, s * 0.1) << QPointF(s * 0.8, s * 0.28)
                  << QPointF(s * 0.8, s * 0.9) << QPointF(s * 0.2, s * 0.9);
            p.drawPolygon(sheet);
            if (kind == IconKind::ChartNew) {
                p.setPen(QPen(Qt::blue, 1.2));
                p.drawLine(QPointF(s * 0.3, s * 0.7), QPointF(s * 0.7, s * 0.7));
            }
            break;
        }
        case IconKind::OpenFile: {
            p.setPen(QPen(QColor(120, 90, 0), 1));
            p.setBrush(QColor(240, 200, 80));
            p.drawRect(QRectF(s * 0.1, s * 0.3, s * 0.8, s * 0.55));
            p.drawRect(QRectF(s * 0.1, s * 0.22, s * 0.3, s * 0.1));
            break;
        }
        case IconKind::SaveFile:
        case IconKind::ChartSave: {
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(QColor(40, 60, 160));
            p.drawRect(QRectF(s * 0.12, s * 0.12, s * 0.76, s * 0.76));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(s * 0.25, s * 0.12, s * 0.5, s * 0.3));
            p.setBrush(QColor(180, 180, 180));
            p.drawRect(QRectF(s * 0.3, s * 0.6, s * 0.4, s * 0.28));
            break;
        }
        case IconKind::PrintTable: {
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(s * 0.28, s * 0.1, s * 0.44, s * 0.3));
            p.setBrush(QColor(150, 150, 150));
            p.drawRect(QRectF(s * 0.1, s * 0.38, s * 0.8, s * 0.35));
            p.setBrush(Qt::white);
            p.drawRect(QRectF(s * 0.28, s * 0.62, s * 0.44, s * 0.28));
            break;
        }
        case IconKind::Exit: {
            p.setPen(QPen(QColor(90, 50, 10), 1));
            p.setBrush(QColor(170, 110, 50));
            p.drawRect(QRectF(s * 0.15, s * 0.1, s * 0.4, s * 0.8));
            p.setPen(QPen(QColor(200, 0, 0), s * 0.1, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(s * 0.5, s * 0.5), QPointF(s * 0.9, s * 0.5));
            p.drawLine(QPointF(s * 0.9, s * 0.5), QPointF(s * 0.75, s * 0.35));
            p.drawLine(QPointF(s * 0.9, s * 0.5), QPointF(s * 0.75, s * 0.65));
            break;
        }
        case IconKind::Clear: {
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(QColor(250, 160, 170));
            p.translate(s / 2.0, s / 2.0);
            p.rotate(-35);
            p.drawRoundedRect(QRectF(-s * 0.38, -s * 0.16, s * 0.76, s * 0.32), 2, 2);
            break;
        }
        case IconKind::PageFirst: DrawPageArrow(p, s, true, true); break;
        case IconKind::PagePrevious: DrawPageArrow(p, s, true, false); break;
        case IconKind::PageNext: DrawPageArrow(p, s, false, false); break;
        case IconKind::PageLast: DrawPageArrow(p, s, false, true); break;
        case IconKind::Plug: {
            p.setPen(QPen(Qt::black, 1));
            p.setBrush(QColor(120, 120, 120));
            p.drawRect(QRectF(s * 0.3, s * 0.1, s * 0.4, s * 0.35));
            p.setBrush(QColor(40, 40, 40));
            p.drawRect(QRectF(s * 0.25, s * 0.45, s * 0.5, s * 0.3));
            p.drawLine(QPointF(s * 0.5, s * 0.75), QPointF(s * 0.5, s * 0.95));
            break;
        }
    }
    return pm;
}

ImageButton::ImageButton(IconKind kind, int size, QWidget* parent) : QLabel(parent) {
    setPixmap(DrawIcon(kind, size));
    setFixedSize(size, size);
    setCursor(Qt::PointingHandCursor);
}

void ImageButton::mouseReleaseEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) emit clicked();
    QLabel::mouseReleaseEvent(event);
}

PanelLabel::PanelLabel(const QString& caption, QWidget* parent) : QLabel(caption, parent) {
    setAlignment(Qt::AlignCenter);
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setAutoFillBackground(true);
}

void PanelLabel::mouseReleaseEvent(QMouseEvent* event) {
    if (isEnabled() && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
    QLabel::mouseReleaseEvent(event);
}

void PanelLabel::changeEvent(QEvent* event) { QLabel::changeEvent(event); }
