// The platform-facing pieces the windows use, and the program's state. The program
// fills it with the Qt implementations; tests fill it with scripted ones.
#pragma once

#include "app/platform/BusyCursor.h"
#include "app/platform/DocumentOpener.h"
#include "app/platform/FileDialogs.h"
#include "app/platform/MenuPopup.h"
#include "app/platform/MessageBoxes.h"
#include "app/platform/TrayIcon.h"
#include "app/platform/WineRegistry.h"

struct ProgramState;  // app/ProgramState.h

struct Platform {
    MessageBoxes* messages = nullptr;
    TrayIconPort* tray = nullptr;
    BusyCursor* cursor = nullptr;
    FileDialogs* dialogs = nullptr;
    MenuPopup* popups = nullptr;
    DocumentOpener* opener = nullptr;
    WineRegistry* wine = nullptr;  // none: the ports stay out of Wine
    ProgramState* state = nullptr;  // owned by whoever starts the windows; always set for them
};
