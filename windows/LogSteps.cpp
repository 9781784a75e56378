#include "windows/LogSteps.h"

#include <variant>

namespace {

using AnyStep = std::variant<EditorStep, ScanStep, DialogStep, TrayStep>;

struct Row {
    AnyStep step;
    LogPlace place;
};

constexpr LogPlace form(const char* procedure, int line)
{
    return {procedure, Trap::UnitKind::Form, "frmMain", line};
}
constexpr LogPlace module(const char* procedure, const char* unit, int line)
{
    return {procedure, Trap::UnitKind::Module, unit, line};
}

const Row table[] = {
    // The editor, filled by the handler that opens it.
    {EditorStep::DefaultComPort, form("showPairProperties", 10)},
    {EditorStep::DefaultBaud, form("showPairProperties", 20)},
    {EditorStep::DefaultDtrRts, form("showPairProperties", 30)},
    {EditorStep::DefaultParity, form("showPairProperties", 40)},
    {EditorStep::DefaultDataBits, form("showPairProperties", 50)},
    {EditorStep::DefaultStopBits, form("showPairProperties", 60)},
    {EditorStep::DefaultReadTimeout, form("showPairProperties", 70)},
    {EditorStep::ComPort, form("showPairProperties", 120)},
    {EditorStep::Host, form("showPairProperties", 130)},
    {EditorStep::Port, form("showPairProperties", 140)},
    {EditorStep::SerialGroup, form("showPairProperties", 150)},
    {EditorStep::Baud, form("showPairProperties", 160)},
    {EditorStep::DtrRts, form("showPairProperties", 170)},
    {EditorStep::Parity, form("showPairProperties", 180)},
    {EditorStep::DataBits, form("showPairProperties", 190)},
    {EditorStep::StopBits, form("showPairProperties", 200)},
    {EditorStep::ReadTimeout, form("showPairProperties", 210)},
    // The scan's reading of the devices.
    {ScanStep::Count, form("ScanAvailPairs", 30)},
    {ScanStep::DeviceId, form("ScanAvailPairs", 40)},
    {ScanStep::DeviceInfo, form("ScanAvailPairs", 50)},
    {ScanStep::DeviceTexts, form("ScanAvailPairs", 60)},
    {ScanStep::ClaimByConnector, form("ScanAvailPairs", 70)},
    {ScanStep::ClaimByClient, form("ScanAvailPairs", 80)},
    // The file dialogs, under their module.
    {DialogStep::OpenCheckName, module("OpenDialog", "modDLG", 10)},
    {DialogStep::OpenChoose, module("OpenDialog", "modDLG", 20)},
    {DialogStep::SaveCheckName, module("SaveDialog", "modDLG", 10)},
    {DialogStep::SaveChoose, module("SaveDialog", "modDLG", 20)},
    {DialogStep::FilterLookup, module("FilterLookup", "modDLG", 10)},
    // The notification-area icon, under its module.
    {TrayStep::ProbeMessages, module("TrayIcon", "modSysTrayIcon", 10)},
    {TrayStep::ShowIcon, module("TrayIcon", "modSysTrayIcon", 20)},
    {TrayStep::HideIcon, module("TrayIcon", "modSysTrayIcon", 30)},
};

LogPlace find(const AnyStep& step)
{
    for (const Row& row : table)
        if (row.step == step)
            return row.place;
    // Every step has its row (the tests check); a new one without shows as line 0.
    return form("", 0);
}

}  // namespace

LogPlace logPlace(EditorStep step)
{
    return find(step);
}
LogPlace logPlace(ScanStep step)
{
    return find(step);
}
LogPlace logPlace(DialogStep step)
{
    return find(step);
}
LogPlace logPlace(TrayStep step)
{
    return find(step);
}
