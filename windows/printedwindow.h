// A window that prints lines of text onto its own surface, one under the other, from a print
// position that moves down one line per printed line. What it prints is its text for screen
// readers too.
#pragma once

#include <QRect>
#include <QStringList>
#include <QWidget>

class QPushButton;

namespace redim {

class PrintedSurface;

class PrintedWindow : public QWidget {
    Q_OBJECT

public:
    QPushButton *Command1 = nullptr;  // the one button, which closes the window

    // Everything printed since the window was last opened, in order.
    const QStringList &printedLines() const { return printed_; }

    // The height of one printed line, in pixels.
    int lineHeight() const;

public slots:
    void Command1_Click();

protected:
    // A window of `clientSize` pixels printing in "MS Serif" bold 8.25 points, with the one
    // button `caption` at `buttonRect` in the font size `buttonPoints`.
    PrintedWindow(const QString &name, const QString &title, QSize clientSize, const QString &caption, QRect buttonRect,
                  qreal buttonPoints);

    // Prints `lines` below what was printed before. Lines are never wrapped: what does not fit
    // is cut off at the window's right edge.
    void print(const QStringList &lines);

    // Puts the print position back at the top-left corner and forgets what was printed.
    void clearPrinted();

    // Shows `window`, centred on the screen when it was closed, and makes it the active window.
    static void openWindow(PrintedWindow &window);

    // Runs each time the window becomes the application's active window while it is open.
    virtual void Form_Activate() = 0;
    // Runs when the window is closed, whichever way; what was printed is forgotten already.
    virtual void Form_Unload() {}

    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    bool cameFromThisProgram() const;

    QStringList printed_;
    PrintedSurface *surface_ = nullptr;
};

}  // namespace redim
