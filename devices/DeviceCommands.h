// The commands on a redirect's two devices, in the library's terms: creating them
// from a Redirect or again from the strings they were read from, reinitializing and
// destroying them. Results the library gives for a destroy or a reinitialize are not
// looked at: the list's next scan shows the outcome.
#pragma once

#include "redirect/Redirect.h"

#include <QString>
#include <cstdint>
#include <optional>
#include <utility>

namespace deviceCommands {

// The new device's id; -1 when the library refused it.
std::int32_t createConnector(const Redirect& redirect);
std::int32_t createClient(const Redirect& redirect);
// The pair again from the strings it was read from: the connector's and the
// client's ids (-1 for a device refused).
std::pair<std::int32_t, std::int32_t> recreate(const DeviceStrings& strings);

void reinitialize(std::int32_t id);
void destroy(std::int32_t id);
void destroyAll();

}  // namespace deviceCommands
