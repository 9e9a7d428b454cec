// Every text the program writes into its status line and its log, in one place.
#pragma once

#include <QStringLiteral>

namespace redim::messages {

// The log's first line.
inline const QString logHeader = QStringLiteral("Liste des fichiers non traités par suite d'anomalies");

// Phase 1.
inline const QString readOrResizeFailed = QStringLiteral("Anomalie. Conversion bitmap avortée");
inline const QString writeFailed = QStringLiteral(" Anomalie. Conversion bitmap avortée.");
inline const QString imageDone = QStringLiteral("Phase 1: Redimensionnement et conversion en bitmap de ");
inline const QString imageDoneEnd = QStringLiteral(" achevée");
inline const QString folderDone =
    QStringLiteral("Phase 1: Redimensionnement et conversion en bitmap des fichiers terminée");

// Start-up, when the private folder or the result folder cannot be used; and Phase 2 and
// clean-up.
inline const QString folderUnusable = QStringLiteral("Anomalie. Dossier ");
inline const QString folderUnusableEnd = QStringLiteral(" inutilisable");
inline const QString converting = QStringLiteral("Phase2: conversion en jpeg des fichiers bitmap en ");
inline const QString converterMissing = QStringLiteral("Anomalie. Lancement de ConvertImg impossible");
inline const QString erasing = QStringLiteral("Effacement des fichiers bitmap");
inline const QString jpegsIn = QStringLiteral("Fichiers Jpeg en ");

}  // namespace redim::messages
