#include "sftp/SftpAddress.h"

#include <gtest/gtest.h>

#include <algorithm>

TEST(SftpAddress, AddressesAreReadAsWrittenAndUnsafeHostsOrUsersAreRefused) {
    TSftpAddress address;
    std::string reason;
    ASSERT_TRUE(ParseSftpAddress("sftp://backup@nas.local:2222/srv/photos/", address, reason)) << reason;
    EXPECT_EQ(address.FUser, "backup");
    EXPECT_EQ(address.FHost, "nas.local");
    EXPECT_EQ(address.FPort, "2222");
    EXPECT_EQ(address.FPath, "/srv/photos");
    // A path below the home folder; bytes taken as they are, no percent-decoding.
    ASSERT_TRUE(ParseSftpAddress("sftp://nas/~/my%20files/\xe7\x85\xa7", address, reason));
    EXPECT_EQ(address.FUser, "");
    EXPECT_EQ(address.FPort, "");
    EXPECT_EQ(address.FPath, "my%20files/\xe7\x85\xa7");
    ASSERT_TRUE(ParseSftpAddress("sftp://nas/~", address, reason));
    EXPECT_EQ(address.FPath, ".");
    ASSERT_TRUE(ParseSftpAddress("sftp://[::1]:22/x", address, reason));
    EXPECT_EQ(address.FHost, "::1");

    for (const char* refused :
         {"sftp://-oProxyCommand=touch%20x/tmp", "sftp://-oProxyCommand=x@host/tmp", "sftp://host name/tmp",
          "sftp://ho\tst/tmp", "sftp://us\x01r@host/tmp", "sftp://host:0/tmp", "sftp://host:99999/tmp",
          "sftp://host:x/tmp", "sftp://host", "sftp:///tmp", "/local/folder"}) {
        EXPECT_FALSE(ParseSftpAddress(refused, address, reason)) << refused;
    }
}

TEST(SftpAddress, TheSshCommandIsSplitOnBlanksAndOpensTheSubsystemWithoutPrompts) {
    EXPECT_EQ(SplitSshCommand(""), std::vector<std::string>{"ssh"});
    EXPECT_EQ(SplitSshCommand("  ssh  -i ~/.ssh/backup\t-F cfg "),
              (std::vector<std::string>{"ssh", "-i", "~/.ssh/backup", "-F", "cfg"}));
    TSftpAddress address;
    std::string reason;
    ASSERT_TRUE(ParseSftpAddress("sftp://u@h:2200/p", address, reason));
    const std::vector<std::string> line = SftpCommandLine("ssh -F /dev/null", address, true);
    const auto has = [&](const std::string& word) {
        return std::find(line.begin(), line.end(), word) != line.end();
    };
    EXPECT_EQ(line.front(), "ssh");
    EXPECT_TRUE(has("-oBatchMode=yes"));
    EXPECT_TRUE(has("-oServerAliveInterval=15")); // the configuration sets none
    ASSERT_GE(line.size(), 3u);
    EXPECT_EQ(std::vector<std::string>(line.end() - 3, line.end()),
              (std::vector<std::string>{"-s", "h", "sftp"}));
    EXPECT_FALSE(has("u@h"));
    EXPECT_TRUE(has("-l") && has("u") && has("-p") && has("2200"));
}
