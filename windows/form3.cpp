// The Help window.
#include "windows/form3.h"

#include "app/look.h"
#include "windows/texts.h"

#include <QPushButton>

namespace redim {

Form3 &Form3::instance()
{
    static Form3 *window = new Form3;  // top-level and application-wide; never parented
    return *window;
}

Form3::Form3()
    : PrintedWindow(QStringLiteral("Form3"), QStringLiteral(" Aide"), QSize(twips(6375), twips(6855)),
                    QStringLiteral("OK"), twipsRect(2520, 6240, 1455, 495), 13.5)
{
    setColours(this, Qt::white);
    setColours(Command1, QColor());  // the platform's own colours on the white window
}

void Form3::open(const QString &tempFolder)
{
    instance().tempFolder_ = tempFolder;
    openWindow(instance());
}

void Form3::Form_Activate()
{
    print(texts::helpLines(tempFolder_));
}

}  // namespace redim
