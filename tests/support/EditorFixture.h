// A started main window (choices filled) whose port probe looks into a port
// directory of the test's own, on the scriptable device library.
#pragma once

#include "support/MainWindowFixture.h"

#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

class EditorFixture : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        QDir().mkpath(folder.path("ports"));
        qputenv("VSP_PORT_DIR", folder.path("ports").toUtf8());
        window->Form_Load();
        vsp.reset();
        window->show();
    }
    void TearDown() override
    {
        qunsetenv("VSP_PORT_DIR");
        MainWindowFixture::TearDown();
    }
    // A port that opens, as a real one would.
    void presentPort(int n) { QFile::link("/dev/null", folder.path("ports/COM%1").arg(n)); }

    // A listed redirect, as the library holds it.
    void listRedirect(int com, const QString& serial = "19200,0,8,1,0,0", const QString& host = "10.0.0.9",
                      const QString& port = "4001")
    {
        vsp.addDevice("Connector", QString("%1;0").arg(com).toUtf8().constData());
        vsp.addDevice("TcpClient", QString("%1;%2;%3;%4;1;0;").arg(host, port).arg(com).arg(serial).toUtf8().constData());
        window->ScanAvailPairs();
    }
    void selectRow(int row)
    {
        window->lstPairs->clearSelection();
        listRows::selectRow(window->lstPairs, row);
    }
    QString editorValues() const
    {
        return QStringList{window->cmbComPort->currentText(), window->cmbBaud->currentText(), window->cmbDTRRTS->currentText(),
                           window->cmbParity->currentText(),  window->cmbBits->currentText(), window->cmbStopBits->currentText(),
                           window->txtRIT->text(),            window->txtHostAddress->text(), window->txtHostPort->text()}
            .join('|');
    }
};
