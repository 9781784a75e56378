// The redirect editor: opened over the list with the COM ports that are free, and
// filled with defaults for a new redirect or from an existing one.
#include "app/windows/frmMain.h"

#include "app/NumericText.h"
#include "app/Trap.h"
#include "redirect/ComboText.h"
#include "redirect/InitStrings.h"
#include "redirect/NumberText.h"

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <exception>

using namespace redirect;

namespace {
const QString createCaption = QStringLiteral("Create COM <-> TCP redirect");
const QString updateCaption = QStringLiteral("Update existing COM <-> TCP redirect");

// Puts "COM<n>" into the box at its place in port order, unless it is there.
void offerPort(QComboBox* box, const QString& name)
{
    if (box->findText(name) >= 0)
        return;
    const int number = name.mid(3).toInt();
    int at = 0;
    while (at < box->count() && box->itemText(at).mid(3).toInt() < number)
        ++at;
    box->insertItem(at, name);
}
}  // namespace

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
    for (QPushButton* button : cmdNewRedirect)
        button->setEnabled(enabled);
    m_PreparingEditor = !enabled;
}

void frmMain::loadPairPropertiesFrame()
{
    Trap trap(QStringLiteral("loadPairPropertiesFrame"));
    const bool nested = m_PreparingEditor;
    if (!nested)
        setCommandsEnabled(false);
    trap(10, [&] { platform_.cursor->setBusy(); });
    trap(20, [&] {
        fraNewRedirect->move(fraMain->pos());
        fraNewRedirect->show();
        fraNewRedirect->raise();
    });
    trap(30, [&] {
        cmbComPort->clear();
        cmbComPort->setStyleSheet(QStringLiteral("QComboBox { background-color: rgb(255, 0, 0); }"));
        cmbComPort->setEnabled(false);
    });
    trap(40, [&] {
        for (int n = 1; n <= 255; ++n)
            if (!probePortOpens(static_cast<std::uint8_t>(n), PortScanner))
                cmbComPort->addItem(comPortName(QString::number(n)));
    });
    trap(50, [&] {
        cmbComPort->setStyleSheet(QString());
        // Clearing a style sheet leaves the application's font set on the box; it
        // takes the window's again.
        cmbComPort->setFont(QFont());
        cmbComPort->setEnabled(true);
    });
    trap(60, [&] {
        if (cmbComPort->count() > 0)
            cmbComPort->setCurrentIndex(0);
    });
    trap(70, [&] { platform_.cursor->restore(); });
    if (!nested)
        setCommandsEnabled(true);
}

void frmMain::showPairProperties(const QString& devicePair, const QString& combinedText)
{
    Trap trap(QStringLiteral("showPairProperties"));
    if (combinedText.isEmpty()) {
        trap(10, [&] {
            if (cmbComPort->count() > 0)
                cmbComPort->setCurrentIndex(0);
        });
        trap(20, [&] { selectText(cmbBaud, QStringLiteral("19200")); });
        trap(30, [&] { selectText(cmbDTRRTS, QStringLiteral("no")); });
        trap(40, [&] { selectText(cmbParity, QStringLiteral("no")); });
        trap(50, [&] { selectText(cmbBits, QStringLiteral("8")); });
        trap(60, [&] { selectText(cmbStopBits, QStringLiteral("1")); });
        trap(70, [&] { txtRIT->setText(QStringLiteral("0")); });
        trap(80, [&] { lblDevices->setText(newRedirectPair); });
        trap(90, [&] { cmdNewRedirect[0]->setText(QStringLiteral("Create")); });
        trap(100, [&] { fraNewRedirect->setTitle(createCaption); });
        m_EditedCombinedText.clear();
        return;
    }
    QStringList fields;
    QStringList serial;
    trap(110, [&] { fields = splitFields(combinedText, QLatin1Char(';')); });
    trap(120, [&] {
        // The redirect's own port, so that "Update" keeps it there unless changed.
        const QString own = comPortName(field(fields, 0));
        offerPort(cmbComPort, own);
        selectText(cmbComPort, own);
    });
    trap(130, [&] { txtHostAddress->setText(field(fields, 2)); });
    trap(140, [&] { txtHostPort->setText(field(fields, 3)); });
    trap(150, [&] { serial = splitFields(field(fields, 5), QLatin1Char(',')); });
    trap(160, [&] { selectText(cmbBaud, field(serial, 0)); });
    trap(170, [&] { selectIndex(cmbDTRRTS, toInt16(numericValue(field(serial, 1)))); });
    trap(180, [&] { selectIndex(cmbParity, toInt16(numericValue(field(serial, 4)))); });
    trap(190, [&] { selectText(cmbBits, field(serial, 2)); });
    trap(200, [&] { selectText(cmbStopBits, field(serial, 3)); });
    trap(210, [&] { txtRIT->setText(field(serial, 5)); });
    trap(220, [&] { lblDevices->setText(devicePair); });
    trap(230, [&] { cmdNewRedirect[0]->setText(QStringLiteral("Update")); });
    trap(240, [&] { fraNewRedirect->setTitle(updateCaption); });
    m_EditedCombinedText = combinedText;
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
    validateNumber(txtHostPort);
}

void frmMain::txtRIT_Validate(bool& /*cancel*/)
{
    validateNumber(txtRIT);
}
