// The list of redirects as the user sees it: one row per redirect with its COM port,
// serial settings, host address, host port and status, and behind each row the ids
// and initialization strings of its devices (RedirectListModel). The library's
// devices are the only record of the redirects: the scan rebuilds the rows from
// them, in place, so that a row that survives keeps its position, selection and texts.
#pragma once

#include "app/Steps.h"
#include "devices/RedirectListModel.h"

#include <QPoint>
#include <QString>
#include <cstdint>
#include <optional>
#include <utility>

class QTreeView;

// The steps of reading the library's devices into the rows: the count, then for each
// device its id, its record, its texts, and the row it claims (a Connector's, or a
// client's).
enum class ScanStep { Count, DeviceId, DeviceInfo, DeviceTexts, ClaimByConnector, ClaimByClient };

class RedirectList {
public:
    // Shows its rows in the view.
    explicit RedirectList(QTreeView& view);

    // The scan, step by step. First every row loses its devices; reading the devices
    // gives them back to the rows of listed redirects; the rows left without one go.
    void forgetRecords();
    // A failed step goes to the sink; a device whose step fails is skipped, the others
    // still count.
    void readDevices(const StepSink<ScanStep>& failed);
    void dropRowsWithoutRecord();
    bool isEmpty() const;

    int rowCount() const;

    // A row's device ids, read as the 16-bit values the library's commands take
    // (Overflow outside them). The first is the id of the first device that claimed
    // the row: its Connector's, or its client's when the Connector is gone. The
    // second is the client's: Type mismatch when the Connector has none, Subscript
    // out of range on a row that only its client claimed.
    std::int16_t connectorIdAt(int row) const;
    std::int16_t clientIdAt(int row) const;
    // The two devices of a complete row; Subscript out of range when one is missing.
    std::pair<ListedDevice, ListedDevice> devicesAt(int row) const;

    // The status cell alone, for a refresh between scans.
    void setStatusText(int row, const QString& text);
    // The tooltip over every cell of the row.
    void setToolTipText(int row, const QString& text);

    // The selected row; "Object variable not set" without one.
    int selectedRow() const;
    std::int16_t selectedConnectorId() const { return connectorIdAt(selectedRow()); }
    std::int16_t selectedClientId() const { return clientIdAt(selectedRow()); }

    // A row's device ids for readers that refresh rows in place (the live status):
    // -1 where the row has no such device or no such row exists; never an error.
    std::int16_t connectorIdOrNone(int row) const;
    std::int16_t clientIdOrNone(int row) const;
    // The COM number of a whole COM <-> TCP redirect's row (its Connector and its
    // client both listed): the port a monitor watches. None for any other row.
    std::optional<int> redirectComNumber(int row) const;

    // The Status text of a TcpClient from its flags, as the scan shows it: "OK" when the
    // OK flag is 1, else "Ready" when the ready flag is 1, else "Emulation is OFF".
    static QString statusText(std::int32_t ready, std::int32_t ok);

    // The first row from the top with this text ("COM5"), or none.
    std::optional<int> rowOf(const QString& comPortName) const;
    // The row at a point of the view, none on empty space or in an empty list.
    std::optional<int> rowAt(QPoint point) const;
    // Makes a row the current one and the only one selected.
    void select(int row);

private:
    const RedirectRow& at(int row) const;

    QTreeView& view_;
    RedirectListModel* model_;  // owned by the view
};
