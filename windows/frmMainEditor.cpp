// The redirect editor as the main window commands it: opened over the list with the
// COM ports that are free, filled with defaults or from a listed redirect, and
// creating a redirect from its fields or updating one (its two devices destroyed
// and created again from the edited fields).
#include "windows/frmMain.h"

#include "app/NumericText.h"
#include "app/Trap.h"
#include "devices/DeviceCommands.h"
#include "redirect/InitStrings.h"
#include "redirect/NumberText.h"
#include "redirect/RedirectEditor.h"
#include "windows/LogSteps.h"

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <exception>

using namespace redirect;

void frmMain::setCommandsEnabled(bool enabled)
{
    QList<QAction*> commands = mnuDevices->actions();
    if (!enabled) {
        m_CommandStates.clear();
        for (QAction* a : commands)
            m_CommandStates << a->isEnabled();
    }
    for (qsizetype i = 0; i < commands.size(); ++i)
        commands[i]->setEnabled(enabled ? m_CommandStates.value(i, true) : false);
    mnuFile->menuAction()->setEnabled(enabled);
    mnuEmuOpt->menuAction()->setEnabled(enabled);
    for (QMenu* menu : {mnuFile, mnuEmuOpt})
        for (QAction* a : menu->actions())
            a->setEnabled(enabled);
    for (QPushButton* button : editor_->cmdNewRedirect)
        button->setEnabled(enabled);
    m_PreparingEditor = !enabled;
    if (enabled && m_PendingStart)
        resumeStartRequest();
}

void frmMain::loadPairPropertiesFrame()
{
    Trap trap(QStringLiteral("loadPairPropertiesFrame"));
    const bool nested = m_PreparingEditor;
    if (!nested)
        setCommandsEnabled(false);
    trap(10, [&] { platform_.cursor->setBusy(); });
    trap(20, [&] {
        editor_->move(fraMain->pos());
        editor_->show();
        editor_->raise();
        // The list frame lies under the editor: hidden, none of its widgets can take
        // the focus or the keys while the editor covers them.
        fraMain->hide();
    });
    trap(30, [&] { editor_->startPortScan(); });
    trap(40, [&] { editor_->offerFreePorts(PortScanner); });
    trap(50, [&] { editor_->endPortScan(); });
    trap(60, [&] { editor_->selectFirstPort(); });
    trap(65, [&] { editor_->cmbComPort->setFocus(Qt::OtherFocusReason); });  // the keyboard starts on the first field
    trap(70, [&] { platform_.cursor->restore(); });
    if (!nested)
        setCommandsEnabled(true);
}

void frmMain::showPairProperties(const QString& devicePair, const QString& combinedText)
{
    showRedirectInEditor(combinedText, [&] {
        return UpdatingRedirect{devicePairFromText(devicePair), deviceStringsOf(combinedText)};
    });
}

void frmMain::showRedirectInEditor(const QString& combinedText, const std::function<UpdatingRedirect()>& update)
{
    Trap trap(QStringLiteral("showPairProperties"));
    if (combinedText.isEmpty()) {
        editor_->showDefaults(logSteps<EditorStep>());
        trap(80, [&] { editor_->setMode(CreatingRedirect{}); });
        return;
    }
    Redirect redirect;
    trap(110, [&] { redirect = redirectFromCombinedText(combinedText); });
    editor_->showRedirect(redirect, logSteps<EditorStep>());
    trap(220, [&] { editor_->setMode(update()); });
}

void frmMain::mnuCreate_Click()
{
    Trap trap(QStringLiteral("mnuCreate_Click"));
    trap(10, [&] { loadPairPropertiesFrame(); });
    trap(20, [&] { showPairProperties(QString(), QString()); });
}

void frmMain::validateNumber(QLineEdit* box)
{
    // A value no number can hold ("1e999", "1e999x") leaves "0"; its failure still
    // goes on to the handler's boundary, which logs it.
    const QString typed = box->text();
    double value = 0;
    std::exception_ptr failure;
    try {
        value = numericValue(typed);
    } catch (...) {
        failure = std::current_exception();
    }
    if (!failure && isNumberText(typed))
        return;
    box->setText(numericText(value));
    platform_.messages->show({QStringLiteral("Only number are allowed."), msgbox::Buttons::Ok, msgbox::Icon::None});
    if (failure)
        std::rethrow_exception(failure);
}

