// The program's look: Fusion style (it honours the palettes of frames and buttons on every
// desktop), the serif face, readable colours in any theme, centring, and the windows' roles for
// screen readers.
#include "app/look.h"

#include <QAccessibleWidget>
#include <QApplication>
#include <QEvent>
#include <QImage>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QStyleOptionButton>
#include <QWidget>

#include <algorithm>
#include <cmath>

namespace redim {

namespace {

constexpr QPalette::ColorRole kBackgroundRoles[] = {QPalette::Window, QPalette::Base, QPalette::Button};
constexpr QPalette::ColorRole kTextRoles[] = {QPalette::WindowText, QPalette::Text, QPalette::ButtonText};
constexpr double kReadable = 4.5;

double luminance(const QColor &colour)
{
    const auto linear = [](float channel) {
        return channel <= 0.04045f ? channel / 12.92 : std::pow((channel + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) + 0.0722 * linear(colour.blueF());
}

// The platform's text colour where it reads well on `background`, otherwise black or white.
QColor readableOn(const QColor &background, const QColor &platformText)
{
    if (contrastRatio(platformText, background) >= kReadable)
        return platformText;
    const QColor black(Qt::black), white(Qt::white);
    return contrastRatio(black, background) >= contrastRatio(white, background) ? black : white;
}

// The colour the style paints under a control's text. A push button is not painted in its
// palette's colour: the style draws its own shade of it.
QColor paintedBackground(QWidget *widget, const QPalette &palette)
{
    const auto *button = qobject_cast<QPushButton *>(widget);
    if (button == nullptr)
        return palette.color(widget->backgroundRole());
    QStyleOptionButton option;
    option.initFrom(button);
    option.palette = palette;
    option.rect = QRect(QPoint(0, 0), button->size().expandedTo(QSize(16, 16)));
    QImage bevel(option.rect.size(), QImage::Format_ARGB32_Premultiplied);
    bevel.fill(palette.color(QPalette::Button));
    QPainter painter(&bevel);
    button->style()->drawControl(QStyle::CE_PushButtonBevel, &option, &painter, button);
    painter.end();
    return bevel.pixelColor(option.rect.center());
}

// A widget's designed colours, given again whenever the platform's palette changes.
class Colours final : public QObject {
    Q_OBJECT

public:
    Colours(QWidget *widget, const QColor &background, const QColor &foreground)
        : QObject(widget), background_(background), foreground_(foreground)
    {
        widget->installEventFilter(this);
    }

    void apply(QWidget *widget) const
    {
        // Every role is set explicitly, so a control with the platform's colours does not take on
        // the colours of the frame or window it sits in.
        const QPalette platform = QApplication::palette(widget);
        QPalette palette;
        for (int role = 0; role < QPalette::NColorRoles; ++role) {
            const auto colorRole = static_cast<QPalette::ColorRole>(role);
            palette.setBrush(colorRole, platform.brush(colorRole));
        }
        if (background_.isValid()) {
            for (QPalette::ColorRole role : kBackgroundRoles)
                palette.setColor(role, background_);
        }
        if (foreground_.isValid()) {
            for (QPalette::ColorRole role : kTextRoles)
                palette.setColor(role, foreground_);
        } else if (background_.isValid()) {
            const QColor painted = paintedBackground(widget, palette);
            for (QPalette::ColorRole role : kTextRoles)
                palette.setColor(role, readableOn(painted, platform.color(role)));
        }
        widget->setPalette(palette);
        widget->setAutoFillBackground(background_.isValid());
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::ApplicationPaletteChange)
            apply(static_cast<QWidget *>(watched));
        return false;
    }

private:
    const QColor background_;
    const QColor foreground_;
};

// Centres its window, and once more when the window manager has framed it: on X11 the frame is
// known only once the window is on the screen (its first move, or its activation, tells).
class Centring final : public QObject {
    Q_OBJECT

public:
    explicit Centring(QWidget *window) : QObject(window) { window->installEventFilter(this); }

    void place(QWidget *window)
    {
        framed_ = window->frameGeometry().size() != window->size();
        const QScreen *screen = window->screen();
        if (!screen)
            return;
        const QRect area = screen->geometry();
        const QSize outer = window->frameGeometry().size();
        const double left = (area.width() - outer.width()) / 2.0;
        const double top = (area.height() - outer.height()) / 2.0;
        window->move(area.left() + static_cast<int>(left), area.top() + static_cast<int>(top));
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *window = static_cast<QWidget *>(watched);
        switch (event->type()) {
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowActivate:
            if (!framed_ && window->frameGeometry().size() != window->size())
                place(window);
            break;
        default: break;
        }
        return false;
    }

private:
    bool framed_ = false;
};

const char *const kRoleProperty = "redimAccessibleRole";

QAccessibleInterface *windowWithRole(const QString &, QObject *object)
{
    if (!object || !object->isWidgetType())
        return nullptr;
    const QVariant role = object->property(kRoleProperty);
    if (!role.isValid())
        return nullptr;
    return new QAccessibleWidget(static_cast<QWidget *>(object), role.value<QAccessible::Role>());
}

}  // namespace

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
    QAccessible::installFactory(windowWithRole);
}

void setColours(QWidget *widget, const QColor &background, const QColor &foreground)
{
    delete widget->findChild<Colours *>(QString(), Qt::FindDirectChildrenOnly);
    (new Colours(widget, background, foreground))->apply(widget);
}

double contrastRatio(const QColor &a, const QColor &b)
{
    const double lighter = std::max(luminance(a), luminance(b));
    const double darker = std::min(luminance(a), luminance(b));
    return (lighter + 0.05) / (darker + 0.05);
}

void centreOnScreen(QWidget *window)
{
    auto *centring = window->findChild<Centring *>(QString(), Qt::FindDirectChildrenOnly);
    if (centring == nullptr)
        centring = new Centring(window);
    centring->place(window);
}

void setAccessibleRole(QWidget *window, QAccessible::Role role)
{
    window->setProperty(kRoleProperty, QVariant::fromValue(role));
}

}  // namespace redim

#include "look.moc"
