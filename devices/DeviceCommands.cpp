#include "devices/DeviceCommands.h"

#include "deviceapi/modVSP_APIs.h"
#include "redirect/InitStrings.h"

using namespace modVSP_APIs;

namespace deviceCommands {

std::int32_t createConnector(const Redirect& redirect)
{
    return vsp_createDevice(QString::fromLatin1(redirect::connectorType), redirect::connectorInitOf(redirect));
}

std::int32_t createClient(const Redirect& redirect)
{
    return vsp_createDevice(QString::fromLatin1(redirect::tcpClientType), redirect::tcpClientInitOf(redirect));
}

std::pair<std::int32_t, std::int32_t> recreate(const DeviceStrings& strings)
{
    const std::int32_t connector = vsp_createDevice(QString::fromLatin1(redirect::connectorType), strings.connectorInit);
    const std::int32_t client = vsp_createDevice(QString::fromLatin1(redirect::tcpClientType), strings.clientInit);
    return {connector, client};
}

void reinitialize(std::int32_t id)
{
    vsp_reinitializeDevice(id);
}

void destroy(std::int32_t id)
{
    vsp_destroyDevice(id);
}

void destroyAll()
{
    vsp_destroyAllDevices();
}

}  // namespace deviceCommands
