// Creating a redirect from the editor's fields, or updating one: its two devices
// are destroyed and created again from the edited fields.
#include "app/windows/frmMain.h"

#include "app/Trap.h"
#include "deviceapi/modVSP_APIs.h"
#include "redirect/InitStrings.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeWidget>

using namespace modVSP_APIs;
using namespace redirect;

void frmMain::cmdNewRedirect_Click(std::int16_t index)
{
    if (m_PreparingEditor)
        return;
    Trap trap(QStringLiteral("cmdNewRedirect_Click"));
    if (index == 1) {
        trap(10, [&] { fraNewRedirect->hide(); });
        trap(20, [&] { ScanAvailPairs(); });
        return;
    }
    if (index != 0)
        return;

    if (lblDevices->text() != newRedirectPair) {
        // Update: the old pair goes first, TcpClient before Connector, then the
        // pair is created again from the edited fields.
        QStringList ids;
        trap(30, [&] { ids = splitFields(lblDevices->text(), QLatin1Char(';')); });
        trap(40, [&] { vsp_destroyDevice(deviceIdFromText(field(ids, 1))); });
        trap(50, [&] { vsp_destroyDevice(deviceIdFromText(field(ids, 0))); });
        trap(60, [&] { lblDevices->setText(newRedirectPair); });
        m_UpdateInProgress = true;
        trap(70, [&] { cmdNewRedirect_Click(0); });
        m_UpdateInProgress = false;
        return;
    }

    bool unique = true;
    trap(80, [&] { unique = isUnique(cmbComPort->currentText(), txtHostAddress->text(), txtHostPort->text()); });
    if (!unique)
        return;
    const bool updating = m_UpdateInProgress;
    std::int32_t connector = -1;
    trap(90, [&] {
        connector = vsp_createDevice(QString::fromLatin1(connectorType),
                                     buildConnectorInit(comPortNumber(cmbComPort->currentText())));
    });
    if (connector == -1) {
        trap(100, [&] { showMessage(QStringLiteral("Error: can not create virtual com port")); });
        if (updating)
            trap(110, [&] { restoreOldPair(); });
        return;
    }
    std::int32_t client = -1;
    trap(120, [&] {
        client = vsp_createDevice(
            QString::fromLatin1(tcpClientType),
            buildTcpClientInit(txtHostAddress->text(), txtHostPort->text(), comPortNumber(cmbComPort->currentText()),
                               cmbBaud->currentText(), static_cast<std::int16_t>(cmbDTRRTS->currentIndex()),
                               cmbBits->currentText(), cmbStopBits->currentText(),
                               static_cast<std::int16_t>(cmbParity->currentIndex()), txtRIT->text()));
    });
    if (client == -1) {
        trap(130, [&] { showMessage(QStringLiteral("Error: can not create TCP redirector")); });
        if (updating) {
            trap(140, [&] { vsp_destroyDevice(connector); });  // the half of the new pair that was made
            trap(150, [&] { restoreOldPair(); });
        }
        return;
    }
    trap(160, [&] { m_ConfigChanged = true; });
    trap(170, [&] { UpdateTitle(); });
    trap(180, [&] {
        if (!emulation_.isRunning())
            ChangeEmuStatus(true);
    });
    trap(190, [&] { cmdNewRedirect_Click(1); });
}

bool frmMain::restoreOldPair()
{
    // An update the library refused: the redirect comes back as it was before, and
    // the editor stays in update mode with the user's values, pointing at it.
    const QStringList fields = splitFields(m_EditedCombinedText, QLatin1Char(';'));
    if (fields.size() < 3)
        return false;
    const QString connectorInit = fields.mid(0, 2).join(QLatin1Char(';'));
    const QString clientInit = fields.mid(2).join(QLatin1Char(';'));
    const std::int32_t connector = vsp_createDevice(QString::fromLatin1(connectorType), connectorInit);
    const std::int32_t client = vsp_createDevice(QString::fromLatin1(tcpClientType), clientInit);
    ScanAvailPairs();
    if (connector == -1 || client == -1)
        return false;
    lblDevices->setText(buildDevicePair(QString::number(connector), QString::number(client)));
    return true;
}

bool frmMain::isUnique(const QString& comPort, const QString& /*hostAddress*/, const QString& /*hostPort*/)
{
    Trap trap(QStringLiteral("isUnique"));
    bool unique = true;
    if (cmdNewRedirect[0]->text() == QLatin1String("Update"))
        return unique;
    trap(10, [&] {
        for (int i = 0; i < lstPairs->topLevelItemCount(); ++i) {
            QTreeWidgetItem* row = lstPairs->topLevelItem(i);
            if (row->text(ColComPort) != comPort)
                continue;
            unique = false;
            const msgbox::Answer answer = platform_.messages->show(
                {comPort + QStringLiteral(" is in use by another redirection.  Would you like to update existing one instead?"),
                 msgbox::Buttons::YesNo, msgbox::Icon::Question, QString::fromLatin1(msgbox::defaultCaption),
                 msgbox::Answer::Yes});
            if (answer == msgbox::Answer::Yes) {
                lstPairs->clearSelection();
                lstPairs->setCurrentItem(row);
                row->setSelected(true);
                mnuProperties_Click();
            }
            return;
        }
    });
    return unique;
}
