// The program's look, shared by its three windows: units, font, colours and centring.
#pragma once

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
// own, never for the colour of the widget's container.
void setColours(QWidget *widget, const QColor &background, const QColor &foreground = QColor());

// Places a top-level window in the middle of its screen, by its outer size.
void centreOnScreen(QWidget *window);

}  // namespace redim
