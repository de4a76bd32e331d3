#pragma once
#include <QPixmap>

// The donation picture: a QR-code-like pattern drawn at run time (it encodes nothing).
QPixmap QrPlaceholderPicture(int aSize);
