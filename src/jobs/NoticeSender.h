#pragma once

#include "RunNotice.h"

#include <cstdint>
#include <deque>
#include <string>

struct DBusConnection;

// The action every notice offers where the service shows actions: the whole
// notice, and its button.
inline const std::string OpenLogActionKey = "default";
inline const std::string OpenLogActionLabel = "查看日志";

// Tells notices to the session's freedesktop notification service without a
// toolkit, over a D-Bus connection of its own. The connection is opened at
// the first notice and kept, so that the action of a notice comes back to it;
// where the service supports actions, each notice carries "查看日志". A call
// waits at most the timeout; actions are read when the owner asks (Fd wakes
// it), so nothing ever waits for a person to click.
class TNoticeSender {
public:
    explicit TNoticeSender(int timeoutMilliseconds = 5000);
    ~TNoticeSender();
    TNoticeSender(const TNoticeSender&) = delete;
    TNoticeSender& operator=(const TNoticeSender&) = delete;

    // False when no service took it: no session bus, or no service answered in time.
    bool Send(const TRunNotice& notice);
    // Reads what came from the bus since the last call; true when the action
    // of a notice sent here was invoked.
    bool ActionInvoked();
    // The connection's descriptor to poll, -1 while there is none.
    int Fd() const;

private:
    bool Connect();
    void Disconnect();

    int FTimeout;
    DBusConnection* FBus = nullptr;
    std::deque<std::uint32_t> FSentIds; // the latest notices, whose actions are ours
};

// The notice as one line, for a log or the journal where no service answers.
std::string NoticeLine(const TRunNotice& notice);

// A title or body as the bus carries it: valid UTF-8 without control bytes
// but line breaks, and with &, < and > escaped for a service that reads markup.
std::string NoticeBusText(const std::string& text, bool markup);
