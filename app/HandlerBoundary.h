// Where the window system calls into the program. Every handler it calls directly (a
// button, a menu entry, the notification icon, a focus change, the start-up step of
// hiding) runs through here: a failure that no trap inside the handler took care of
// is logged in the common form under the handler's name, on line 0 (such a handler
// numbers no statements), and the program goes on with the next event. Nothing
// reaches the event loop, where it would end the program with every port it serves.
#pragma once

#include "app/Trap.h"

#include <utility>

inline constexpr int handlerLine = 0;

// Runs a handler; true when it completed.
template <class Body>
bool runHandler(Trap trap, Body&& body)
{
    try {
        return trap(handlerLine, std::forward<Body>(body));
    } catch (...) {
        trap.report(handlerLine, 51, QStringLiteral("Internal error: unknown failure"));
    }
    return false;
}

// A handler for QObject::connect that takes the signal's arguments Args.
template <class... Args, class Body>
auto handler(Trap trap, Body body)
{
    return [trap = std::move(trap), body = std::move(body)](Args... args) mutable {
        runHandler(trap, [&] { body(args...); });
    };
}

// The same for a window's member function, e.g. handler(this, Trap("cmdHide_Click"), &frmMain::cmdHide_Click).
template <class Window, class Result, class... Args>
auto handler(Window* window, Trap trap, Result (Window::*method)(Args...))
{
    return handler<Args...>(std::move(trap), [window, method](Args... args) { (window->*method)(args...); });
}
