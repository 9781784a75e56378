// The launcher's supervisor: answers the serial requests of programs that the
// interposition library cannot reach (Go programs, which make their system calls
// themselves, and statically linked ones). The supervised program runs under a
// seccomp filter that hands each ioctl concerning serial lines, break, drain, the
// serial driver's requests and settings changes to the supervisor (seccomp user
// notification); every other system call runs untouched, at the cost of the
// filter's few instructions. The supervisor looks at the descriptor through /proc:
// one that is not a port of ours is given back to the kernel to run as it is
// (SECCOMP_USER_NOTIF_FLAG_CONTINUE); for a port, the request is answered as the
// interposition library answers it (PortCalls.h), the argument read and written in
// the program's memory. Requests that wait (for the lines, the output, a break)
// are answered from a thread of their own, so a waiting program holds up no other.
#pragma once

#include <linux/seccomp.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <set>

namespace vsp::preload {

class Supervisor {
public:
    // Whether this kernel lets a process supervise another's calls this way.
    static bool available();
    // In the program's process before it starts: the filter, made with no_new_privs
    // (what a process without privileges must promise first); the supervisor's
    // descriptor, or -1 when the kernel refuses.
    static int install();

    explicit Supervisor(int listener);
    int descriptor() const { return listener_; }
    // Takes and answers one request (the descriptor was readable).
    void takeRequest();
    // Answers every wait in progress as interrupted, so the program asks again (of
    // whoever supervises it then).
    void interruptWaits();
    // Whether notice is still wanted for a request.
    bool stillWaiting(std::uint64_t id) const;

private:
    void answer(const seccomp_notif& request);
    void respond(std::uint64_t id, int value, int error, bool continueCall = false) const;
    void answerInThread(const seccomp_notif& request, int copy);

    int listener_;
    mutable std::mutex waitsLock_;
    std::set<std::uint64_t> waits_;  // requests answered from a thread
    std::atomic<int> threads_{0};
};

}  // namespace vsp::preload
