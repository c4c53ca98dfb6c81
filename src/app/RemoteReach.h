#pragma once

#include <QString>
#include <string>

class QWidget;
class TVolume;

// How reaching the server of a folder on another machine came out.
struct TRemoteReach {
    bool FReached = false;
    // The person declined an unknown host, or a changed host key was refused
    // with a warning: the caller has nothing more to tell.
    bool FRefused = false;
    std::string FReason; // ssh's words otherwise
};

// Connects to the server of volume (a local one is always reached) as the
// window does. ssh refuses a host key it does not know; the person is then
// asked ("未知主机", with the host, port and key fingerprints), and Yes adds
// the key to the known_hosts file ssh uses and connects again. A changed host
// key is refused with a warning and never offered. Passwords are asked by
// ssh itself through the window's password program.
TRemoteReach ReachRemote(QWidget* owner, TVolume& volume, const std::string& sshCommand);

inline const QString UnknownHostCaption = QStringLiteral("未知主机");
inline const QString ChangedHostKeyCaption = QStringLiteral("主机密钥已改变");
