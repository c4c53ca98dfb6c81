#include "SftpHostKey.h"

#include "ChildOutput.h"

std::string WithRefusedHostKey(const std::vector<std::string>& command, const std::string& reason) {
    if (reason.find("Host key verification failed") == std::string::npos ||
        reason.find("SHA256:") != std::string::npos || command.size() < 4) {
        return reason;
    }
    std::vector<std::string> debug = command;
    // Before "-s HOST sftp": the command line's options win over the configuration's.
    debug.insert(debug.end() - 3, "-oLogLevel=DEBUG1");
    bool ran = false; // ssh fails again, as expected: what it said is wanted
    const std::string output = ChildOutput(debug, 2, ran);
    const std::string marker = "Server host key: ";
    const std::size_t found = output.find(marker);
    if (found == std::string::npos) {
        return reason;
    }
    const std::size_t start = found + marker.size();
    const std::size_t end = output.find_first_of("\r\n", start);
    return reason +
           "\nThe server's host key: " + output.substr(start, end == std::string::npos ? end : end - start);
}
