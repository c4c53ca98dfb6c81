// Which entries an index holds and in which order: only what can be copied,
// in byte order of the names, with every entry it cannot take reported.

#include "engine/index/FolderIndex.h"

#include "FaultyVolume.h"
#include "TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

TStringList IndexOf(const std::string& root, bool includeFolders, bool targetPass,
                    std::vector<TItemFailure>* errors = nullptr) {
    TStringList index;
    EXPECT_TRUE(BuildFolderIndex(root, "", "", "", "", index, includeFolders, targetPass, true, {}, errors));
    return index;
}

TEST(FolderIndexContents, EachFolderIsTakenInByteOrderOfItsNames) {
    TTempDir dir;
    // Enough names that a hashed listing order is practically never sorted.
    TStringList names;
    for (int i = 0; i < 40; ++i) {
        names.push_back("f" + std::to_string((i * 7919) % 1000) + ".txt");
    }
    names.insert(names.end(), {"B.txt", "a.txt", "_x", "\xc3\xa9t\xc3\xa9", "Z"});
    for (const std::string& name : names) {
        WriteTextFile(dir / ("sub/" + name), "x");
    }
    WriteTextFile(dir / "a.txt", "x");
    WriteTextFile(dir / "z.txt", "x");
    std::sort(names.begin(), names.end()); // std::string compares bytes as unsigned

    TStringList expected = {dir / "a.txt", dir / "sub/"};
    for (const std::string& name : names) {
        expected.push_back(dir / ("sub/" + name));
    }
    expected.push_back(dir / "z.txt");
    EXPECT_EQ(IndexOf(dir.Path(), true, false), expected);
}

TEST(FolderIndexContents, PipesSocketsAndLinksToThemAreNotListed) {
    TTempDir dir;
    WriteTextFile(dir / "file.txt", "x");
    ASSERT_EQ(mkfifo((dir / "pipe").c_str(), 0644), 0);
    const int sock = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string socketPath = dir / "socket";
    ASSERT_LT(socketPath.size(), sizeof address.sun_path);
    socketPath.copy(address.sun_path, socketPath.size());
    ASSERT_EQ(bind(sock, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(symlink("pipe", (dir / "link-to-pipe").c_str()), 0);
    ASSERT_EQ(symlink("file.txt", (dir / "link-to-file").c_str()), 0);
    std::vector<TItemFailure> errors;
    EXPECT_EQ(IndexOf(dir.Path(), false, false, &errors),
              (TStringList{dir / "file.txt", dir / "link-to-file"}));
    EXPECT_TRUE(errors.empty());
    close(sock);
}

TEST(FolderIndexContents, TemporaryFilesOfACopyAreNeverListed) {
    TTempDir dir;
    WriteTextFile(dir / ".pairwell-Ab3xYz", "partial copy");
    WriteTextFile(dir / "sub/.pairwell-000000", "partial copy");
    WriteTextFile(dir / ".pairwell-notmine.txt", "a file of the user's");
    WriteTextFile(dir / ".pairwell-abc", "a file of the user's");
    for (const bool targetPass : {false, true}) {
        EXPECT_EQ(IndexOf(dir.Path(), false, targetPass),
                  (TStringList{dir / ".pairwell-abc", dir / ".pairwell-notmine.txt"}));
    }
}

// A tree deeper than the longest path the system takes, made step by step.
void MakeTooDeepTree(const std::string& root, const std::string& fileName) {
    const std::string name(200, 'd');
    int fd = open(root.c_str(), O_RDONLY | O_DIRECTORY);
    for (int level = 0; level < 22; ++level) {
        ASSERT_EQ(mkdirat(fd, name.c_str(), 0755), 0);
        const int child = openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY);
        close(fd);
        fd = child;
        ASSERT_GE(fd, 0);
    }
    const int file = openat(fd, fileName.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    close(file);
    close(fd);
}

TEST(FolderIndexContents, APathTooLongForTheSystemIsReportedNotDropped) {
    TTempDir dir;
    MakeTooDeepTree(dir.Path(), "deep.txt");
    WriteTextFile(dir / "short.txt", "x");
    std::vector<TItemFailure> errors;
    const TStringList index = IndexOf(dir.Path(), false, false, &errors);
    EXPECT_EQ(index.back(), dir / "short.txt");
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_GT(errors[0].FPath.size() + 1, std::size_t{PATH_MAX});
    EXPECT_EQ(errors[0].FPath.substr(0, dir.Path().size()), dir.Path());
    EXPECT_EQ(errors[0].FReason, "File name too long");
    for (const std::string& entry : index) {
        EXPECT_LT(entry.size(), std::size_t{PATH_MAX});
    }
}

TEST(FolderIndexContents, AFolderReplacedByALinkAfterItsParentWasListedIsNotEntered) {
    TTempDir dir;
    WriteTextFile(dir / "tree/sub/inside.txt", "x");
    WriteTextFile(dir / "outside/secret.txt", "x");
    // Between the listing of tree/ and the opening of tree/sub/, sub becomes a link.
    TFaultyVolume tree(dir / "tree");
    tree.FListingFault = [&](const std::string& folder) {
        if (folder == dir / "tree/sub/") {
            EXPECT_EQ(rename((dir / "tree/sub").c_str(), (dir / "moved").c_str()), 0);
            EXPECT_EQ(symlink((dir / "outside").c_str(), (dir / "tree/sub").c_str()), 0);
        }
        return 0;
    };
    TStringList index;
    EXPECT_TRUE(BuildFolderIndex(tree, "", "", "", "", index, false, false, true));
    EXPECT_TRUE(index.empty()) << index.front();
}

TEST(FolderIndexContents, AStopIsReportedByTheResult) {
    TTempDir dir;
    WriteTextFile(dir / "a/b.txt", "x");
    TStringList index;
    int calls = 0;
    EXPECT_FALSE(BuildFolderIndex(dir.Path(), "", "", "", "", index, false, false, true,
                                  [&] { return ++calls == 2; }));
    EXPECT_TRUE(
        BuildFolderIndex(dir.Path(), "", "", "", "", index, false, false, true, [] { return false; }));
}

} // namespace
