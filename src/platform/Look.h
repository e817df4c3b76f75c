// The look the windows share: colours, fonts, pictures, placement and the grid column fitting.
// Windows take these from here rather than from one another, so a window's header is included
// only by the code that opens that window.
#pragma once

#include "platform/DbGrid.h"

#include <QColor>
#include <QFont>
#include <QObject>
#include <QVector>

class QDialog;
class QFrame;
class QKeyEvent;
class QLabel;
class QPainter;
class QRect;
class QWidget;

namespace qtl {

// The dark blue of enabled selectors, captions and grid titles.
inline const QColor kNavy(0, 0, 128);
// The pale blue of the header strips of the search and registrations windows.
inline const QColor kHeaderColour(241, 244, 254);

// Registers the button glyphs and pictures (once). They are compiled into this static library,
// whose objects the linker would otherwise leave out.
void InitPictures();

// Font families of the original design mapped to ones the system has.
void InstallFontSubstitutes();

// The windows' own font: "MS Sans Serif" 8 pt (a window does not take it from its owner).
QFont WindowFont();

// Bold "Palatino Linotype" of the given pixel size.
QFont PalatinoBold(int pixelSize);

// The colour of enabled text; disabled controls keep the style's grey, so the operator can
// tell the controls not open yet from the ones that are.
void SetTextColour(QWidget* widget, const QColor& colour);

// Secondary windows open in the middle of the desktop, not over their owner.
void CentreOnScreen(QWidget* window);

// The look shared by the search and registrations windows: the program's window font and no way
// out by Esc; see LookupWindowKeyPress.
void SetUpLookupWindow(QDialog* window);
// Esc does not close a lookup window: it closes by its close box (and "Закрыть") only. Returns
// whether the key was taken.
bool LookupWindowKeyPress(QKeyEvent* event);

// A header strip of the search and registrations windows, filled with kHeaderColour; a sunken
// one holds a caption.
QFrame* HeaderPanel(QWidget* parent, bool sunken);
// A caption of those strips: bold Palatino 13 px in navy.
QLabel* NavyCaption(QWidget* parent, const QString& text);
// The keyboard's place: a dotted frame of one pixel in the given colour (the text colour of what
// it surrounds) just inside the rectangle, as the student list frames its focused line.
void DrawFocusFrame(QPainter* painter, const QRect& rect, const QColor& colour);
// Frames the whole widget that way while it has the focus (for controls whose own focus mark the
// eye hardly finds). The frame lets the mouse through.
void FrameFocus(QWidget* widget);

// Keeps a grid's columns in the proportions of their design widths whenever the grid is resized.
class ColumnFitter : public QObject {
    Q_OBJECT
public:
    ColumnFitter(DbGrid* grid, QVector<int> widths);
    void fit();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    DbGrid* m_grid;
    QVector<int> m_widths;
};

}  // namespace qtl
