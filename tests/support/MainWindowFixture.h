// A main window on the scripted platform and the scriptable device library, with
// the error log and the program's files (and its port directory) in a folder of
// the test's own. The window is reached as the user reaches it: its widgets and
// menu entries by their names.
#pragma once

#include "app/Settings.h"
#include "windows/frmMain.h"
#include "support/FakePlatform.h"
#include "support/FakeVsp.h"
#include "support/ListRows.h"
#include "support/TestFolder.h"
#include "support/WindowParts.h"

#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QTreeView>
#include <gtest/gtest.h>
#include <memory>

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.state.settingsFile = folder.path("Settings.ini");
        QDir().mkpath(folder.path("ports"));
        qputenv("VSP_PORT_DIR", folder.path("ports").toUtf8());
        window = std::make_unique<frmMain>(fake.platform);
        window->setScriptFile(folder.path("Untitled.qlc"));
    }
    void TearDown() override
    {
        window.reset();
        qunsetenv("VSP_PORT_DIR");
    }

    template <class T = QWidget>
    T* part(const char* name) const
    {
        return ::part<T>(*window, name);
    }
    void trigger(const char* action) const { ::trigger(*window, action); }
    void click(const char* button) const { ::click(*window, button); }
    QTreeView* list() const { return part<QTreeView>("lstPairs"); }
    QComboBox* choice(const char* name) const { return part<QComboBox>(name); }
    QLineEdit* box(const char* name) const { return part<QLineEdit>(name); }
    bool editorShown() const { return !part("fraNewRedirect")->isHidden(); }
    // What the user sees of the state: the "*" after the file's name in the title,
    // and the Emulation menu's entry.
    bool unsaved() const { return window->windowTitle().contains("*]"); }
    bool emulationRunning() const { return part<QAction>("mnuEmulation")->text() == "Stop Emulation"; }

    // A redirect made in the editor, as the user makes an unsaved change (the window
    // started). It starts emulation.
    void createRedirect(const QString& com = "COM5", const QString& host = "h")
    {
        trigger("mnuCreate");
        choice("cmbComPort")->setCurrentText(com);
        box("txtHostAddress")->setText(host);
        click("cmdNewRedirect(0)");
    }

    // An unsaved change made as the user makes one, with the library's calls so far
    // forgotten, so a test sees only what follows.
    void makeUnsavedChange()
    {
        createRedirect();
        vsp.reset();
    }

    // The texts of the rows, column by column, "|" between columns.
    QStringList rows() const
    {
        QStringList texts;
        for (int i = 0; i < listRows::rowCount(list()); ++i) {
            QStringList columns;
            for (int c = 0; c < 5; ++c)
                columns << listRows::rowText(list(), i, c);
            texts << columns.join('|');
        }
        return texts;
    }
    QString record(int row) const { return listRows::recordText(list(), row); }

    TestFolder folder;
    FakeVsp vsp;
    FakePlatform fake;
    std::unique_ptr<frmMain> window;
};
