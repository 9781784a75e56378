// A main window on the scripted platform and the scriptable device library, with
// the error log and the program's files in a folder of the test's own.
#pragma once

#include "app/Settings.h"
#include "windows/frmMain.h"
#include "support/FakePlatform.h"
#include "support/FakeVsp.h"
#include "support/ListRows.h"
#include "support/TestFolder.h"

#include <gtest/gtest.h>
#include <memory>

class MainWindowFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        fake.state.settingsFile = folder.path("Settings.ini");
        window = std::make_unique<frmMain>(fake.platform);
        window->setScriptFile(folder.path("Untitled.qlc"));
    }
    void TearDown() override
    {
        window.reset();
    }

    // The texts of the rows, column by column, "|" between columns.
    QStringList rows() const
    {
        QStringList list;
        for (int i = 0; i < listRows::rowCount(window->lstPairs); ++i) {
            QStringList columns;
            for (int c = 0; c < 5; ++c)
                columns << listRows::rowText(window->lstPairs, i, c);
            list << columns.join('|');
        }
        return list;
    }
    QString record(int row) const { return listRows::recordText(window->lstPairs, row); }

    TestFolder folder;
    FakeVsp vsp;
    FakePlatform fake;
    std::unique_ptr<frmMain> window;
};
