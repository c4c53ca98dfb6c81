#pragma once

#include <string>
#include <string_view>
#include <vector>

// A folder on another machine: sftp://[user@]host[:port]/absolute/path, or
// sftp://[user@]host[:port]/~/path for a path below the user's home.
struct TSftpAddress {
    std::string FUser; // empty: ssh's own choice
    std::string FHost; // may be a Host alias of the ssh configuration
    std::string FPort; // empty: ssh's own choice
    // The path as the server takes it, bytes as written (no percent-decoding):
    // absolute, or relative to the home folder ("." for the home itself).
    std::string FPath;
};

// Whether root is an address rather than a local folder.
bool IsSftpAddress(std::string_view root);

// Reads an address; false with the reason when it is malformed, or when its
// host or user could be taken by ssh as an option (a leading '-') or holds a
// blank or a control character.
bool ParseSftpAddress(std::string_view text, TSftpAddress& address, std::string& reason);

// The ssh command and its options, split on blanks (never through a shell);
// an empty command is "ssh".
std::vector<std::string> SplitSshCommand(const std::string& command);

// The command line that opens the SFTP subsystem at address. Without a person
// to answer, ssh never asks (BatchMode). With one, ssh asks for passwords but
// refuses an unknown host key instead of asking (unless the configuration
// accepts new keys): whoever starts it asks the person. Keepalive options are
// added unless the user's ssh configuration sets its own.
std::vector<std::string> SftpCommandLine(const std::string& sshCommand, const TSftpAddress& address,
                                         bool batch);
