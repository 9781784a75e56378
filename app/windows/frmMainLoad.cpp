// The main window's initialization, run once before it takes any input.
#include "app/windows/frmMain.h"

#include "app/NumericText.h"
#include "app/ProgramFiles.h"
#include "app/Settings.h"
#include "app/Trap.h"
#include "config/modDLG.h"
#include "deviceapi/modVSP_APIs.h"

#include <QComboBox>
#include <QLabel>

using namespace modVSP_APIs;

namespace {
// The editor's choices. The positions in DTR/RTS and parity are what the
// initialization strings carry, so their order is part of the stored format.
const char* const baudChoices = "110,300,1200,2400,4800,9600,19200,38400,57600,115200,230400,460800,921600";
const char* const dtrRtsChoices = "no,yes";
const char* const parityChoices = "no,odd,even,mark,space";
const char* const bitsChoices = "7,8";
const char* const stopBitsChoices = "1,2";

void fill(QComboBox* box, const char* literal)
{
    for (const QString& item : QString::fromLatin1(literal).split(QLatin1Char(',')))
        box->addItem(item);
}
}  // namespace

void frmMain::Form_Load()
{
    Trap trap(QStringLiteral("Form_Load"));
    bool load = false;

    trap(10, [&] { showUpperFramePosition(); });
    trap(20, [&] { platform_.cursor->setBusy(); });
    trap(30, [&] {
        QString version;
        vsp_getVersionInformation(version);
        lblAPIVer->setText(TrimAtNul(version));
        lblAPIVer->adjustSize();
    });
    trap(40, [&] {
        fill(cmbBaud, baudChoices);
        fill(cmbDTRRTS, dtrRtsChoices);
        fill(cmbParity, parityChoices);
        fill(cmbBits, bitsChoices);
        fill(cmbStopBits, stopBitsChoices);
        for (QComboBox* box : {cmbBaud, cmbDTRRTS, cmbParity, cmbBits, cmbStopBits})
            box->setCurrentIndex(-1);  // the editor selects its defaults when it opens
    });
    trap(50, [&] {
        if (vsp_initialize() == 0)
            platform_.messages->show({QStringLiteral("Initialization error"), msgbox::Buttons::Ok, msgbox::Icon::None});
    });
    trap(60, [&] { ChangeEmuStatus(false); });
    trap(70, [&] { vsp_destroyAllDevices(); });
    trap(80, [&] { load = FileExists(g_ScriptFile); });
    if (!load) {
        trap(90, [&] { g_ScriptLoadOpt = toByte(leadingNumber(ReadSetting(settingsKey::ScriptLoadOPT))); });
        trap(100, [&] {
            if (g_ScriptLoadOpt == 0)
                return;
            if (g_ScriptLoadOpt == 1)
                g_ScriptFile = ReadSetting(settingsKey::ScriptLoadLASTFILE);
            else if (g_ScriptLoadOpt == 2)
                g_ScriptFile = ReadSetting(settingsKey::ScriptLoadCONSTFILE);
            load = FileExists(g_ScriptFile);
        });
    }
    trap(110, [&] {
        if (g_ScriptFile.isEmpty())
            g_ScriptFile = programFilesDir() + QStringLiteral("/Untitled.qlc");
    });
    trap(120, [&] {
        // A file the library refuses counts as not loaded, after its message.
        if (load && ProcessScriptLoad())
            return;
        m_ConfigChanged = false;
        UpdateTitle();
    });
    trap(130, [&] { platform_.cursor->restore(); });
}
