#pragma once

#include <string>
#include <vector>

// ssh refuses an unknown host key in batch mode without naming it. When
// reason (ssh's words on a connection that failed) is such a refusal, command
// (the ssh command line that failed, ending "-s HOST sftp") is run once more
// with ssh's debug output, up to the key exchange, and the fingerprint of the
// key the server sent is added: "… The server's host key: ssh-ed25519
// SHA256:…". Any other reason comes back as it was.
std::string WithRefusedHostKey(const std::vector<std::string>& command, const std::string& reason);
