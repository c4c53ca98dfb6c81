#pragma once

#include "TempDir.h"

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

// A real sshd of the test's own on 127.0.0.1 and a free port, with a host key
// and an authorized key made for it, and an ssh configuration and known_hosts
// of its own, so that the developer's ssh settings never leak in. SshCommand()
// is the command a project names; HostAlias() the host its addresses use.
class TTestSshd {
public:
    explicit TTestSshd(const TTempDir& dir) : FDir(dir.Path() + "/ssh") {
        MakeFolder(FDir);
        mkdir("/run/sshd", 0755); // sshd's privilege separation wants it when run as root
        if (!Run("ssh-keygen -q -t ed25519 -N '' -f " + FDir + "/host_key") ||
            !Run("ssh-keygen -q -t ed25519 -N '' -f " + FDir + "/user_key")) {
            return;
        }
        FPort = FreePort();
        WriteTextFile(FDir + "/authorized_keys", ReadTextFile(FDir + "/user_key.pub"));
        WriteTextFile(FDir + "/sshd_config",
                      "ListenAddress 127.0.0.1\nPort " + std::to_string(FPort) + "\nHostKey " + FDir +
                          "/host_key\nAuthorizedKeysFile " + FDir +
                          "/authorized_keys\nUsePAM no\nStrictModes no\n"
                          "PasswordAuthentication no\nKbdInteractiveAuthentication no\n"
                          "PermitRootLogin prohibit-password\nPidFile none\nLogLevel ERROR\n"
                          "Subsystem sftp /usr/lib/openssh/sftp-server\n");
        const std::string hostKey = ReadTextFile(FDir + "/host_key.pub");
        WriteTextFile(FDir + "/known_hosts", "[127.0.0.1]:" + std::to_string(FPort) + " " + hostKey);
        WriteTextFile(FDir + "/empty_known_hosts", "");
        Run("ssh-keygen -q -t ed25519 -N '' -f " + FDir + "/other_host_key");
        WriteTextFile(FDir + "/changed_known_hosts", "[127.0.0.1]:" + std::to_string(FPort) + " " +
                                                         ReadTextFile(FDir + "/other_host_key.pub"));
        WriteConfig("ssh_config", "known_hosts");
        WriteConfig("unknown_config", "empty_known_hosts");
        WriteConfig("changed_config", "changed_known_hosts");
        // Each connection through the proxy is an sshd of its own on a pipe
        // (sshd -i), whose process id is noted, so that a test can kill it;
        // while "down" exists no connection is made.
        WriteConfig("proxy_config", "known_hosts",
                    "  ProxyCommand sh -c 'test -e " + FDir +
                        "/down && { echo the test server is down >&2; exit 1; }; echo $$ >> " + FDir +
                        "/proxy.pids; exec /usr/sbin/sshd -i -e -f " + FDir + "/sshd_config 2>>" + FDir +
                        "/proxy.log'\n");
        // A server that refuses to set attributes (sftp-server -P).
        WriteConfig("timeless_config", "known_hosts",
                    "  ProxyCommand /usr/sbin/sshd -i -e -f " + FDir + "/sshd_config \"-oForceCommand=" +
                        "/usr/lib/openssh/sftp-server -P fsetstat,setstat\" 2>>" + FDir + "/proxy.log\n");
        FPid = fork();
        if (FPid == 0) {
            // Its log (the port probes below among it) goes to a file of its own.
            const int log = open((FDir + "/sshd.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            dup2(log, STDERR_FILENO);
            execl("/usr/sbin/sshd", "/usr/sbin/sshd", "-D", "-e", "-f", (FDir + "/sshd_config").c_str(),
                  static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 200 && !Accepts(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(25));
        }
    }
    ~TTestSshd() { Stop(); }
    TTestSshd(const TTestSshd&) = delete;
    TTestSshd& operator=(const TTestSshd&) = delete;

    bool Running() const { return FPid > 0 && Accepts(); }
    void Stop() {
        if (FPid > 0) {
            kill(FPid, SIGTERM);
            waitpid(FPid, nullptr, 0);
            FPid = -1;
        }
    }
    int Port() const { return FPort; }
    std::string HostAlias() const { return "pairwell-test"; }
    std::string SshCommand() const { return "ssh -F " + FDir + "/ssh_config"; }
    // The same server, with a known_hosts that does not know it, or that holds another key for it.
    std::string UnknownHostSshCommand() const { return "ssh -F " + FDir + "/unknown_config"; }
    std::string ChangedHostSshCommand() const { return "ssh -F " + FDir + "/changed_config"; }
    // "SHA256:…" of the server's host key.
    std::string HostKeyFingerprint() const {
        Run("ssh-keygen -lf " + FDir + "/host_key.pub > " + FDir + "/fingerprint");
        const std::string line = ReadTextFile(FDir + "/fingerprint");
        const std::size_t start = line.find("SHA256:");
        return start == std::string::npos ? "SHA256:?" : line.substr(start, line.find(' ', start) - start);
    }
    // The same server reached through a ProxyCommand: each connection an sshd
    // of its own that KillProxiedConnections ends, and SetDown(true) refuses.
    // The same server refusing to set times (and any other attribute).
    std::string TimeRefusingSshCommand() const { return "ssh -F " + FDir + "/timeless_config"; }
    std::string ProxiedSshCommand() const { return "ssh -F " + FDir + "/proxy_config"; }
    void KillProxiedConnections() const {
        const std::string pids = ReadTextFile(FDir + "/proxy.pids");
        std::size_t start = 0;
        while (start < pids.size()) {
            const std::size_t end = pids.find('\n', start);
            const std::string pid = pids.substr(start, end - start);
            if (!pid.empty()) {
                kill(static_cast<pid_t>(std::stol(pid)), SIGKILL);
            }
            start = end == std::string::npos ? pids.size() : end + 1;
        }
    }
    void SetDown(bool down) const {
        if (down) {
            WriteTextFile(FDir + "/down", "");
        } else {
            std::remove((FDir + "/down").c_str());
        }
    }
    // An address of a local path on this server.
    std::string Address(const std::string& path) const { return "sftp://" + HostAlias() + path; }

private:
    static bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }
    static int FreePort() {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        close(fd);
        return ntohs(address.sin_port);
    }
    bool Accepts() const {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(FPort));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        const bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        close(fd);
        return accepted;
    }
    void WriteConfig(const std::string& name, const std::string& knownHosts, const std::string& more = "") {
        WriteTextFile(FDir + "/" + name,
                      "Host " + HostAlias() + "\n  HostName 127.0.0.1\n  Port " + std::to_string(FPort) +
                          "\n  User " + UserName() + "\n  IdentityFile " + FDir +
                          "/user_key\n  IdentitiesOnly yes\n"
                          "  UserKnownHostsFile " +
                          FDir + "/" + knownHosts +
                          "\n  GlobalKnownHostsFile /dev/null\n  StrictHostKeyChecking yes\n"
                          "  LogLevel ERROR\n" +
                          more);
    }
    static std::string UserName() {
        const char* user = std::getenv("USER");
        if (user != nullptr && *user != '\0') {
            return user;
        }
        return getuid() == 0 ? "root" : std::to_string(getuid());
    }

    std::string FDir;
    int FPort = 0;
    pid_t FPid = -1;
};
