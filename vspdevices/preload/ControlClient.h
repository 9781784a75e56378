// Asks a port's control socket (COM<N>.control in the port directory) and waits
// for the answer, with a time limit for everything but a wait for the modem lines.
// Each process keeps one connection per port for quick requests (a program that
// polls its modem lines costs one round trip each); waits and timed breaks get a
// connection of their own so they hold up no other thread. A connection that fails
// is dropped and the request tried once more on a fresh one; when that fails too
// the caller goes on as without the launcher.
#pragma once

#include "ControlMessage.h"

namespace vsp::preload {

enum class Wait { Limited, Unlimited };

struct Answer {
    enum Kind {
        None,         // no channel answered properly: go on as without the launcher
        Replied,      // reply holds the answer
        Interrupted,  // a signal ended an unlimited wait
        HungUp,       // the channel closed during an unlimited wait: the port went away
    } kind = None;
    control::Reply reply;
};

// Asks port com; an unlimited wait ends only with the answer, a signal or a hang-up.
Answer ask(int com, const control::Request& request, int timeLimitMs, Wait wait = Wait::Limited);
// Called in a forked child: the parent's connections and locks are not the child's.
void resetConnectionsAfterFork();

}  // namespace vsp::preload
