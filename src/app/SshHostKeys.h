#pragma once

#include "sftp/SftpAddress.h"

#include <QString>
#include <QStringList>
#include <string>

// Why ssh refused a server because of its host key, read from ssh's own words.
enum class THostKeyRefusal {
    None,    // not for its host key
    Unknown, // the key is in no known_hosts file: the person may accept it
    Changed  // the key differs from the one known: never offered for acceptance
};
THostKeyRefusal HostKeyRefusalOf(const std::string& sshReason);

// The host keys a server offers, as ssh-keyscan reads them, and where ssh
// keeps the keys it knows. The host, port and known_hosts file are those the
// ssh command's configuration gives the address (ssh -G).
struct THostKeyScan {
    QString FHost; // the host ssh connects to
    QString FPort;
    QString FKnownHostsFile;   // the first file of UserKnownHostsFile
    QStringList FLines;        // known_hosts lines, one a key, named as ssh looks them up
    QStringList FFingerprints; // "256 SHA256:… [host]:port (ED25519)", one a key
    QString FProblem;          // why the scan failed; empty when it did not
};
THostKeyScan ScanHostKeys(const std::string& sshCommand, const TSftpAddress& address);

// Adds the scanned lines to the known_hosts file as they are (hashing
// nothing), making its folder (~/.ssh) with mode 0700 when it is missing.
// False with the reason when it cannot.
bool AddKnownHosts(const THostKeyScan& scan, QString& problem);
