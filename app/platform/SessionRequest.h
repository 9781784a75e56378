// A request of the desktop's session manager, behind an interface so tests can play
// the session manager.
#pragma once

class QSessionManager;

class SessionRequest {
public:
    virtual ~SessionRequest() = default;
    // True when the program may put a question to the user now; the session manager
    // may refuse it (a checkpoint without interaction, a forced logout).
    virtual bool allowsInteraction() = 0;
    // Asks the session manager not to end the session after all.
    virtual void cancel() = 0;
};

class QtSessionRequest : public SessionRequest {
public:
    explicit QtSessionRequest(QSessionManager& manager) : manager_(manager) {}
    bool allowsInteraction() override;
    void cancel() override;

private:
    QSessionManager& manager_;
};
