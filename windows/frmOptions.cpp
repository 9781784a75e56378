#include "windows/frmOptions.h"

#include "app/HandlerBoundary.h"
#include "app/InstallLayout.h"
#include "app/NumericText.h"
#include "app/Placement.h"
#include "app/ProgramFiles.h"
#include "app/RuntimeError.h"
#include "app/Settings.h"
#include "app/Trap.h"
#include "windows/frmMain.h"
#include "config/ConfigurationFiles.h"
#include "windows/LogSteps.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <cerrno>
#include <cstring>

namespace {

// A check box's stored value: 0 unticked, 1 ticked, 2 greyed; anything else is refused.
void setCheckValue(QCheckBox* box, double value)
{
    if (value == 0)
        box->setCheckState(Qt::Unchecked);
    else if (value == 1)
        box->setCheckState(Qt::Checked);
    else if (value == 2)
        box->setCheckState(Qt::PartiallyChecked);
    else
        throw RuntimeError(ErrorCode::InvalidPropertyValue);
}

QString checkValue(const QCheckBox* box)
{
    return QString::number(box->checkState() == Qt::Checked ? 1 : box->checkState() == Qt::PartiallyChecked ? 2 : 0);
}

// A start-up entry that could not be written or removed, for the log.
RuntimeError startUpEntryError(const StartUpEntryResult& result)
{
    const QString why = result.error == EINVAL ? QStringLiteral("the program's path holds a control character")
                                               : QString::fromLocal8Bit(std::strerror(result.error));
    return RuntimeError(ErrorCode::PathFileAccess, result.file + QStringLiteral(": ") + why);
}

Trap optionsTrap(const char* procedure)
{
    return Trap(QString::fromLatin1(procedure), Trap::UnitKind::Form, QStringLiteral("frmOptions"));
}

}  // namespace

frmOptions::frmOptions(Platform& platform, const QString& titleText, QWidget* parent, Autostart* autostart)
    : QDialog(parent), platform_(platform), titleText_(titleText), autostart_(autostart ? *autostart : xdgAutostart_)
{
    buildLayout();
}

QString frmOptions::programPath()
{
    return executablePath();
}

