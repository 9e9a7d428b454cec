// Redim Jpeg: resizes JPEG photos through a bitmap stage, in a French desktop window.
#include "app/form1.h"
#include "app/look.h"

#include <QApplication>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    redim::applyLook(app);
    // The program ends when its last window closes: "Quitter" leaves an open Help window open.
    app.setQuitOnLastWindowClosed(true);

    redim::Form1 form;
    form.show();
    return app.exec();
}
