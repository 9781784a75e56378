// The about box's picture: drawn by the program, 115 x 228 pixels.
#pragma once

#include <QPixmap>

QPixmap aboutPicture();
