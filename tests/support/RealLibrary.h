// A window test on the real device library: a folder of the test's own for its port
// directory and settings file, and the binding pointed at the library as built.
// Tests take its parts by name: `RealLibrary world; auto& [folder, fake] = world;`.
#pragma once

#include "deviceapi/VspBinding.h"
#include "support/FakePlatform.h"
#include "support/TestFolder.h"

#include <QFile>

struct RealLibrary {
    TestFolder folder;
    FakePlatform fake;

    RealLibrary()
    {
        qputenv("VSP_PORT_DIR", QFile::encodeName(folder.path("ports")));
        VspBinding::instance().setLibraryFile(VspBinding::defaultLibraryFile);
        fake.state.settingsFile = folder.path("Settings.ini");
    }
};
