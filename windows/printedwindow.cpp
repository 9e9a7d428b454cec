// Printing onto a window's surface. What was printed is kept, so it is drawn again when the
// window is covered and uncovered, and screen readers read it as the window's text.
#include "windows/printedwindow.h"

#include "app/look.h"
#include "windows/informationicon.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QIcon>
#include <QPainter>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QWindow>

namespace redim {

namespace {

// Where the focus was before it came to a window: the program's focus window, and the one
// before it, as Qt reports them. Qt reports a null focus window while another program has the
// focus, and never between two windows of this program.
struct FocusHistory {
    QPointer<QWindow> current;
    QPointer<QWindow> previous;
};

FocusHistory &focusHistory()
{
    static FocusHistory history;
    return history;
}

void followFocus()
{
    static bool following = false;
    if (following)
        return;
    following = true;
    focusHistory().current = QGuiApplication::focusWindow();
    QObject::connect(qApp, &QGuiApplication::focusWindowChanged, qApp, [](QWindow *window) {
        FocusHistory &history = focusHistory();
        history.previous = history.current;
        history.current = window;
    });
}

// The icon the About and Help windows share.
QIcon informationIcon()
{
    QIcon icon;
    icon.addPixmap(QPixmap(information_32));
    icon.addPixmap(QPixmap(information_16));
    return icon;
}

}  // namespace

// The surface the lines are printed on, under the button: the whole window. Screen readers read
// it as a text of those lines.
class PrintedSurface final : public QWidget {
public:
    explicit PrintedSurface(QWidget *window) : QWidget(window) { setAccessibleRole(this, QAccessible::StaticText); }

    void setLines(const QStringList &lines)
    {
        lines_ = lines;
        setAccessibleName(lines.join(QLatin1Char('\n')));
        update();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setPen(palette().color(QPalette::WindowText));
        const int height = fontMetrics().height();
        const int ascent = fontMetrics().ascent();
        for (qsizetype i = 0; i < lines_.size(); ++i) {
            const int top = static_cast<int>(i) * height;
            if (top > this->height())
                break;  // the rest lies below the window
            painter.drawText(0, top + ascent, lines_.at(i));
        }
    }

private:
    QStringList lines_;
};

PrintedWindow::PrintedWindow(const QString &name, const QString &title, QSize clientSize, const QString &caption,
                             QRect buttonRect, qreal buttonPoints)
{
    setObjectName(name);
    setWindowTitle(title);
    setWindowIcon(informationIcon());
    setAccessibleRole(this, QAccessible::Dialog);
    resize(clientSize);
    setFont(serifFont(8.25));

    surface_ = new PrintedSurface(this);
    surface_->setGeometry(rect());

    Command1 = new QPushButton(caption, this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(buttonRect);
    Command1->setFont(serifFont(buttonPoints));
    connect(Command1, &QPushButton::clicked, this, &PrintedWindow::Command1_Click);
    followFocus();
}

void PrintedWindow::Command1_Click()
{
    close();
}

int PrintedWindow::lineHeight() const
{
    return fontMetrics().height();
}

void PrintedWindow::print(const QStringList &lines)
{
    printed_ += lines;
    surface_->setLines(printed_);
}

void PrintedWindow::clearPrinted()
{
    printed_.clear();
    surface_->setLines(printed_);
}

void PrintedWindow::openWindow(PrintedWindow &window)
{
    if (!window.isVisible())
        centreOnScreen(&window);  // loading the window centres it
    window.show();
    window.raise();
    window.activateWindow();
}

// Only an activation from another window of this program counts: coming back to the window
// from another program is none.
bool PrintedWindow::event(QEvent *event)
{
    if (event->type() == QEvent::WindowActivate && isVisible() && cameFromThisProgram())
        Form_Activate();
    return QWidget::event(event);
}

bool PrintedWindow::cameFromThisProgram() const
{
    // Qt may tell of the change before or after this window hears of its activation.
    const FocusHistory &history = focusHistory();
    const QWindow *from = history.current == windowHandle() ? history.previous : history.current;
    return from != nullptr;
}

void PrintedWindow::closeEvent(QCloseEvent *event)
{
    clearPrinted();
    Form_Unload();
    event->accept();
}

void PrintedWindow::resizeEvent(QResizeEvent *event)
{
    surface_->setGeometry(rect());
    QWidget::resizeEvent(event);
}

}  // namespace redim
