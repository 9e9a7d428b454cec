// The About window: prints a few lines about the product the first time it becomes active after
// being opened, and closes itself when it becomes active a second time.
#pragma once

#include "windows/printedwindow.h"

namespace redim {

class Form2 final : public PrintedWindow {
    Q_OBJECT

public:
    // The single instance, created on first use; it outlives its closing.
    static Form2 &instance();

    // "A propos": loads the window if it is closed, then shows and activates it.
    static void open();

    qint16 aig = 0;  // 1 once the text has been printed since the window was opened

protected:
    void Form_Activate() override;
    void Form_Unload() override;

private:
    Form2();
};

}  // namespace redim
