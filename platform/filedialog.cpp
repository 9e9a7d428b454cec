// Qt's open-file dialog, made to match extensions in any letter case.
#include "platform/filedialog.h"

#include <QFileDialog>
#include <QRegularExpression>

namespace redim {

namespace {

// "*.jpg" becomes "*.[jJ][pP][gG]": cameras write DSC0001.JPG, and the dialog's own matching is
// case-sensitive on Linux.
QString anyCase(const QString &filter)
{
    static const QRegularExpression extension(QStringLiteral(R"(\*\.(\w+))"));
    QString result = filter;
    QRegularExpressionMatchIterator it = extension.globalMatch(filter);
    QList<QRegularExpressionMatch> matches;
    while (it.hasNext())
        matches.prepend(it.next());  // replace from the end so earlier offsets stay valid
    for (const QRegularExpressionMatch &match : matches) {
        QString pattern = QStringLiteral("*.");
        for (const QChar c : match.captured(1))
            pattern += c.isLetter() ? QStringLiteral("[%1%2]").arg(c.toLower(), c.toUpper()) : QString(c);
        result.replace(match.capturedStart(), match.capturedLength(), pattern);
    }
    return result;
}

}  // namespace

QString QtFileDialog::getOpenFileName(QWidget *parent, const QString &filter)
{
    // The details are hidden so the list of types still reads "JPG", as the filter describes it.
    return QFileDialog::getOpenFileName(parent, QString(), QString(), anyCase(filter), nullptr,
                                        QFileDialog::HideNameFilterDetails);
}

}  // namespace redim
