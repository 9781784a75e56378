#include "devices/RedirectList.h"

#include "app/NumericText.h"
#include "app/RuntimeError.h"
#include "deviceapi/modVSP_APIs.h"
#include "redirect/InitStrings.h"

#include <QHash>
#include <QItemSelectionModel>
#include <QTreeView>

using namespace modVSP_APIs;
using namespace redirect;

namespace {

// Finds a row by its whole text: the first such row from the top. An index instead
// of a search of the list keeps a scan of many redirects instant.
class RowIndex {
public:
    explicit RowIndex(RedirectListModel& model)
        : model_(model)
    {
        // From the bottom up, so that of rows with equal texts the top one wins.
        for (int i = model.rowCount() - 1; i >= 0; --i)
            rows_[model.row(i).texts[RedirectRow::ColComPort]] = i;
    }

    std::optional<int> find(const QString& text) const
    {
        const auto it = rows_.constFind(text);
        return it == rows_.cend() ? std::nullopt : std::optional<int>(*it);
    }

    int findOrAdd(const QString& text)
    {
        if (const auto row = find(text))
            return *row;
        const int row = model_.append(text);
        rows_.insert(text, row);
        return row;
    }

private:
    RedirectListModel& model_;
    QHash<QString, int> rows_;
};

std::int16_t commandId(const ListedDevice& device)
{
    return deviceIdForCommand(device.id);
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

RedirectList::RedirectList(QTreeView& view)
    : view_(view)
    , model_(new RedirectListModel(&view))
{
    view.setModel(model_);
}

void RedirectList::forgetRecords()
{
    for (int i = 0; i < model_->rowCount(); ++i)
        model_->setDevices(i, std::nullopt, std::nullopt);
}

void RedirectList::readDevices(const StepSink<ScanStep>& failed)
{
    const Steps<ScanStep> step(failed);
    std::int16_t count = 0;
    step(ScanStep::Count, [&] { count = toInt16(static_cast<double>(vsp_getDevicesCount())); });
    RowIndex rows(*model_);
    for (std::int16_t index = 0; index < count; ++index) {
        QString type;
        QString init;
        std::int32_t id = -1;
        std::int32_t ready = 0;
        std::int32_t ok = 0;
        std::int16_t found = 0;
        QStringList fields;
        const bool read =
            step(ScanStep::DeviceId, [&] { id = vsp_getDeviceIdByIdx(index); }) &&
            step(ScanStep::DeviceInfo, [&] { found = vsp_getDeviceInfoEx(id, type, init, ready, ok); }) && found != 0 &&
            step(ScanStep::DeviceTexts, [&] {
                type = cleanOutBuffer(type);
                init = cleanOutBuffer(init);
                fields = splitFields(init, QLatin1Char(';'));
            });
        if (!read)
            continue;
        if (type == QLatin1String(connectorType)) {
            step(ScanStep::ClaimByConnector, [&] {
                const int row = rows.findOrAdd(comPortName(field(fields, 0)));
                // The Connector resets its row: whatever claimed it before is forgotten.
                model_->setDevices(row, ListedDevice{id, init}, std::nullopt);
                model_->setText(row, RedirectRow::ColSettings, QString());
                model_->setText(row, RedirectRow::ColHost, QString());
                model_->setText(row, RedirectRow::ColHostPort, QString());
                model_->setText(row, RedirectRow::ColStatus, QStringLiteral("Initializing"));
            });
        } else if (type == QLatin1String(tcpClientType)) {
            step(ScanStep::ClaimByClient, [&] {
                const std::optional<int> row = rows.find(comPortName(field(fields, 2)));
                const QString status = statusText(ready, ok);
                if (!row)
                    return;
                const QString settings = field(fields, 3);
                const QString host = field(fields, 0);
                const QString hostPort = field(fields, 1);
                // The first client of a row is its client; a later one of the same COM
                // number only shows its texts.
                const RedirectRow& claimed = model_->row(*row);
                if (!claimed.client)
                    model_->setDevices(*row, claimed.connector, ListedDevice{id, init});
                model_->setText(*row, RedirectRow::ColSettings, settings);
                model_->setText(*row, RedirectRow::ColHost, host);
                model_->setText(*row, RedirectRow::ColHostPort, hostPort);
                model_->setText(*row, RedirectRow::ColStatus, status);
            });
        }
    }
}

void RedirectList::dropRowsWithoutRecord()
{
    for (int position = 0; position < model_->rowCount();) {
        if (!model_->row(position).isClaimed())
            model_->remove(position);
        else
            ++position;
    }
}

bool RedirectList::isEmpty() const
{
    return model_->rowCount() == 0;
}

int RedirectList::rowCount() const
{
    return model_->rowCount();
}

const RedirectRow& RedirectList::at(int row) const
{
    if (row < 0 || row >= model_->rowCount())
        throw RuntimeError(ErrorCode::SubscriptOutOfRange);
    return model_->row(row);
}

std::int16_t RedirectList::connectorIdAt(int row) const
{
    const RedirectRow& r = at(row);
    if (r.connector)
        return commandId(*r.connector);
    if (r.client)
        return commandId(*r.client);
    throw RuntimeError(ErrorCode::TypeMismatch);  // no id at all is no number
}

std::int16_t RedirectList::clientIdAt(int row) const
{
    const RedirectRow& r = at(row);
    if (!r.connector)
        throw RuntimeError(ErrorCode::SubscriptOutOfRange);
    if (!r.client)
        throw RuntimeError(ErrorCode::TypeMismatch);  // the Connector left its client's id empty
    return commandId(*r.client);
}

std::pair<ListedDevice, ListedDevice> RedirectList::devicesAt(int row) const
{
    const RedirectRow& r = at(row);
    if (!r.connector || !r.client)
        throw RuntimeError(ErrorCode::SubscriptOutOfRange);
    return {*r.connector, *r.client};
}

namespace {
// A device's id for a reader that must not fail: -1 without the device or beyond
// the commands' 16 bits.
std::int16_t idOrNone(const std::optional<ListedDevice>& device)
{
    if (!device)
        return -1;
    try {
        return commandId(*device);
    } catch (const RuntimeError&) {
        return -1;
    }
}
}  // namespace

std::int16_t RedirectList::connectorIdOrNone(int row) const
{
    return row >= 0 && row < model_->rowCount() ? idOrNone(model_->row(row).connector) : -1;
}

std::int16_t RedirectList::clientIdOrNone(int row) const
{
    return row >= 0 && row < model_->rowCount() ? idOrNone(model_->row(row).client) : -1;
}

std::optional<int> RedirectList::redirectComNumber(int row) const
{
    if (row < 0 || row >= model_->rowCount())
        return std::nullopt;
    const RedirectRow& r = model_->row(row);
    if (!r.connector || !r.client)
        return std::nullopt;
    return redirectFromConnectorInit(r.connector->init).comNumber.value;
}

void RedirectList::setStatusText(int row, const QString& text)
{
    at(row);
    model_->setText(row, RedirectRow::ColStatus, text);
}

void RedirectList::setToolTipText(int row, const QString& text)
{
    at(row);
    model_->setToolTip(row, text);
}

int RedirectList::selectedRow() const
{
    const QModelIndexList selected = view_.selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        throw RuntimeError(ErrorCode::ObjectNotSet);
    return selected.first().row();
}

std::optional<int> RedirectList::rowOf(const QString& comPortName) const
{
    for (int i = 0; i < model_->rowCount(); ++i)
        if (model_->row(i).texts[RedirectRow::ColComPort] == comPortName)
            return i;
    return std::nullopt;
}

std::optional<int> RedirectList::rowAt(QPoint point) const
{
    if (isEmpty())
        return std::nullopt;
    const QModelIndex index = view_.indexAt(point);
    return index.isValid() ? std::optional<int>(index.row()) : std::nullopt;
}

void RedirectList::select(int row)
{
    const QModelIndex index = model_->index(row, 0);
    view_.clearSelection();
    view_.setCurrentIndex(index);
    view_.selectionModel()->select(index, QItemSelectionModel::Select | QItemSelectionModel::Rows);
}
