// Asks a port's control socket (COM<N>.control in the port directory) and waits
// for the answer, with a time limit for everything but a wait for the modem lines.
// Each process keeps one connection per port for quick requests (a program that
// polls its modem lines costs one round trip each); waits and timed breaks get a
// connection of their own so they hold up no other thread. A connection that fails
// is dropped and the request tried once more on a fresh one; when that fails too
// the caller goes on as without the launcher. A socket is believed only when the
// port's own user serves it (its peer's credentials), and an answer only when it
// names the very terminal the program's descriptor is: a descriptor of a port
// that went away (the library or the runner started again, making the port anew
// under its name) is a dead port, never the new one.
#pragma once

#include "vspdevices_control.h"
#include "vspdevices_line_state.h"
#include "PortLookup.h"

namespace vsp::preload {

enum class Wait { Limited, Unlimited };

struct Answer {
    enum Kind {
        None,         // no channel answered properly: go on as without the launcher
        Replied,      // reply holds the answer
        Interrupted,  // a signal ended an unlimited wait
        HungUp,       // the channel closed during an unlimited wait: the port went away
        DeadPort,     // the channel serves another terminal: the descriptor's port is gone
        Busy,         // the channel cannot take this program now
    } kind = None;
    control::Reply reply;
};

// Whether an unlimited wait is still wanted, asked every checkMs while it waits
// (for a waiter that no signal reaches: the supervisor's).
struct StillWanted {
    bool (*wanted)(void* context) = nullptr;
    void* context = nullptr;
    int checkMs = 1000;
};

// Asks the port; an unlimited wait ends only with the answer, a signal, a hang-up
// or, when given, the caller no longer wanting it (answered Interrupted).
Answer ask(const Port& port, const control::Request& request, int timeLimitMs, Wait wait = Wait::Limited,
           const StillWanted* stillWanted = nullptr);

// The port's line state from its shared page, which the port's channel hands over
// on first use and keeps current: reading it costs the library nothing. False when
// there is no page to read (the caller then asks); a page whose channel hung up
// (the library ended) is given up, checked at most every pageCheckMs. With
// QUORLINVCP_LINE_PAGE=0 in the environment no page is used and every read asks,
// for comparing the two or ruling the page out when looking for a fault.
inline constexpr int pageCheckMs = 100;
bool lineState(const Port& port, control::LineState& state);
// Called in a forked child: the parent's connections and locks are not the child's.
void resetConnectionsAfterFork();

}  // namespace vsp::preload