void frmMain::txtHostPort_Validate(bool& /*cancel: never set, the focus always moves on*/)
{
    validateNumber(editor_->txtHostPort);
}

void frmMain::txtRIT_Validate(bool& /*cancel*/)
{
    validateNumber(editor_->txtRIT);
}

void frmMain::cmdNewRedirect_Click(std::int16_t index)
{
    if (m_PreparingEditor)
        return;
    if (index == 1) {
        closeEditor();
        return;
    }
    if (index != 0)
        return;
    const auto* update = std::get_if<UpdatingRedirect>(&editor_->mode());
    if (!update || !update->replaces) {
        createRedirect(false);
        return;
    }
    // Update: the old pair goes first, TcpClient before Connector, then the pair is
    // created again from the edited fields.
    Trap trap(QStringLiteral("cmdNewRedirect_Click"));
    const DevicePair replaced = *update->replaces;
    const std::optional<DeviceStrings> original = update->original;
    trap(40, [&] { deviceCommands::destroy(deviceIdForCommand(replaced.clientId)); });
    trap(50, [&] { deviceCommands::destroy(deviceIdForCommand(replaced.connectorId)); });
    trap(60, [&] { editor_->setMode(UpdatingRedirect{std::nullopt, original}); });
    trap(70, [&] { createRedirect(true); });
}

void frmMain::createRedirect(bool replacing)
{
    Trap trap(QStringLiteral("cmdNewRedirect_Click"));
    bool unique = true;
    trap(80, [&] {
        unique = isUnique(editor_->cmbComPort->currentText(), editor_->txtHostAddress->text(),
                          editor_->txtHostPort->text());
    });
    if (!unique)
        return;
    const Redirect redirect = editor_->redirect();
    std::int32_t connector = -1;
    trap(90, [&] { connector = deviceCommands::createConnector(redirect); });
    if (connector == -1) {
        trap(100, [&] { showMessage(QStringLiteral("Error: can not create virtual com port")); });
        if (replacing)
            trap(110, [&] { restoreOldPair(); });
        return;
    }
    std::int32_t client = -1;
    trap(120, [&] { client = deviceCommands::createClient(redirect); });
    if (client == -1) {
        trap(130, [&] { showMessage(QStringLiteral("Error: can not create TCP redirector")); });
        if (replacing) {
            trap(140, [&] { deviceCommands::destroy(connector); });  // the half of the new pair that was made
            trap(150, [&] { restoreOldPair(); });
        }
        return;
    }
    trap(160, [&] { document_.unsaved = true; });
    trap(170, [&] { UpdateTitle(); });
    trap(180, [&] {
        if (!emulation_.isRunning())
            ChangeEmuStatus(true);
    });
    trap(190, [&] { closeEditor(); });
}

void frmMain::closeEditor()
{
    Trap trap(QStringLiteral("cmdNewRedirect_Click"));
    trap(10, [&] {
        fraMain->show();  // first, so the focus leaving the editor lands in the list frame
        editor_->hide();
    });
    trap(20, [&] { ScanAvailPairs(); });
}

bool frmMain::restoreOldPair()
{
    // An update the library refused: the redirect comes back as it was before, and
    // the editor stays in update mode with the user's values, pointing at it.
    const auto* update = std::get_if<UpdatingRedirect>(&editor_->mode());
    if (!update || !update->original)
        return false;
    const DeviceStrings original = *update->original;
    const auto [connector, client] = deviceCommands::recreate(original);
    ScanAvailPairs();
    if (connector == -1 || client == -1)
        return false;
    editor_->setMode(UpdatingRedirect{DevicePair{connector, client}, original});
    return true;
}

bool frmMain::isUnique(const QString& comPort, const QString& /*hostAddress*/, const QString& /*hostPort*/)
{
    Trap trap(QStringLiteral("isUnique"));
    bool unique = true;
    if (editor_->isUpdating())
        return unique;
    trap(10, [&] {
        const std::optional<int> row = redirects_->rowOf(comPort);
        if (!row)
            return;
        unique = false;
        const msgbox::Answer answer = platform_.messages->show(
            {comPort + QStringLiteral(" is in use by another redirection.  Would you like to update existing one instead?"),
             msgbox::Buttons::YesNo, msgbox::Icon::Question, QString::fromLatin1(msgbox::defaultCaption),
             msgbox::Answer::Yes});
        if (answer == msgbox::Answer::Yes) {
            redirects_->select(*row);
            mnuProperties_Click();
        }
    });
    return unique;
}
