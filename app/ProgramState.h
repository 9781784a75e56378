// What the program holds while it runs, owned by the start-up routine (or a test) and
// handed to the windows with the platform: the settings file, the start-up load choice
// read from it, and whether the desktop shows messages at the tray icon.
#pragma once

#include <QString>
#include <cstdint>

struct ProgramState {
    // Full path of Settings.ini; set once at start-up.
    QString settingsFile;
    // Which configuration loads at start-up: 0 none, 1 the last file, 2 a fixed file.
    std::uint8_t scriptLoadOpt = 0;
    // Probed each time the tray icon is added; balloons show only when true.
    bool balloonCapable = false;
};
