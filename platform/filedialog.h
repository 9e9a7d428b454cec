// The open-file dialog, behind an interface so that tests can script the user's answer.
#pragma once

#include <QString>

class QWidget;

namespace redim {

class FileDialog {
public:
    virtual ~FileDialog() = default;

    // Shows a modal open-file dialog with one `filter` entry ("JPG (*.jpg)") and returns the full
    // path of the chosen file, or an empty string when the user cancels.
    virtual QString getOpenFileName(QWidget *parent, const QString &filter) = 0;
};

// Qt's own dialog; it matches the filter's pattern ignoring letter case.
class QtFileDialog final : public FileDialog {
public:
    QString getOpenFileName(QWidget *parent, const QString &filter) override;
};

}  // namespace redim
