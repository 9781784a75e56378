// The list of redirects, rebuilt from the library's devices. Rows are updated in
// place, so a row that survives keeps its position, selection and texts.
#include "app/windows/frmMain.h"

#include "app/NumericText.h"
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
    explicit RowIndex(QTreeWidget* list)
        : list_(list)
    {
        // From the bottom up, so that of rows with equal texts the top one wins.
        for (int i = list->topLevelItemCount() - 1; i >= 0; --i)
            rows_[list->topLevelItem(i)->text(frmMain::ColComPort)] = list->topLevelItem(i);
    }

    QTreeWidgetItem* find(const QString& text) const { return rows_.value(text, nullptr); }

    QTreeWidgetItem* findOrAdd(const QString& text)
    {
        if (QTreeWidgetItem* row = find(text))
            return row;
        auto* row = new QTreeWidgetItem(list_, QStringList{text});
        rows_.insert(text, row);
        return row;
    }

private:
    QTreeWidget* list_;
    QHash<QString, QTreeWidgetItem*> rows_;
};

void setRecord(QTreeWidgetItem* row, const QString& record)
{
    row->setData(frmMain::ColComPort, Qt::UserRole, record);
}

QString statusText(std::int32_t ready, std::int32_t ok)
{
    if (ok == 1)
        return QStringLiteral("OK");
    if (ready == 1)
        return QStringLiteral("Ready");
    return QStringLiteral("Emulation is OFF");
}

}  // namespace

void frmMain::ScanAvailPairs()
{
    Trap trap(QStringLiteral("ScanAvailPairs"));
    std::int16_t count = 0;

    trap(10, [&] { platform_.cursor->setBusy(); });
    trap(20, [&] {
        for (int i = 0; i < lstPairs->topLevelItemCount(); ++i)
            setRecord(lstPairs->topLevelItem(i), QString());
    });
    trap(30, [&] { count = toInt16(static_cast<double>(vsp_getDevicesCount())); });
    RowIndex rows(lstPairs);
    for (std::int16_t index = 0; index < count; ++index) {
        // A failing step skips the rest of this device; the other devices still count.
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
                setRecord(row, deviceRecordOf(row) + QString::number(id) + recordSeparator + init);
                row->setText(ColSettings, settings);
                row->setText(ColHost, host);
                row->setText(ColHostPort, hostPort);
                row->setText(ColStatus, status);
            });
        }
    }
    trap(90, [&] {
        for (int position = 0; position < lstPairs->topLevelItemCount();) {
            if (deviceRecordOf(lstPairs->topLevelItem(position)).isEmpty())
                delete lstPairs->takeTopLevelItem(position);
            else
                ++position;
        }
    });
    trap(100, [&] {
        if (lstPairs->topLevelItemCount() == 0)
            ChangeEmuStatus(false);
    });
    trap(110, [&] { platform_.cursor->restore(); });
}
