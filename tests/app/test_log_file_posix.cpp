#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

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

TEST(PosixLogFileSystem, NewFile_IsForItsOwnerOnly) {
    CTempHome home;
    ASSERT_NE(SystemLogFileSystem().OpenExclusive(home.LogPath().string()), nullptr);
    struct stat info {};
    ASSERT_EQ(stat(home.LogPath().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

// Lowers the file-size limit for as long as it lives; a write past it fails with EFBIG
// instead of ending the process.
class CFileSizeLimit {
public:
    explicit CFileSizeLimit(rlim_t bytes) {
        getrlimit(RLIMIT_FSIZE, &m_previous);
        m_previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit lowered = m_previous;
        lowered.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &lowered);
    }
    ~CFileSizeLimit() {
        setrlimit(RLIMIT_FSIZE, &m_previous);
        std::signal(SIGXFSZ, m_previousHandler);
    }
    CFileSizeLimit(const CFileSizeLimit&) = delete;
    CFileSizeLimit& operator=(const CFileSizeLimit&) = delete;

private:
    rlimit m_previous{};
    void (*m_previousHandler)(int);
};

TEST(PosixLogFileSystem, WriteThatCannotComplete_Raises) {
    CTempHome home;
    auto file = SystemLogFileSystem().OpenExclusive(home.LogPath().string());
    ASSERT_NE(file, nullptr);
    // One byte goes, the next is refused: a write that takes only part of the bytes.
    const CFileSizeLimit limit(1);
    EXPECT_THROW(file->Write("x\n", 2), CLogFileError);
}

// Something planted at the log's path by someone else. The open must give no log, as
// for a file another program holds, and leave the file elsewhere as it was.
struct SPlantedLog {
    const char* name;
    // Plants at `log`, with `elsewhere` a file outside Documents holding "precious\n";
    // descriptors put in `held` stay open for the test. False when this machine cannot
    // plant it (the test is skipped).
    std::function<bool(const std::filesystem::path& log, const std::filesystem::path& elsewhere,
                       std::vector<int>& held)>
        plant;
};

// Keeps the test names ctest lists free of addresses.
void PrintTo(const SPlantedLog& planted, std::ostream* out) {
    *out << planted.name;
}

class PlantedLog : public ::testing::TestWithParam<SPlantedLog> {
protected:
    void TearDown() override {
        for (const int fd : m_held) {
            close(fd);
        }
    }
    std::vector<int> m_held;
};

TEST_P(PlantedLog, GivesNoLog_AndLeavesWhatItNamesAlone) {
    CTempHome home;
    const std::filesystem::path elsewhere = home.Home() / "elsewhere";
    std::ofstream(elsewhere) << "precious\n";
    if (!GetParam().plant(home.LogPath(), elsewhere, m_held)) {
        GTEST_SKIP() << "cannot plant this here";
    }
    const bool elsewhereExisted = std::filesystem::exists(elsewhere);

    EXPECT_EQ(SystemLogFileSystem().OpenExclusive(home.LogPath().string()), nullptr);
    EXPECT_EQ(std::filesystem::exists(elsewhere), elsewhereExisted);
    if (elsewhereExisted) {
        EXPECT_EQ(ReadWholeFile(elsewhere), "precious\n");
    }
}

const SPlantedLog PLANTED_LOGS[] = {
    {"SymlinkToAFileElsewhere",
     [](const std::filesystem::path& log, const std::filesystem::path& elsewhere, std::vector<int>&) {
         std::filesystem::create_symlink(elsewhere, log);
         return true;
     }},
    {"SymlinkToNothingYet",
     [](const std::filesystem::path& log, const std::filesystem::path& elsewhere, std::vector<int>&) {
         std::filesystem::remove(elsewhere);
         std::filesystem::create_symlink(elsewhere, log);
         return true;
     }},
    {"HardLinkToAFileElsewhere",
     [](const std::filesystem::path& log, const std::filesystem::path& elsewhere, std::vector<int>&) {
         std::filesystem::create_hard_link(elsewhere, log);
         return true;
     }},
    {"FifoWithoutReader", [](const std::filesystem::path& log, const std::filesystem::path&,
                             std::vector<int>&) { return mkfifo(log.c_str(), 0600) == 0; }},
    {"FifoWithReader",  // an open for writing succeeds: the reader is there
     [](const std::filesystem::path& log, const std::filesystem::path&, std::vector<int>& held) {
         if (mkfifo(log.c_str(), 0600) != 0) {
             return false;
         }
         held.push_back(open(log.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
         return held.back() >= 0;
     }},
    {"FileOfAnotherUser",
     [](const std::filesystem::path& log, const std::filesystem::path&, std::vector<int>&) {
         std::ofstream(log) << "theirs\n";
         constexpr uid_t NOBODY = 65534;
         return chown(log.c_str(), NOBODY, NOBODY) == 0;
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, PlantedLog, ::testing::ValuesIn(PLANTED_LOGS),
                         [](const ::testing::TestParamInfo<SPlantedLog>& planted) {
                             return planted.param.name;
                         });

}  // namespace
