// The Help window: prints the help text each time it becomes active, below what it printed
// before, until it is closed.
#pragma once

#include "windows/printedwindow.h"

namespace redim {

class Form3 final : public PrintedWindow {
    Q_OBJECT

public:
    // The single instance, created on first use; it outlives its closing.
    static Form3 &instance();

    // "Aide": loads the window if it is closed, then shows and activates it. Its text names
    // `tempFolder`, the private folder the session works in.
    static void open(const QString &tempFolder);

protected:
    void Form_Activate() override;

private:
    Form3();

    QString tempFolder_;
};

}  // namespace redim
