// The program's look: Fusion style (it honours the palettes of frames and buttons on every
// desktop), the serif face, and centring.
#include "app/look.h"

#include <QApplication>
#include <QPalette>
#include <QScreen>
#include <QStyleFactory>
#include <QWidget>

namespace redim {

QFont serifFont(qreal points)
{
    QFont font(QStringLiteral("MS Serif"));
    font.setPointSizeF(points);
    font.setWeight(QFont::Bold);
    font.setStyleHint(QFont::Serif);
    return font;
}

void applyLook(QApplication &app)
{
    QFont::insertSubstitutions(QStringLiteral("MS Serif"),
                               {QStringLiteral("Liberation Serif"), QStringLiteral("DejaVu Serif")});
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
}

void setColours(QWidget *widget, const QColor &background, const QColor &foreground)
{
    // Every role is set explicitly, so a control with the platform's colours does not take on
    // the colours of the frame or window it sits in.
    const QPalette platform = QApplication::palette(widget);
    QPalette palette;
    for (int role = 0; role < QPalette::NColorRoles; ++role) {
        const auto colorRole = static_cast<QPalette::ColorRole>(role);
        palette.setBrush(colorRole, platform.brush(colorRole));
    }
    if (background.isValid()) {
        for (QPalette::ColorRole role : {QPalette::Window, QPalette::Base, QPalette::Button})
            palette.setColor(role, background);
    }
    if (foreground.isValid()) {
        for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
            palette.setColor(role, foreground);
    }
    widget->setPalette(palette);
    widget->setAutoFillBackground(background.isValid());
}

void centreOnScreen(QWidget *window)
{
    const QScreen *screen = window->screen();
    if (!screen)
        return;
    const QRect area = screen->geometry();
    const QSize outer = window->frameGeometry().size();
    const double left = (area.width() - outer.width()) / 2.0;
    const double top = (area.height() - outer.height()) / 2.0;
    window->move(area.left() + static_cast<int>(left), area.top() + static_cast<int>(top));
}

}  // namespace redim
