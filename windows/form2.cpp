// The About window.
#include "windows/form2.h"

#include "app/look.h"
#include "windows/texts.h"

#include <QIcon>
#include <QPushButton>

namespace redim {

Form2 &Form2::instance()
{
    static Form2 *window = new Form2;  // top-level and application-wide; never parented
    return *window;
}

Form2::Form2()
{
    setObjectName(QStringLiteral("Form2"));
    setWindowTitle(QStringLiteral(" A propos"));
    setWindowIcon(QIcon(QStringLiteral(":/redim.xpm")));
    resize(twips(2385), twips(1995));
    setFont(serifFont(8.25));

    Command1 = new QPushButton(QStringLiteral("O K"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twipsRect(480, 1320, 1455, 495));
    Command1->setFont(serifFont(12));
    connect(Command1, &QPushButton::clicked, this, &Form2::Command1_Click);
}

void Form2::open()
{
    openWindow(instance());
}

void Form2::Form_Activate()
{
    if (aig != 0) {
        close();
        return;
    }
    aig = 1;
    print(texts::aboutLines());
}

void Form2::Command1_Click()
{
    close();
}

void Form2::Form_Unload()
{
    aig = 0;
}

}  // namespace redim
