#include "devices/RedirectList.h"

#include "app/NumericText.h"
#include "app/RuntimeError.h"
#include "app/Trap.h"
#include "deviceapi/modVSP_APIs.h"
#include "redirect/InitStrings.h"

#include <QHash>
#include <QTreeWidget>

using namespace modVSP_APIs;
using namespace redirect;

namespace {

// Finds a row by its whole text: the first such row from the top. An index instead
// of a search of the list keeps a scan of many redirects instant.
class RowIndex {
public:
    explicit RowIndex(QTreeWidget& list)
        : list_(list)
    {
        // From the bottom up, so that of rows with equal texts the top one wins.
        for (int i = list.topLevelItemCount() - 1; i >= 0; --i)
            rows_[list.topLevelItem(i)->text(RedirectList::ColComPort)] = list.topLevelItem(i);
    }

    QTreeWidgetItem* find(const QString& text) const { return rows_.value(text, nullptr); }

    QTreeWidgetItem* findOrAdd(const QString& text)
    {
        if (QTreeWidgetItem* row = find(text))
            return row;
        auto* row = new QTreeWidgetItem(&list_, QStringList{text});
        rows_.insert(text, row);
        return row;
    }

private:
    QTreeWidget& list_;
    QHash<QString, QTreeWidgetItem*> rows_;
};

void setRecord(QTreeWidgetItem* row, const QString& record)
{
    row->setData(RedirectList::ColComPort, Qt::UserRole, record);
}

// A device id of a record, -1 for an empty or unreadable one.
std::int16_t idOrNone(const QString& text)
{
    if (text.isEmpty())
        return -1;
    try {
        return deviceIdFromText(text);
    } catch (const RuntimeError&) {
        return -1;
    }
}

}  // namespace

QString RedirectList::statusText(std::int32_t ready, std::int32_t ok)
{
    if (ok == 1)
        return QStringLiteral("OK");
    if (ready == 1)
        return QStringLiteral("Ready");
    return QStringLiteral("Emulation is OFF");
}

QString RedirectList::recordOf(const QTreeWidgetItem* row)
{
    return row->data(ColComPort, Qt::UserRole).toString();
}

void RedirectList::forgetRecords()
{
    for (int i = 0; i < view_.topLevelItemCount(); ++i)
        setRecord(view_.topLevelItem(i), QString());
}

void RedirectList::readDevices(Trap& trap)
{
    std::int16_t count = 0;
    trap(30, [&] { count = toInt16(static_cast<double>(vsp_getDevicesCount())); });
    RowIndex rows(view_);
    for (std::int16_t index = 0; index < count; ++index) {
        QString type;
        QString init;
        std::int32_t id = -1;
        std::int32_t ready = 0;
        std::int32_t ok = 0;
        std::int16_t found = 0;
        QStringList fields;
        const bool read = trap(40, [&] { id = vsp_getDeviceIdByIdx(index); }) &&
                          trap(50, [&] { found = vsp_getDeviceInfoEx(id, type, init, ready, ok); }) && found != 0 &&
                          trap(60, [&] {
                              type = cleanOutBuffer(type);
                              init = cleanOutBuffer(init);
                              fields = splitFields(init, QLatin1Char(';'));
                          });
        if (!read)
            continue;
        if (type == QLatin1String(connectorType)) {
            trap(70, [&] {
                QTreeWidgetItem* row = rows.findOrAdd(comPortName(field(fields, 0)));
                setRecord(row, QString::number(id) + recordSeparator + init + recordSeparator);
                row->setText(ColSettings, QString());
                row->setText(ColHost, QString());
                row->setText(ColHostPort, QString());
                row->setText(ColStatus, QStringLiteral("Initializing"));
            });
        } else if (type == QLatin1String(tcpClientType)) {
            trap(80, [&] {
                QTreeWidgetItem* row = rows.find(comPortName(field(fields, 2)));
                const QString status = statusText(ready, ok);
                if (!row)
                    return;
                const QString settings = field(fields, 3);
                const QString host = field(fields, 0);
                const QString hostPort = field(fields, 1);
                setRecord(row, recordOf(row) + QString::number(id) + recordSeparator + init);
                row->setText(ColSettings, settings);
                row->setText(ColHost, host);
                row->setText(ColHostPort, hostPort);
                row->setText(ColStatus, status);
            });
        }
    }
}

void RedirectList::dropRowsWithoutRecord()
{
    for (int position = 0; position < view_.topLevelItemCount();) {
        if (recordOf(view_.topLevelItem(position)).isEmpty())
            delete view_.takeTopLevelItem(position);
        else
            ++position;
    }
}

bool RedirectList::isEmpty() const
{
    return view_.topLevelItemCount() == 0;
}

QStringList RedirectList::selectedRecord() const
{
    const QList<QTreeWidgetItem*> selected = view_.selectedItems();
    if (selected.isEmpty())
        throw RuntimeError(ErrorCode::ObjectNotSet);
    return splitFields(recordOf(selected.first()), recordSeparator);
}

std::int16_t RedirectList::selectedConnectorId() const
{
    return deviceIdFromText(field(selectedRecord(), 0));
}

std::int16_t RedirectList::selectedClientId() const
{
    return deviceIdFromText(field(selectedRecord(), 2));
}

int RedirectList::rowCount() const
{
    return view_.topLevelItemCount();
}

// A complete record has four parts; a connector's alone ends with the separator
// (three parts, the last empty); a client's alone, left by a connector that went,
// has two.
std::int16_t RedirectList::connectorIdAt(int row) const
{
    const QTreeWidgetItem* item = view_.topLevelItem(row);
    if (!item)
        return -1;
    const QStringList parts = splitFields(recordOf(item), recordSeparator);
    return parts.size() >= 3 ? idOrNone(parts[0]) : -1;
}

std::int16_t RedirectList::clientIdAt(int row) const
{
    const QTreeWidgetItem* item = view_.topLevelItem(row);
    if (!item)
        return -1;
    const QStringList parts = splitFields(recordOf(item), recordSeparator);
    if (parts.size() == 2)
        return idOrNone(parts[0]);
    return parts.size() >= 4 ? idOrNone(parts[2]) : -1;
}

void RedirectList::setStatusText(int row, const QString& text)
{
    QTreeWidgetItem* item = view_.topLevelItem(row);
    if (item && item->text(ColStatus) != text)
        item->setText(ColStatus, text);
}

void RedirectList::setToolTipText(int row, const QString& text)
{
    QTreeWidgetItem* item = view_.topLevelItem(row);
    if (!item || item->toolTip(ColComPort) == text)
        return;
    for (int column = ColComPort; column <= ColStatus; ++column)
        item->setToolTip(column, text);
}

QTreeWidgetItem* RedirectList::rowOf(const QString& comPortName) const
{
    for (int i = 0; i < view_.topLevelItemCount(); ++i)
        if (view_.topLevelItem(i)->text(ColComPort) == comPortName)
            return view_.topLevelItem(i);
    return nullptr;
}

QTreeWidgetItem* RedirectList::rowAt(QPoint point) const
{
    return isEmpty() ? nullptr : view_.itemAt(point);
}

void RedirectList::select(QTreeWidgetItem* row)
{
    view_.clearSelection();
    view_.setCurrentItem(row);
    row->setSelected(true);
}
