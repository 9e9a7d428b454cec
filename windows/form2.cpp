// The About window.
#include "windows/form2.h"

#include "app/look.h"
#include "windows/texts.h"

namespace redim {

Form2 &Form2::instance()
{
    static Form2 *window = new Form2;  // top-level and application-wide; never parented
    return *window;
}

Form2::Form2()
    : PrintedWindow(QStringLiteral("Form2"), QStringLiteral(" A propos"), QSize(twips(2385), twips(1995)),
                    QStringLiteral("O K"), twipsRect(480, 1320, 1455, 495), 12)
{}

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

void Form2::Form_Unload()
{
    aig = 0;
}

}  // namespace redim
