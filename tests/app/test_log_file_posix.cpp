#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fstream>

#include "app/log_file.h"
#include "tests/app/temp_home.h"

namespace {

TEST(PosixLogFileSystem, DocumentsFolder_IsHomeDocuments) {
    CTempHome home;
    EXPECT_EQ(SystemLogFileSystem().DocumentsFolder(), home.Documents().string());
    EXPECT_EQ(SystemLogFileSystem().JoinPath("/a/b", "CVUpdate.log"), "/a/b/CVUpdate.log");
}

TEST(PosixLogFileSystem, NoDocumentsFolder_NothingAndNotCreated) {
    CTempHome home(false);
    EXPECT_FALSE(SystemLogFileSystem().DocumentsFolder().has_value());
    EXPECT_FALSE(std::filesystem::exists(home.Documents()));
}

TEST(PosixLogFileSystem, ExistingFile_KeepsItsContents_WritesAfterSeekGoAtTheEnd) {
    CTempHome home;
    std::ofstream(home.LogPath()) << "earlier\n";
    {
        auto file = SystemLogFileSystem().OpenExclusive(home.LogPath().string());
        ASSERT_NE(file, nullptr);
        file->SeekToEnd();
        file->Write("later\n", 6);
        file->Flush();
    }
    EXPECT_EQ(ReadWholeFile(home.LogPath()), "earlier\nlater\n");
}

TEST(PosixLogFileSystem, FileLockedByAnotherProgram_CannotBeOpened_UntilReleased) {
    CTempHome home;
    const int other = open(home.LogPath().c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(other, 0);
    ASSERT_EQ(flock(other, LOCK_EX), 0);
    EXPECT_EQ(SystemLogFileSystem().OpenExclusive(home.LogPath().string()), nullptr);
    close(other);
    EXPECT_NE(SystemLogFileSystem().OpenExclusive(home.LogPath().string()), nullptr);
}

TEST(PosixLogFileSystem, OpenFile_KeepsOthersOut) {
    CTempHome home;
    auto file = SystemLogFileSystem().OpenExclusive(home.LogPath().string());
    ASSERT_NE(file, nullptr);
    const int other = open(home.LogPath().c_str(), O_WRONLY);
    ASSERT_GE(other, 0);
    EXPECT_NE(flock(other, LOCK_EX | LOCK_NB), 0);
    close(other);
}

TEST(PosixLogFileSystem, UnopenablePath_Null) {
    CTempHome home;
    EXPECT_EQ(SystemLogFileSystem().OpenExclusive((home.Documents() / "missing" / "CVUpdate.log").string()),
              nullptr);
}

TEST(PosixLogFileSystem, WriteThatCannotComplete_Raises) {
    // /dev/full takes the open and refuses every write with ENOSPC.
    if (access("/dev/full", W_OK) != 0) {
        GTEST_SKIP() << "/dev/full not available";
    }
    auto file = SystemLogFileSystem().OpenExclusive("/dev/full");
    ASSERT_NE(file, nullptr);
    EXPECT_THROW(file->Write("x\n", 2), CLogFileError);
}

}  // namespace
