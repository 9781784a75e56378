#include "devices/RedirectListModel.h"

namespace {

const char* const captions[RedirectRow::ColumnCount] = {"COM Port", "COM Port Settings", "Host Address", "Host Port",
                                                          "Status"};

}  // namespace

int RedirectListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int RedirectListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : RedirectRow::ColumnCount;
}

QVariant RedirectListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rows_.size() || index.column() >= RedirectRow::ColumnCount)
        return {};
    const RedirectRow& r = rows_[index.row()];
    switch (role) {
    case Qt::DisplayRole:
        return r.texts[index.column()];
    case Qt::ToolTipRole:
        return r.toolTip.isEmpty() ? QVariant() : QVariant(r.toolTip);
    default:
        return {};
    }
}

QVariant RedirectListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= RedirectRow::ColumnCount)
        return {};
    if (role == Qt::DisplayRole)
        return QString::fromLatin1(captions[section]);
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::Alignment(Qt::AlignLeft | Qt::AlignVCenter));
    return {};
}

int RedirectListModel::append(const QString& comPortName)
{
    const int position = static_cast<int>(rows_.size());
    beginInsertRows({}, position, position);
    RedirectRow r;
    r.texts[RedirectRow::ColComPort] = comPortName;
    rows_.append(std::move(r));
    endInsertRows();
    return position;
}

void RedirectListModel::remove(int position)
{
    beginRemoveRows({}, position, position);
    rows_.removeAt(position);
    endRemoveRows();
}

void RedirectListModel::setText(int position, RedirectRow::Column column, const QString& text)
{
    QString& cell = rows_[position].texts[column];
    if (cell == text)
        return;
    cell = text;
    const QModelIndex changed = index(position, column);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void RedirectListModel::setToolTip(int position, const QString& text)
{
    RedirectRow& r = rows_[position];
    if (r.toolTip == text)
        return;
    r.toolTip = text;
    emit dataChanged(index(position, 0), index(position, RedirectRow::ColumnCount - 1), {Qt::ToolTipRole});
}

void RedirectListModel::setDevices(int position, std::optional<ListedDevice> connector,
                                   std::optional<ListedDevice> client)
{
    rows_[position].connector = std::move(connector);
    rows_[position].client = std::move(client);
}
