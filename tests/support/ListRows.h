// The rows of the main window's list of redirects as the tests read and pick them:
// their texts, the selection, the header, and the devices behind a row in their
// one-line form.
#pragma once

#include "devices/RedirectListModel.h"
#include "redirect/InitStrings.h"

#include <QHeaderView>
#include <QItemSelectionModel>
#include <QPersistentModelIndex>
#include <QTreeView>

namespace listRows {

inline const RedirectListModel& model(const QTreeView* view)
{
    return *static_cast<const RedirectListModel*>(view->model());
}

inline int rowCount(const QTreeView* view) { return view->model()->rowCount(); }
inline int columnCount(const QTreeView* view) { return view->model()->columnCount(); }

inline QString rowText(const QTreeView* view, int row, int column)
{
    return view->model()->index(row, column).data().toString();
}

inline QString headerText(const QTreeView* view, int column)
{
    return view->model()->headerData(column, Qt::Horizontal).toString();
}

inline Qt::Alignment headerAlignment(const QTreeView* view, int column)
{
    return view->model()->headerData(column, Qt::Horizontal, Qt::TextAlignmentRole).value<Qt::Alignment>();
}

// Adds the row to the selection, as a click with the control key would.
inline void selectRow(QTreeView* view, int row)
{
    view->selectionModel()->select(view->model()->index(row, 0),
                                   QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

inline bool isRowSelected(const QTreeView* view, int row)
{
    return view->selectionModel()->isSelected(view->model()->index(row, 0));
}

// A handle that follows its row while rows come and go around it, and is lost with it.
inline QPersistentModelIndex rowHandle(const QTreeView* view, int row)
{
    return QPersistentModelIndex(view->model()->index(row, 0));
}

inline QRect rowRect(const QTreeView* view, int row)
{
    return view->visualRect(view->model()->index(row, 0)).united(
        view->visualRect(view->model()->index(row, view->model()->columnCount() - 1)));
}

// The devices behind a row: connector id, Connector string, client id, TcpClient
// string, joined by the character with code 8 (a row without its client ends in
// the separator, one without its Connector starts with the client's id).
inline QString recordText(const QTreeView* view, int row)
{
    const RedirectRow& r = model(view).row(row);
    QString record;
    if (r.connector)
        record += QString::number(r.connector->id) + redirect::recordSeparator + r.connector->init +
                  redirect::recordSeparator;
    if (r.client)
        record += QString::number(r.client->id) + redirect::recordSeparator + r.client->init;
    return record;
}

}  // namespace listRows