void frmOptions::buildLayout()
{
    setWindowTitle(QStringLiteral("Options"));
    setWindowFlags(Qt::Dialog | Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    QFont font(QStringLiteral("DejaVu Sans Condensed"));
    font.setPixelSize(11);
    setFont(font);
    setFixedSize(312, 243);

    fraOptions = place(new QGroupBox(QStringLiteral("Main Options"), this), "fraOptions", 8, 8, 297, 81);
    chkWindowsStart = place(new QCheckBox(QStringLiteral("Start with Windows"), fraOptions), "chkWindowsStart", 12, 20, 157, 13);
    chkLoadInSysTray =
        place(new QCheckBox(QStringLiteral("Hide in system tray when loaded"), fraOptions), "chkLoadInSysTray", 12, 36, 201, 13);
    chkWarnInSysTray = place(new QCheckBox(QStringLiteral("Show system tray notification messages"), fraOptions),
                             "chkWarnInSysTray", 12, 52, 249, 13);
    fraLastScript = place(new QGroupBox(QStringLiteral("Auto-Load Options"), this), "fraLastScript", 8, 96, 297, 109);
    XPHolder = place(new QWidget(fraLastScript), "XPHolder", 12, 20, 277, 85);
    const char* captions[] = {"Do not auto-load a script file", "Auto-load last script file", "Auto-load following script file:"};
    auto* group = new QButtonGroup(this);
    for (int i = 0; i < 3; ++i) {
        optScriptOpt[i] = place(new QRadioButton(QString::fromLatin1(captions[i]), XPHolder),
                                QStringLiteral("optScriptOpt(%1)").arg(i).toLatin1().constData(), 0, 20 * i, 201, 13);
        group->addButton(optScriptOpt[i], i);
        connect(optScriptOpt[i], &QRadioButton::clicked, this,
                handler(optionsTrap("optScriptOpt_Click"), [this, i] { optScriptOpt_Click(i); }));
    }
    optScriptOpt[0]->setChecked(true);
    txtConstScript = place(new QLineEdit(XPHolder), "txtConstScript", 16, 60, 221, 19);
    txtConstScript->setEnabled(false);
    cmdBrowse = place(new QPushButton(QStringLiteral("..."), XPHolder), "cmdBrowse", 244, 60, 33, 21);
    cmdBrowse->setToolTip(QStringLiteral("Browse for script file."));
    cmdBrowse->setEnabled(false);
    cmdClose = place(new QPushButton(QStringLiteral("Close"), this), "cmdClose", 236, 212, 69, 25);
    connect(cmdBrowse, &QPushButton::clicked, this, handler(this, optionsTrap("cmdBrowse_Click"), &frmOptions::cmdBrowse_Click));
    connect(cmdClose, &QPushButton::clicked, this, handler(this, optionsTrap("cmdClose_Click"), &frmOptions::cmdClose_Click));

    QWidget* order[] = {optScriptOpt[0], optScriptOpt[1], optScriptOpt[2], txtConstScript, cmdBrowse,
                        chkWindowsStart,  cmdClose,        chkLoadInSysTray, chkWarnInSysTray};
    for (std::size_t i = 0; i + 1 < std::size(order); ++i)
        setTabOrder(order[i], order[i + 1]);
    order[0]->setFocus();  // the dialog opens on the first control of that order
}

void frmOptions::Form_Load()
{
    Trap trap = optionsTrap("Form_Load");
    ProgramState& state = *platform_.state;
    trap(10, [&] {
        chkWindowsStart->setToolTip(QStringLiteral("Tick here to have ") + titleText_ + QStringLiteral(" load with Windows."));
        chkLoadInSysTray->setToolTip(QStringLiteral("Tick here to hide ") + titleText_ +
                                     QStringLiteral(" and display its icon in system tray (bottom-right hand corner, next to the clock"));
        chkWarnInSysTray->setToolTip(QStringLiteral("Tick here to display notification message about system tray presence"));
    });
    trap(20, [&] { chkWindowsStart->setChecked(autostart_.isOn()); });
    trap(30, [&] { setCheckValue(chkLoadInSysTray, ReadSettingNumber(state, settingsKey::LoadInSysTray)); });
    trap(40, [&] { setCheckValue(chkWarnInSysTray, ReadSettingNumber(state, settingsKey::WarnInSysTray)); });
    trap(50, [&] { state.scriptLoadOpt = toByte(ReadSettingNumber(state, settingsKey::ScriptLoadOPT)); });
    trap(60, [&] {
        const QString fixed = ReadSetting(state, settingsKey::ScriptLoadCONSTFILE);
        txtConstScript->setText(fixed.isEmpty() ? programFilesDir() + QStringLiteral("/Untitled.qlc") : fixed);
    });
    trap(70, [&] {
        if (state.scriptLoadOpt >= optScriptOpt.size())
            throw RuntimeError(ErrorCode::SubscriptOutOfRange);
        optScriptOpt[state.scriptLoadOpt]->setChecked(true);
        optScriptOpt_Click(state.scriptLoadOpt);
    });
}

void frmOptions::optScriptOpt_Click(int index)
{
    platform_.state->scriptLoadOpt = static_cast<std::uint8_t>(index);
    txtConstScript->setEnabled(index == 2);
    cmdBrowse->setEnabled(index == 2);
}

void frmOptions::cmdBrowse_Click()
{
    Trap trap = optionsTrap("cmdBrowse_Click");
    QString initialDir;
    QString fileName;
    trap(10, [&] { initialDir = dialogFolderFor(txtConstScript->text()); });
    trap(20, [&] { fileName = chooseConfigurationToLoad(*platform_.dialogs, initialDir, logSteps<DialogStep>()); });
    trap(30, [&] {
        if (!fileName.isEmpty() && FileExists(fileName))
            txtConstScript->setText(fileName);
    });
}

void frmOptions::cmdClose_Click()
{
    close();
}

void frmOptions::reject()
{
    close();
}

void frmOptions::closeEvent(QCloseEvent* event)
{
    runHandler(optionsTrap("Form_QueryUnload"), [this] { Form_QueryUnload(); });
    event->accept();
    done(QDialog::Accepted);
}

void frmOptions::Form_QueryUnload()
{
    Trap trap = optionsTrap("Form_QueryUnload");
    ProgramState& state = *platform_.state;
    trap(10, [&] {
        const StartUpEntryResult result =
            chkWindowsStart->isChecked() ? autostart_.turnOn(programPath()) : autostart_.turnOff();
        if (result.error != 0)
            throw startUpEntryError(result);
    });
    trap(20, [&] { WriteSetting(state, settingsKey::LoadInSysTray, checkValue(chkLoadInSysTray)); });
    trap(30, [&] { WriteSetting(state, settingsKey::WarnInSysTray, checkValue(chkWarnInSysTray)); });
    trap(40, [&] { WriteSetting(state, settingsKey::ScriptLoadOPT, QString::number(state.scriptLoadOpt)); });
    trap(50, [&] { WriteSetting(state, settingsKey::ScriptLoadCONSTFILE, txtConstScript->text()); });
}
