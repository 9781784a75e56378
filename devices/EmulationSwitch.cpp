#include "devices/EmulationSwitch.h"

#include "deviceapi/modVSP_APIs.h"

bool EmulationSwitch::ask(bool wanted)
{
    using namespace modVSP_APIs;
    return (wanted ? vsp_startEmulation() : vsp_stopEmulation()) != 0;
}

void EmulationSwitch::accept(bool running)
{
    running_ = running;
    emit changed(running);
}
