#pragma once
// The program's pictures, drawn with QPainter so that no image files are needed.

#include <QPixmap>

namespace zevrin {

/// Serial plug with a green light: shown while the port is open.
QPixmap PortOpenPicture(int size);
/// Serial plug with a red cross: shown while the port is closed.
QPixmap PortClosedPicture(int size);
/// Small magnifier button beside a status field; a click opens its window.
QPixmap StatusButtonPicture(int size);
/// The satellite, as shown in the status windows (64 px) and the About window (128 px).
QPixmap SatellitePicture(int size);

}  // namespace zevrin
