#pragma once
// Small controls of the window: clickable pictures and clickable panels with a caption.
#include <QLabel>
#include <QPixmap>

// Pictures drawn by the program itself.
enum class IconKind {
    LinkOk,      // connection indicator: frames arriving
    LinkDown,    // connection indicator: no frames
    ZoomIn,      // magnifier with a plus sign
    ZoomOut,     // magnifier with a minus sign
    ScopeDark,   // computer and meter, screens dark
    ScopeLit,    // computer and meter, screens lit
    NewTable,    // empty sheet
    OpenFile,    // folder
    SaveFile,    // disk
    PrintTable,  // printer
    ChartNew,    // blank chart
    ChartSave,   // disk over a chart
    Exit,        // door with an arrow
    Clear,       // eraser
    PageFirst,
    PagePrevious,
    PageNext,
    PageLast,
    Plug,  // USB plug (Connect)
};
QPixmap DrawIcon(IconKind kind, int size = 24);

// A picture that reacts to a click (the magnifiers, the indicators).
class ImageButton : public QLabel {
    Q_OBJECT
public:
    explicit ImageButton(IconKind kind, int size, QWidget* parent = nullptr);
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
};

// A panel with a caption that reacts to a click (Connect, Disconnect, Exit, COM n).
class PanelLabel : public QLabel {
    Q_OBJECT
public:
    PanelLabel(const QString& caption, QWidget* parent = nullptr);
signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent* event) override;
    void changeEvent(QEvent* event) override;
};
