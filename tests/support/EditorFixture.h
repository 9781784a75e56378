// A started main window (choices filled) on the scriptable device library.
#pragma once

#include "support/MainWindowFixture.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPushButton>

class EditorFixture : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        window->Form_Load();
        vsp.reset();
        window->show();
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
        list()->clearSelection();
        listRows::selectRow(list(), row);
    }
    QString editorValues() const
    {
        QStringList values;
        for (const char* name : {"cmbComPort", "cmbBaud", "cmbDTRRTS", "cmbParity", "cmbBits", "cmbStopBits"})
            values << choice(name)->currentText();
        for (const char* name : {"txtRIT", "txtHostAddress", "txtHostPort"})
            values << box(name)->text();
        return values.join('|');
    }
    // A press on the list, where the user's mouse lands.
    void pressOnList(QPoint at, Qt::MouseButton button = Qt::RightButton)
    {
        QWidget* viewport = list()->viewport();
        QMouseEvent event(QEvent::MouseButtonPress, QPointF(at), viewport->mapToGlobal(QPointF(at)), button, button,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(viewport, &event);
    }
    QPoint rowCentre(int row) const { return listRows::rowRect(list(), row).center(); }
    QString devicesLabel() const { return part<QLabel>("lblDevices")->text(); }
    QString createButtonText() const { return part<QPushButton>("cmdNewRedirect(0)")->text(); }
};
