#include "NoticeSender.h"

#include "runlog/LogText.h"

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <vector>

extern char** environ;

namespace {

constexpr char UrgencyNormal = '1';
constexpr char UrgencyCritical = '2';

// Each line made valid UTF-8 without control bytes, lines joined by sep.
std::string SafeLines(const std::string& text, const std::string& separator) {
    std::string safe;
    std::size_t start = 0;
    while (true) {
        const std::size_t end = text.find('\n', start);
        safe += MakeLogSafe(text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) {
            return safe;
        }
        safe += separator;
        start = end + 1;
    }
}

} // namespace

std::string GVariantString(const std::string& text) {
    std::string quoted = "\"";
    for (const char c : SafeLines(text, "\n")) {
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (c == '\n') {
            quoted += "\\n";
        } else {
            quoted += c;
        }
    }
    return quoted + "\"";
}

std::string NoticeLine(const TRunNotice& notice) {
    return "notice: " + SafeLines(notice.FTitle, " / ") + ": " + SafeLines(notice.FBody, " / ");
}

bool SendNoticeToDesktop(const TRunNotice& notice, int timeoutSeconds) {
    // Without a session bus gdbus would try to launch one.
    const char* address = std::getenv("DBUS_SESSION_BUS_ADDRESS");
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if ((address == nullptr || *address == '\0') &&
        (runtime == nullptr || stat((std::string(runtime) + "/bus").c_str(), &st) != 0)) {
        return false;
    }
    const std::vector<std::string> args = {
        "gdbus",
        "call",
        "--session",
        "--timeout",
        std::to_string(timeoutSeconds),
        "--dest",
        "org.freedesktop.Notifications",
        "--object-path",
        "/org/freedesktop/Notifications",
        "--method",
        "org.freedesktop.Notifications.Notify",
        "\"Pairwell\"",
        "uint32 0",
        "\"pairwell\"",
        GVariantString(notice.FTitle),
        GVariantString(notice.FBody),
        "@as []",
        std::string("{\"urgency\": <byte ") + (notice.FProblem ? UrgencyCritical : UrgencyNormal) +
            ">, \"desktop-entry\": <\"pairwell\">}",
        "int32 -1",
    };
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);

    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    for (const int fd : {0, 1, 2}) {
        posix_spawn_file_actions_addopen(&files, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
    }
    pid_t pid = 0;
    const int spawned = posix_spawnp(&pid, "gdbus", &files, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&files);
    if (spawned != 0) {
        return false; // gdbus is not installed
    }
    // gdbus gives up after its own timeout; a hung one is ended a little later.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds + 2);
    int status = 0;
    while (true) {
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) {
            return WIFEXITED(status) && WEXITSTATUS(status) == 0;
        }
        if (done < 0 && errno != EINTR) {
            return false;
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}
