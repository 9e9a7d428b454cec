// The values every handler of the program shares that belong to no window.
#pragma once

#include <QtGlobal>

namespace redim {

// The image held in memory (0 = none): replaced by each read and each successful resize,
// released before the next read and when the main window goes away.
inline quint32 hdib = 0;

// The option handed to the image library with every bitmap it writes; start-up sets it to 0.
inline qint16 optecr = 0;

// The two rates last handed to the scaling function.
inline qint32 taux1 = 0;
inline qint32 taux2 = 0;

}  // namespace redim
