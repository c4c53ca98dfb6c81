#pragma once

// Permissions do not bind the super-user, so tests about folders and files
// that cannot be read run the code under test in a forked child that has
// dropped to the user "nobody". The child's answer comes back as text.

#include <gtest/gtest.h>

#include <functional>
#include <grp.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

// Whether a child can run where permissions bind: not root, or root with "nobody" present.
inline bool PermissionsCanBind() {
    return geteuid() != 0 || getpwnam("nobody") != nullptr;
}

// Lets every user into the folder (the temporary folders are private).
inline void OpenToEveryone(const std::string& folder) {
    chmod(folder.c_str(), 0755);
}

// Runs body in a forked child without privileges and returns what it returned;
// an exception in the child fails the test with its text.
inline std::string RunUnprivileged(const std::function<std::string()>& body) {
    int fds[2];
    if (pipe(fds) != 0) {
        ADD_FAILURE() << "pipe failed";
        return {};
    }
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        std::string answer;
        int status = 0;
        try {
            if (geteuid() == 0) {
                const passwd* nobody = getpwnam("nobody");
                if (nobody == nullptr || setgroups(0, nullptr) != 0 || setgid(nobody->pw_gid) != 0 ||
                    setuid(nobody->pw_uid) != 0) {
                    throw std::runtime_error("cannot become nobody");
                }
            }
            answer = body();
        } catch (const std::exception& error) {
            answer = error.what();
            status = 1;
        }
        for (std::size_t done = 0; done < answer.size();) {
            const ssize_t n = write(fds[1], answer.data() + done, answer.size() - done);
            if (n <= 0) {
                break;
            }
            done += static_cast<std::size_t>(n);
        }
        _exit(status);
    }
    close(fds[1]);
    std::string answer;
    char buffer[4096];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) {
        answer.append(buffer, static_cast<std::size_t>(n));
    }
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "child failed: " << answer;
    return answer;
}
