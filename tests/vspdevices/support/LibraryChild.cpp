// A second process that uses the library, for what one test process cannot show:
// another instance on the same port directory, and an exit without release.
//   vspdevices_child initialize             exit 0 when vsp_initialize accepts, 3 when it refuses
//   vspdevices_child exit-without-release   initialize, bring up COM5 and return from main
// The port directory comes from VSP_PORT_DIR as for any program.
#include "vspdevices.h"

#include <cstring>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    if (vsp_initialize() != 1)
        return 3;
    if (!std::strcmp(argv[1], "initialize"))
        return 0;
    if (!std::strcmp(argv[1], "exit-without-release"))
        return vsp_createDevice("Connector", "5;0") >= 0 && vsp_startEmulation() == 1 ? 0 : 4;
    return 2;
}
