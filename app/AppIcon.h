// The application icon, drawn rather than shipped as a file: a serial connector
// shell with a network link, at 16 and 32 pixels. The same drawing makes the icon
// files the desktop's menu shows (tools/icon-png).
#pragma once

#include <QIcon>

class QPainter;

QIcon appIcon();

// Draws the icon on a square of size by size units from the painter's origin.
void paintAppIcon(QPainter& p, qreal size);
