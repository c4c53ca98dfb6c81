#include "engine/volume/SftpCopyConnections.h"

#include <gtest/gtest.h>

#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace {

const char* const ServerProgram = "/usr/lib/openssh/sftp-server";

// The connection each of count new threads is given.
std::vector<std::shared_ptr<TSftpConnection>> GivenTo(TSftpCopyConnections& copies, int count) {
    std::mutex mutex;
    std::vector<std::shared_ptr<TSftpConnection>> given;
    std::vector<std::thread> threads;
    for (int i = 0; i < count; ++i) {
        threads.emplace_back([&] {
            auto connection = copies.ForThisThread();
            const std::lock_guard lock(mutex);
            given.push_back(std::move(connection));
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    return given;
}

} // namespace

TEST(SftpCopyConnections, CopiesSpreadOverAFewConnectionsAndFallBackToTheFirst) {
    auto first = std::make_shared<TSftpConnection>(std::vector<std::string>{ServerProgram});
    std::string reason;
    ASSERT_TRUE(first->Client(reason)) << reason;

    // Threads spread evenly over the first and the extra connections, each working.
    TSftpCopyConnections spread(first, {ServerProgram});
    const auto given = GivenTo(spread, 8);
    const std::set<std::shared_ptr<TSftpConnection>> distinct(given.begin(), given.end());
    EXPECT_EQ(distinct.size(), TSftpCopyConnections::Most);
    EXPECT_EQ(distinct.count(first), 1u);
    for (const auto& connection : distinct) {
        EXPECT_TRUE(connection->Client(reason)) << reason;
    }
    EXPECT_EQ(spread.LostReason(), "");

    // Extra connections the server refuses are not tried again: their copies use the first.
    TSftpCopyConnections refused(first, {"sh", "-c", "echo 'Permission denied (publickey).' >&2; exit 255"});
    for (const auto& connection : GivenTo(refused, 8)) {
        EXPECT_EQ(connection, first);
    }
    EXPECT_EQ(refused.LostReason(), "");

    // One connection where a person may be asked.
    TSftpCopyConnections single(first, {ServerProgram}, 1);
    for (const auto& connection : GivenTo(single, 4)) {
        EXPECT_EQ(connection, first);
    }
}
