// The Help window.
#include "windows/form3.h"

#include "app/look.h"
#include "windows/texts.h"

#include <QIcon>
#include <QPushButton>

namespace redim {

Form3 &Form3::instance()
{
    static Form3 *window = new Form3;  // top-level and application-wide; never parented
    return *window;
}

Form3::Form3()
{
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(QStringLiteral(" Aide"));
    setWindowIcon(QIcon(QStringLiteral(":/redim.xpm")));
    resize(twips(6375), twips(6855));
    setFont(serifFont(8.25));
    setColours(this, Qt::white);

    Command1 = new QPushButton(QStringLiteral("OK"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Command1->setGeometry(twipsRect(2520, 6240, 1455, 495));
    Command1->setFont(serifFont(13.5));
    setColours(Command1, QColor());  // the platform's own colours on the white window
    connect(Command1, &QPushButton::clicked, this, &Form3::Command1_Click);
}

void Form3::open()
{
    openWindow(instance());
}

void Form3::Form_Activate()
{
    print(texts::helpLines());
}

void Form3::Command1_Click()
{
    close();
}

}  // namespace redim
