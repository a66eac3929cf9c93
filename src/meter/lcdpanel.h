#pragma once
// The on-screen mirror of the meter's LCD. (Drawing is filled in with the decoder.)
#include <QFrame>

class LcdPanel : public QFrame {
    Q_OBJECT
public:
    explicit LcdPanel(QWidget* parent = nullptr);
};
