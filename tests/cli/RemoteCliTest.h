#pragma once

// Tests of pairwell-cli with folders on another machine: a real sshd of the
// test's own, and a configuration whose project "remote" the tests fill in.

#include "CliProgram.h"
#include "TempDir.h"
#include "TestSshd.h"
#include "config/Gb18030.h"
#include "config/IniFile.h"
#include "engine/project/ProjectRecord.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <memory>
#include <unistd.h>

class TRemoteCliTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/usr/sbin/sshd", X_OK) != 0) {
            GTEST_SKIP() << "needs openssh-server";
        }
        FSshd = std::make_unique<TTestSshd>(FDir);
        ASSERT_TRUE(FSshd->Running()) << "the test's sshd did not start";
    }
    void Set(const std::string& key, const std::string& value) {
        TIniFile(FDir / "pairwell.ini").WriteString(ProjectSection("remote"), key, value);
    }
    std::vector<std::string> Args(std::vector<std::string> args) const {
        args.insert(args.begin(), {"--config", FDir / "pairwell.ini"});
        return args;
    }
    TCliResult Run(std::vector<std::string> args) {
        return RunCliTo(FDir / "stdout", FDir / "stderr", Args(std::move(args)));
    }
    // The text of every day log.
    std::string DayLogs() const {
        std::string text;
        DIR* folder = opendir((FDir / "log").c_str());
        while (dirent* entry = folder != nullptr ? readdir(folder) : nullptr) {
            const std::string name = entry->d_name;
            if (name.size() > 4 && name.substr(name.size() - 4) == ".xml" && name != "list.xml") {
                text += Gb18030ToUtf8(ReadTextFile(FDir / ("log/" + name))).value_or("");
            }
        }
        if (folder != nullptr) {
            closedir(folder);
        }
        return text;
    }

    TTempDir FDir;
    std::unique_ptr<TTestSshd> FSshd;
};
