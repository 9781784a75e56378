#include "devices/EmulationSwitch.h"

#include "deviceapi/modVSP_APIs.h"

bool g_EmulationRunning = false;

bool EmulationSwitch::ask(bool wanted)
{
    using namespace modVSP_APIs;
    return (wanted ? vsp_startEmulation() : vsp_stopEmulation()) != 0;
}

void EmulationSwitch::accept(bool running)
{
    g_EmulationRunning = running;
    emit changed(running);
}
