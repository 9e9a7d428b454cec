// The texts the About and Help windows print.
#pragma once

#include <QDir>
#include <QStringList>

namespace redim::texts {

// Kept as one constant each so that they are easy to change.
inline const QString contactAddress = QStringLiteral("redim-jpeg@example.org");
inline const QString webAddress = QStringLiteral("https://redim-jpeg.example.org");

inline QStringList aboutLines()
{
    return {
        QString(), QStringLiteral("      © 2026 Redim Jpeg"),
        QString(), QStringLiteral("            ") + contactAddress,
        QString(), QStringLiteral("         ") + webAddress,
    };
}

// `tempFolder` is the private folder that holds the result folder; one in the home is named from
// "~", as a shell names it, so that the line keeps its end in the window.
inline QStringList helpLines(QString tempFolder)
{
    const QString home = QDir::homePath();
    if (home != QStringLiteral("/") && tempFolder.startsWith(home + QLatin1Char('/')))
        tempFolder.replace(0, home.size(), QStringLiteral("~"));
    return {
        QString(),
        QStringLiteral("   Redim Jpeg redimensionne vos photos à l'aide du composant Imglib et du programme"),
        QStringLiteral("   ConvertImg (freeware)."),
        QString(),
        QStringLiteral("   Il permet de lire des fichiers jpeg (*.jpg), de les redimensionner et de les"),
        QStringLiteral("   convertir en fichiers bitmap (*.bmp), puis de les reconvertir en fichiers jpeg."),
        QStringLiteral("   L'opération s'effectue en deux phases: conversion jpeg-bitmap, puis conversion"),
        QStringLiteral("   bitmap-jpeg. Les fichiers bitmap peuvent être ou non conservés."),
        QString(),
        QStringLiteral("   On peut redimensionner un seul fichier à la fois ou tous les fichiers d'un dossier"),
        QStringLiteral("   au cours d'un seul passage."),
        QString(),
        QStringLiteral("   Pour redimensionner l'image, il convient de déplacer le curseur prévu à cet effet"),
        QStringLiteral("   sur le taux souhaité. L'image en écriture est redimensionnée en conservant le"),
        QStringLiteral("   rapport hauteur/largeur d'origine."),
        QString(),
        QStringLiteral("   Le résultat est écrit dans un dossier RaduZor figurant dans le dossier temporaire"),
        QStringLiteral("   privé ") + tempFolder +
            QStringLiteral(". Les fichiers écrits portent le même nom que les fichiers lus."),
        QStringLiteral("   Au début d'une session, le contenu de ce dossier est effacé. Il est donc conseillé"),
        QStringLiteral("   de sauvegarder ailleurs, si nécessaire, les fichiers du dossier résultat."),
        QString(),
        QStringLiteral("   Ce dossier RaduZor contient un fichier Log.txt dans lequel figurent, s'il y a lieu,"),
        QStringLiteral("   les noms des fichiers ayant causé des anomalies lors de la session."),
        QString(),
        QStringLiteral("   "),
        QStringLiteral("   "),
        QStringLiteral("   "),
        QStringLiteral("   "),
        QStringLiteral("   "),
        QString(),
        QStringLiteral("   Envoyez vos demandes de renseignements et vos suggestions à ") + contactAddress,
    };
}

}  // namespace redim::texts
