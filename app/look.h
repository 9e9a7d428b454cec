// The program's look, shared by its three windows: units, font, colours, centring, and what
// screen readers are told of each window.
#pragma once

#include <QAccessible>
#include <QColor>
#include <QFont>
#include <QRect>

class QApplication;
class QWidget;

namespace redim {

// Window and control geometry is designed in twips; 15 twips make one pixel at 96 dpi.
constexpr int twips(int value)
{
    return (value + 7) / 15;
}
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}

// "MS Serif", bold, at `points`; a serif face stands in where that face is missing.
QFont serifFont(qreal points);

// Called once before any window exists: the style whose colours follow the palettes we set, and
// the serif faces that replace "MS Serif" on machines without it.
void applyLook(QApplication &app);

// Gives `widget` its background and text colours; an invalid colour stands for the platform's
// own, never for the colour of the widget's container. Where only the background is given, the
// platform's text colour stays if it reads well on that background as painted (a contrast of
// 4.5:1 at least); otherwise the text is black or white, whichever reads better. The colours
// follow the platform's when its palette changes (a new desktop theme).
void setColours(QWidget *widget, const QColor &background, const QColor &foreground = QColor());

// The contrast ratio of two colours, from 1 (the same) to 21 (black and white), as WCAG defines it.
double contrastRatio(const QColor &a, const QColor &b);

// Places a top-level window in the middle of its screen by its outer size, the frame included.
// Called when the window is shown; a window manager that frames the window only afterwards
// (X11) has it centred again once the frame is known.
void centreOnScreen(QWidget *window);

// What screen readers announce `window` as: QAccessible::Window or QAccessible::Dialog.
void setAccessibleRole(QWidget *window, QAccessible::Role role);

}  // namespace redim
