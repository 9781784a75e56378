// What the status command reports: the running ports in a port directory and, from
// each port's control channel, the state of the connection behind it.
#pragma once

#include "vspdevices_control_diagnostics.h"

#include <optional>
#include <string>
#include <vector>

namespace service {

struct RunningPort {
    int com = 0;
    std::string path;  // the link COM<N> in the port directory
};

// The ports' links (COM<N> pointing at a pseudo-terminal) in the directory, by COM number.
std::vector<RunningPort> runningPorts(const std::string& dir);

// Asks a port's control socket for its connection's diagnostics, waiting at most
// timeoutMs for the answer; nullopt when there is none, it is malformed or the
// socket is not the user's own; status Busy when the channel refused the client.
std::optional<vsp::control::Diagnostics> askDiagnostics(const std::string& socketPath, int timeoutMs = 1000);

// The state's word: "up", "retry-wait", ...; "no-connection" for a port no
// connection serves, "busy" when its channel could not take the client, "unknown"
// when the port did not answer.
// The same for the connection's TLS (vsp::control::Op::Tls).
std::optional<vsp::control::Tls> askTls(const std::string& socketPath, int timeoutMs = 1000);

// The state's word: "up", "retry-wait", ...; "no-connection" for a port no
// connection serves, "busy" when its channel could not take the client, "unknown"
// when the port did not answer.
std::string stateWord(const std::optional<vsp::control::Diagnostics>& diagnostics);

// One line for a port, columns separated by tabs: COM port, state, path, bytes sent
// to the adapter, bytes received from it, the last error ("" when none); over TLS
// then the TLS version (while connected), the adapter's certificate's subject and
// its SHA-256 fingerprint (the last one presented), each "" when not known.
std::string statusLine(const RunningPort& port, const std::optional<vsp::control::Diagnostics>& diagnostics,
                       const std::optional<vsp::control::Tls>& tls = std::nullopt);

}  // namespace service
