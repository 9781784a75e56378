// The rows of the list of redirects as an item model: each row a redirect as the
// scan last read it from the library (its two devices with their ids and
// initialization strings, the texts of its five columns) and the tooltip of the row.
// The list view shows it; the scan and the commands change it through RedirectList.
#pragma once

#include <QAbstractTableModel>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

// One of a redirect's devices as the library lists it.
struct ListedDevice {
    std::int32_t id = 0;
    QString init;  // its initialization string, cleaned
};

struct RedirectRow {
    // The columns, in order.
    enum Column { ColComPort, ColSettings, ColHost, ColHostPort, ColStatus, ColumnCount };

    std::array<QString, ColumnCount> texts;  // texts[ColComPort] ("COM5") is the row's key
    // The devices that claimed the row in the last scan: the Connector resets it, the
    // first TcpClient of its COM number completes it. A row whose Connector is gone
    // keeps only its client.
    std::optional<ListedDevice> connector;
    std::optional<ListedDevice> client;
    QString toolTip;

    bool isClaimed() const { return connector || client; }
};

class RedirectListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    const RedirectRow& row(int position) const { return rows_.at(position); }

    // A new row at the end, with its key as its only text.
    int append(const QString& comPortName);
    void remove(int position);
    // A cell's text; the view hears of the cell only when its text changes.
    void setText(int position, RedirectRow::Column column, const QString& text);
    void setToolTip(int position, const QString& text);
    // The devices behind a row; nothing the view shows.
    void setDevices(int position, std::optional<ListedDevice> connector, std::optional<ListedDevice> client);

private:
    QList<RedirectRow> rows_;
};
