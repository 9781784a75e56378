// The application icon, drawn rather than shipped as a file: a serial connector
// shell with a network link, at 16 and 32 pixels.
#pragma once

#include <QIcon>

QIcon appIcon();
