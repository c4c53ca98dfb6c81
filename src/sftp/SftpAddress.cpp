#include "SftpAddress.h"

#include "ChildOutput.h"

#include <chrono>
#include <cstring>
#include <map>
#include <mutex>

namespace {

constexpr std::string_view Scheme = "sftp://";

bool IsUnsafeName(std::string_view name) {
    if (!name.empty() && name.front() == '-') {
        return true;
    }
    for (const char c : name) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= 0x20 || byte == 0x7f) {
            return true;
        }
    }
    return false;
}

// What the user's configuration gives ssh for host, as `ssh -G` prints it;
// empty when it cannot be asked. A run opens the volumes of a host many
// times: the answer is kept for a minute, so that ssh is asked once a run
// and an edited configuration still counts from the next.
std::string EffectiveConfiguration(const std::vector<std::string>& argv) {
    using TClock = std::chrono::steady_clock;
    struct TKept {
        std::string FText;
        TClock::time_point FAsked;
    };
    static std::mutex mutex;
    static std::map<std::vector<std::string>, TKept> kept;
    const auto now = TClock::now();
    {
        const std::lock_guard lock(mutex);
        if (const auto found = kept.find(argv);
            found != kept.end() && now - found->second.FAsked < std::chrono::minutes(1)) {
            return found->second.FText;
        }
    }
    bool succeeded = false;
    std::string text = ChildOutput(argv, 1, succeeded);
    if (!succeeded) {
        return {};
    }
    const std::lock_guard lock(mutex);
    kept[argv] = {text, now};
    return text;
}

void AddTarget(std::vector<std::string>& argv, const TSftpAddress& address) {
    if (!address.FUser.empty()) {
        argv.push_back("-l");
        argv.push_back(address.FUser);
    }
    if (!address.FPort.empty()) {
        argv.push_back("-p");
        argv.push_back(address.FPort);
    }
}

} // namespace

bool IsSftpAddress(std::string_view root) {
    return root.substr(0, Scheme.size()) == Scheme;
}

bool ParseSftpAddress(std::string_view text, TSftpAddress& address, std::string& reason) {
    address = {};
    if (!IsSftpAddress(text)) {
        reason = "an address begins with sftp://";
        return false;
    }
    text.remove_prefix(Scheme.size());
    const std::size_t slash = text.find('/');
    if (slash == std::string_view::npos) {
        reason = "the address names no path";
        return false;
    }
    std::string_view authority = text.substr(0, slash);
    std::string_view path = text.substr(slash);
    const std::size_t at = authority.rfind('@');
    if (at != std::string_view::npos) {
        address.FUser = authority.substr(0, at);
        authority.remove_prefix(at + 1);
        if (address.FUser.empty()) {
            reason = "the address names an empty user";
            return false;
        }
    }
    std::string_view host = authority;
    std::string_view port;
    if (!host.empty() && host.front() == '[') {
        const std::size_t close = host.find(']');
        if (close == std::string_view::npos) {
            reason = "the address's host has no closing ]";
            return false;
        }
        port = host.substr(close + 1);
        host = host.substr(1, close - 1);
        if (!port.empty() && port.front() != ':') {
            reason = "the address's host is followed by something other than a port";
            return false;
        }
        if (!port.empty()) {
            port.remove_prefix(1);
        }
    } else if (const std::size_t colon = host.rfind(':'); colon != std::string_view::npos) {
        port = host.substr(colon + 1);
        host = host.substr(0, colon);
    }
    address.FHost = host;
    if (address.FHost.empty()) {
        reason = "the address names no host";
        return false;
    }
    if (IsUnsafeName(address.FHost) || IsUnsafeName(address.FUser)) {
        reason = "the address's host or user begins with - or holds a blank or a control character";
        return false;
    }
    if (!port.empty() || authority.back() == ':') {
        long number = 0;
        for (const char c : port) {
            if (c < '0' || c > '9' || number > 65535) {
                number = 0;
                break;
            }
            number = number * 10 + (c - '0');
        }
        if (number < 1 || number > 65535) {
            reason = "the address's port is not a number from 1 to 65535";
            return false;
        }
        address.FPort = std::to_string(number);
    }
    if (path == "/~" || path.substr(0, 3) == "/~/") {
        path.remove_prefix(path.size() > 2 ? 3 : 2);
        address.FPath = path.empty() ? std::string(".") : std::string(path);
    } else {
        address.FPath = path;
    }
    while (address.FPath.size() > 1 && address.FPath.back() == '/') {
        address.FPath.pop_back();
    }
    return true;
}

std::vector<std::string> SplitSshCommand(const std::string& command) {
    std::vector<std::string> words;
    std::string word;
    for (const char c : command) {
        if (c == ' ' || c == '\t') {
            if (!word.empty()) {
                words.push_back(std::move(word));
                word.clear();
            }
        } else {
            word.push_back(c);
        }
    }
    if (!word.empty()) {
        words.push_back(std::move(word));
    }
    if (words.empty()) {
        words.push_back("ssh");
    }
    return words;
}

std::vector<std::string> SftpCommandLine(const std::string& sshCommand, const TSftpAddress& address,
                                         bool batch) {
    std::vector<std::string> argv = SplitSshCommand(sshCommand);
    // Asked before BatchMode goes in: Debian's ssh turns a keepalive of 300 s
    // on by itself in batch mode, which is not the user's setting.
    std::vector<std::string> ask = argv;
    if (batch) {
        argv.push_back("-oBatchMode=yes");
    }
    ask.push_back("-G");
    AddTarget(ask, address);
    ask.push_back(address.FHost);
    // ssh takes the first value it meets, the command line's before the
    // configuration's: the keepalive goes in only where the user set none.
    const std::string effective = EffectiveConfiguration(ask);
    if (effective.find("\nserveraliveinterval 0\n") != std::string::npos || effective.empty()) {
        argv.push_back("-oServerAliveInterval=15");
        argv.push_back("-oServerAliveCountMax=3");
    }
    // With a person to answer, ssh still never asks about an unknown host key
    // itself (it would ask through the password program): it refuses, and the
    // caller asks. A configuration that accepts keys on its own is left so.
    if (!batch &&
        (effective.find("\nstricthostkeychecking ask\n") != std::string::npos || effective.empty())) {
        argv.push_back("-oStrictHostKeyChecking=yes");
    }
    AddTarget(argv, address);
    argv.push_back("-s");
    argv.push_back(address.FHost);
    argv.push_back("sftp");
    return argv;
}
