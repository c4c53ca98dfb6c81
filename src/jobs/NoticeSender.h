#pragma once

#include "RunNotice.h"

#include <string>

// Sends a notice to the session's freedesktop notification service without a
// toolkit: runs "gdbus call ... org.freedesktop.Notifications.Notify" (an
// argument vector, no shell) and waits at most timeoutSeconds for it. Returns
// false when no service took it: no session bus, gdbus missing, failing or
// too slow.
bool SendNoticeToDesktop(const TRunNotice& notice, int timeoutSeconds = 5);

// The notice as one line, for a log or the journal where no service answers.
std::string NoticeLine(const TRunNotice& notice);

// The text as a GVariant string literal, as gdbus reads its arguments: valid
// UTF-8, quotes and backslashes escaped, line breaks as "\n".
std::string GVariantString(const std::string& text);
