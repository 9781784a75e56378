// The soak runs; each prints its figures and returns true when they held.
#pragma once

namespace soak {

// An adapter stopped and started `count` times; after each restart the library
// must reconnect and carry an echo intact.
bool adapterRestarts(int count);
// `count` connections dropped (by the adapter and by vsp_reinitializeDevice, in
// turn) across several redirects at once; fds, threads and memory must not grow.
bool reconnects(int count);
// Peers that misbehave for `seconds` each; memory must stay under 64 MiB and the
// library's thread must go quiet once they stop.
bool hostilePeers(int seconds);

}  // namespace soak
