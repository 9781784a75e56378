// The list of redirects as the user sees it: one row per redirect with its COM port,
// serial settings, host address, host port and status, and behind each row its
// device record (connector id, Connector string, client id, TcpClient string, joined
// by the character with code 8). The library's devices are the only record of the
// redirects: the scan rebuilds the rows from them, in place, so that a row that
// survives keeps its position, selection and texts.
#pragma once

#include <QPoint>
#include <QString>
#include <QStringList>
#include <cstdint>

class QTreeWidget;
class QTreeWidgetItem;
class Trap;

class RedirectList {
public:
    // The columns, in order.
    enum Column { ColComPort, ColSettings, ColHost, ColHostPort, ColStatus };

    explicit RedirectList(QTreeWidget& view) : view_(view) {}

    static QString recordOf(const QTreeWidgetItem* row);

    // The scan, step by step; the caller runs each step as a statement of its trap.
    // First every row loses its record; reading the devices gives the record back
    // to the rows of listed redirects; the rows left without one go.
    void forgetRecords();
    // Runs as statements 30 (the count) and 40 to 80 (each device) of the caller's
    // trap; a device whose step fails is skipped, the others still count.
    void readDevices(Trap& trap);
    void dropRowsWithoutRecord();
    bool isEmpty() const;

    // The selected row's device record, split; "Object variable not set" without one.
    QStringList selectedRecord() const;
    // The selected redirect's connector and client ids.
    std::int16_t selectedConnectorId() const;
    std::int16_t selectedClientId() const;

    // The rows by position, for readers that refresh them in place (the live status):
    // the ids of a row's devices, -1 when its record has none, and the texts that
    // such a reader may change. None of these adds, removes or reorders rows, or
    // touches a record or the selection.
    int rowCount() const;
    std::int16_t connectorIdAt(int row) const;
    std::int16_t clientIdAt(int row) const;
    void setStatusText(int row, const QString& text);
    void setToolTipText(int row, const QString& text);

    // The Status text of a TcpClient from its flags, as the scan shows it: "OK" when the
    // OK flag is 1, else "Ready" when the ready flag is 1, else "Emulation is OFF".
    static QString statusText(std::int32_t ready, std::int32_t ok);

    // The first row from the top with this text ("COM5"), or none.
    QTreeWidgetItem* rowOf(const QString& comPortName) const;
    // The row at a point of the view, none on empty space or in an empty list.
    QTreeWidgetItem* rowAt(QPoint point) const;
    // Makes a row the current one and the only one selected.
    void select(QTreeWidgetItem* row);

private:
    QTreeWidget& view_;
};
