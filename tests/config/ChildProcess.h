#pragma once

#include <cerrno>
#include <exception>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

// Runs body in a forked child process whose exit code is body's result (99
// when body throws). The child ends with _exit: no test machinery runs there.
template <typename TBody> pid_t StartChild(TBody body) {
    const pid_t pid = fork();
    if (pid == 0) {
        int code = 99;
        try {
            code = body();
        } catch (const std::exception&) {
        }
        _exit(code);
    }
    return pid;
}

// The child's exit code, or -1 when it did not exit normally.
inline int WaitChild(pid_t pid) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A gate that children wait at until the parent opens it, so that they start
// at the same moment.
class TStartGate {
public:
    TStartGate() {
        if (pipe(FFds) != 0) {
            FFds[0] = FFds[1] = -1;
        }
    }
    ~TStartGate() {
        Open();
        if (FFds[0] >= 0) {
            close(FFds[0]);
        }
    }
    TStartGate(const TStartGate&) = delete;
    TStartGate& operator=(const TStartGate&) = delete;

    // In a child: blocks until the parent opens the gate.
    void Wait() {
        if (FFds[1] >= 0) {
            close(FFds[1]);
            FFds[1] = -1;
        }
        char c = 0;
        while (read(FFds[0], &c, 1) < 0) {
        }
    }
    // In the parent: lets every waiting child go.
    void Open() {
        if (FFds[1] >= 0) {
            close(FFds[1]);
            FFds[1] = -1;
        }
    }

private:
    int FFds[2];
};
