#include "engine/volume/SftpVolume.h"
#include "TempDir.h"
#include "TestSshd.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

namespace {

class SftpVolumeTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (access("/usr/sbin/sshd", X_OK) != 0) {
            GTEST_SKIP() << "needs openssh-server";
        }
        FSshd = std::make_unique<TTestSshd>(FDir);
        ASSERT_TRUE(FSshd->Running());
        MakeFolder(FDir / "remote");
        const std::string root = FSshd->Address(FDir / "remote");
        RememberSshCommand(root, FSshd->SshCommand());
        FVolume = std::dynamic_pointer_cast<TSftpVolume>(OpenVolume(root));
        ASSERT_TRUE(FVolume);
        ASSERT_EQ(FVolume->ReachProblem(), "");
    }
    // Writes text through the volume as name below the remote root.
    bool Write(const std::string& name, const std::string& text, bool replace, std::string& reason) {
        WriteTextFile(FDir / "source", text);
        int error = 0;
        bool notRegular = false;
        const auto source = OpenVolume(FDir.Path())->OpenFile("source", error, notRegular);
        std::string last;
        const TFolderRef folder = FVolume->OpenParent(name, TFolderWalk::Create, last, error);
        if (!source || !folder) {
            reason = "cannot open";
            return false;
        }
        TWriteOptions options;
        options.FReplace = replace;
        return FVolume->WriteFile(*folder, last, *source, options, reason);
    }
    TTempDir FDir;
    std::unique_ptr<TTestSshd> FSshd;
    std::shared_ptr<TSftpVolume> FVolume;
};

} // namespace

TEST_F(SftpVolumeTest, WritesReplaceWholeFilesWithAndWithoutPosixRename) {
    for (const bool posixRename : {true, false}) {
        SCOPED_TRACE(posixRename ? "posix-rename" : "without posix-rename");
        FVolume->SetPosixRenameAllowed(posixRename);
        std::string reason;
        ASSERT_TRUE(Write("dir/f.txt", "old", true, reason)) << reason;
        ASSERT_TRUE(Write("dir/f.txt", "new", true, reason)) << reason;
        EXPECT_EQ(ReadTextFile(FDir / "remote/dir/f.txt"), "new");
        // Without replacing, an entry there fails the write untouched.
        EXPECT_FALSE(Write("dir/f.txt", "other", false, reason));
        EXPECT_EQ(ReadTextFile(FDir / "remote/dir/f.txt"), "new");
        // A folder with contents at the name cannot be replaced: it stays, and no temporary is left.
        WriteTextFile(FDir / "remote/dir/full/inner", "keep");
        EXPECT_FALSE(Write("dir/full", "x", true, reason));
        EXPECT_EQ(ReadTextFile(FDir / "remote/dir/full/inner"), "keep");
        EXPECT_FALSE(HoldsCopyTemporaries(FDir / "remote/dir"));
        std::remove((FDir / "remote/dir/f.txt").c_str());
    }
}

TEST_F(SftpVolumeTest, ALinkWhereAFolderIsExpectedIsNeverWrittenThrough) {
    MakeFolder(FDir / "outside");
    ASSERT_EQ(symlink((FDir / "outside").c_str(), (FDir / "remote/sub").c_str()), 0);
    std::string last;
    int error = 0;
    EXPECT_FALSE(FVolume->OpenParent("sub/x", TFolderWalk::Create, last, error));
    EXPECT_EQ(error, ELOOP);
    const TFolderRef folder = FVolume->OpenParent("sub/x", TFolderWalk::CreateOverLinks, last, error);
    ASSERT_TRUE(folder) << error;
    struct stat st {};
    ASSERT_EQ(lstat((FDir / "remote/sub").c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_TRUE(PathExists(FDir / "outside"));

    // Links made and read as links, and listed as such.
    ASSERT_EQ(FVolume->MakeLink(*folder, "l", "../target", 1'600'000'000'000'000'000, false), 0);
    std::string text;
    ASSERT_EQ(FVolume->ReadLink("sub/l", text), 0);
    EXPECT_EQ(text, "../target");
    TFolderListing listing;
    ASSERT_EQ(FVolume->ListFolder(nullptr, "sub", true, true, listing), 0);
    ASSERT_EQ(listing.FEntries.size(), 1u);
    EXPECT_EQ(listing.FEntries[0].FKind, TListedKind::Link);
    EXPECT_EQ(listing.FEntries[0].FTarget, TListedKind::Missing);
}

TEST_F(SftpVolumeTest, FactsFromFolderListingsMatchLookUpsAndFollowChangesAndNewConnections) {
    WriteTextFile(FDir / "remote/a/f.txt", "hello");
    const timespec times[2] = {{1'600'000'000, 0}, {1'600'000'000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, (FDir / "remote/a/f.txt").c_str(), times, 0), 0);
    ASSERT_EQ(symlink("f.txt", (FDir / "remote/a/l").c_str()), 0);
    std::string last;
    int error = 0;
    const TFolderRef folder = FVolume->OpenParent("a/f.txt", TFolderWalk::Existing, last, error);
    ASSERT_TRUE(folder) << error;

    const TEntryFacts file = FVolume->Facts("a/f.txt", true);
    EXPECT_TRUE(file.FExists && file.FIsRegular);
    EXPECT_EQ(file.FSize, 5);
    EXPECT_EQ(file.FModifiedNs, 1'600'000'000'000'000'000);
    for (const char* absent : {"a/none", "b/c/d"}) {
        const TEntryFacts facts = FVolume->Facts(absent, true);
        EXPECT_FALSE(facts.FExists) << absent;
        EXPECT_EQ(facts.FError, 0) << absent;
    }
    EXPECT_TRUE(FVolume->Facts("a/l", false).FIsLink);
    EXPECT_TRUE(FVolume->Facts("a/l", true).FIsRegular);
    EXPECT_TRUE(FVolume->Facts("a/", true).FIsFolder);

    // What the volume itself writes or removes in a listed folder is seen at once.
    WriteTextFile(FDir / "source", "abc");
    bool notRegular = false;
    const auto source = OpenVolume(FDir.Path())->OpenFile("source", error, notRegular);
    ASSERT_TRUE(source);
    std::string reason;
    ASSERT_TRUE(FVolume->WriteFile(*folder, "new.txt", *source, TWriteOptions{}, reason)) << reason;
    EXPECT_EQ(FVolume->Facts("a/new.txt", true).FSize, 3);
    ASSERT_EQ(FVolume->RemoveFile(*folder, "f.txt"), 0);
    EXPECT_FALSE(FVolume->Facts("a/f.txt", true).FExists);
    ASSERT_EQ(FVolume->MakeFolder(*folder, "sub"), 0);
    EXPECT_TRUE(FVolume->Facts("a/sub", true).FIsFolder);

    // Listings read before the connection was made again are not trusted: what
    // changed meanwhile (here behind the volume's back) is seen.
    const std::string root = FSshd->Address(FDir / "remote");
    RememberSshCommand(root, FSshd->ProxiedSshCommand());
    const auto proxied = OpenVolume(root);
    EXPECT_FALSE(proxied->Facts("a/later.txt", true).FExists);
    WriteTextFile(FDir / "remote/a/later.txt", "later");
    FSshd->KillProxiedConnections();
    std::string text;
    EXPECT_EQ(proxied->ReadLink("a/l", text), 0); // on the new connection
    EXPECT_EQ(proxied->Facts("a/later.txt", true).FSize, 5);
}
