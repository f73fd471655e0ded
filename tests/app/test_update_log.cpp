#include <gtest/gtest.h>

#include <clocale>
#include <ostream>
#include <string>

#include "app/update_log.h"
#include "tests/app/memory_log_file_system.h"

namespace {

std::tm MakeTime(int year, int month, int day, int hour, int minute, int second) {
    std::tm time{};
    time.tm_year = year - 1900;
    time.tm_mon = month - 1;
    time.tm_mday = day;
    time.tm_hour = hour;
    time.tm_min = minute;
    time.tm_sec = second;
    return time;
}

const std::string PATH = "/home/user/Documents/CVUpdate.log";
const std::string STAMP = "March 07, 2016  18:49:30";

struct UpdateLog : ::testing::Test {
    CMemoryLogFileSystem fileSystem;
    CUpdateLog log{fileSystem, [] { return MakeTime(2016, 3, 7, 18, 49, 30); }};

    const std::string& File() { return fileSystem.files[PATH]; }
};

TEST_F(UpdateLog, OneRun_WritesHeaderEventsAndExitLine) {
    log.OpenLog("Solenne/Brisa Update", "14186");
    log.LogLine("USB found Solenne(16), App. Ver. 2.05.00, Build 14000\n");
    log.LogLine("Successfully updated the Solenne.");
    log.CloseLog();

    EXPECT_EQ(File(), STAMP + " - Solenne/Brisa Update Server: Build: 14186\n" +                    //
                          STAMP + " - USB found Solenne(16), App. Ver. 2.05.00, Build 14000\n\n" +  //
                          STAMP + " - Successfully updated the Solenne.\n" +                        //
                          STAMP + " - Exiting\n");
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(fileSystem.closes, 1);
}

TEST_F(UpdateLog, EventWithLineBreaks_IsWrittenVerbatim_ContinuationsWithoutTimestamp) {
    log.OpenLog("T", "1");
    log.LogLine("Unable to open a connection with your steno machine.\r\nPlease make sure\n");
    EXPECT_NE(File().find(STAMP +
                          " - Unable to open a connection with your steno machine.\r\nPlease make sure\n\n"),
              std::string::npos);
}

TEST_F(UpdateLog, EveryLineIsFlushedAsItIsWritten) {
    log.OpenLog("T", "1");
    EXPECT_EQ(fileSystem.unflushed, "");
    log.LogLine("event");
    EXPECT_EQ(fileSystem.unflushed, "");
}

TEST_F(UpdateLog, ExistingContents_StayInPlace_NewLinesGoAtTheEnd) {
    fileSystem.files[PATH] = "earlier start\n";
    log.OpenLog("T", "1");
    log.CloseLog();
    EXPECT_EQ(File(), "earlier start\n" + STAMP + " - T Server: Build: 1\n" + STAMP + " - Exiting\n");
}

TEST_F(UpdateLog, OpenWhileOpen_DoesNothing) {
    log.OpenLog("T", "1");
    log.OpenLog("T", "1");
    EXPECT_EQ(fileSystem.opens, 1);
    EXPECT_EQ(File(), STAMP + " - T Server: Build: 1\n");
}

TEST_F(UpdateLog, NoDocumentsFolder_StaysClosed_LinesAndCloseDoNothing) {
    fileSystem.documents.reset();
    log.OpenLog("T", "1");
    log.LogLine("event");
    log.CloseLog();
    EXPECT_FALSE(log.IsOpen());
    EXPECT_TRUE(fileSystem.files.empty());
}

TEST_F(UpdateLog, FileCannotBeOpened_StaysClosed_NextRunTriesAgain) {
    fileSystem.openFails = true;
    log.OpenLog("T", "1");
    log.LogLine("event");
    log.CloseLog();
    EXPECT_FALSE(log.IsOpen());
    EXPECT_EQ(File(), "");

    fileSystem.openFails = false;
    log.OpenLog("T", "1");
    EXPECT_TRUE(log.IsOpen());
}

TEST_F(UpdateLog, DestroyedWhileOpen_ClosesWithoutExitLine) {
    {
        CUpdateLog scoped(fileSystem, [] { return MakeTime(2016, 3, 7, 18, 49, 30); });
        scoped.OpenLog("T", "1");
    }
    EXPECT_EQ(fileSystem.closes, 1);
    EXPECT_EQ(File(), STAMP + " - T Server: Build: 1\n");
}

struct SFailureCase {
    const char* name;
    CMemoryLogFileSystem::SFailures failures;
};

void PrintTo(const SFailureCase& c, std::ostream* out) {
    *out << c.name;
}

class UpdateLogFailure : public UpdateLog, public ::testing::WithParamInterface<SFailureCase> {};

TEST_P(UpdateLogFailure, FailureWhileOpening_IsRaised_AndTheLogStaysOpen) {
    fileSystem.failures = GetParam().failures;
    EXPECT_THROW(log.OpenLog("T", "1"), CLogFileError);
    EXPECT_TRUE(log.IsOpen());

    // The next run neither reopens the file nor writes a header: it goes on writing
    // through the handle that is still open.
    fileSystem.failures = {};
    log.OpenLog("T", "1");
    log.LogLine("next run");
    EXPECT_EQ(fileSystem.opens, 1);
    EXPECT_EQ(File().find("Server: Build:"), File().rfind("Server: Build:"));
    EXPECT_NE(File().find(STAMP + " - next run\n"), std::string::npos);
}

INSTANTIATE_TEST_SUITE_P(Operations, UpdateLogFailure,
                         ::testing::Values(SFailureCase{"Seek", {true, false, false}},
                                           SFailureCase{"Write", {false, true, false}},
                                           SFailureCase{"Flush", {false, false, true}}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(UpdateLog, FailureOfAnEvent_IsRaised_AndTheLogStaysOpen) {
    for (const CMemoryLogFileSystem::SFailures failures :
         {CMemoryLogFileSystem::SFailures{false, true, false},
          CMemoryLogFileSystem::SFailures{false, false, true}}) {
        CMemoryLogFileSystem files;
        CUpdateLog failing(files);
        failing.OpenLog("T", "1");
        files.failures = failures;
        EXPECT_THROW(failing.LogLine("event"), CLogFileError);
        EXPECT_TRUE(failing.IsOpen());
    }
}

TEST_F(UpdateLog, FailedExitLine_IsRaised) {
    log.OpenLog("T", "1");
    fileSystem.failures.write = true;
    EXPECT_THROW(log.CloseLog(), CLogFileError);
}

struct STimestampCase {
    const char* name;
    std::tm time;
    const char* expected;
};

void PrintTo(const STimestampCase& c, std::ostream* out) {
    *out << c.name;
}

class LogTimestamp : public ::testing::TestWithParam<STimestampCase> {};

TEST_P(LogTimestamp, FormatsEnglishMonthTwoDigitFieldsAndTwoBlanks) {
    EXPECT_EQ(FormatLogTimestamp(GetParam().time), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    MonthTable, LogTimestamp,
    ::testing::Values(
        STimestampCase{"March", MakeTime(2016, 3, 7, 18, 49, 30), "March 07, 2016  18:49:30"},
        STimestampCase{"JanuaryAtMidnight", MakeTime(2024, 1, 1, 0, 0, 0), "January 01, 2024  00:00:00"},
        STimestampCase{"FebruaryWithOneDigitFields", MakeTime(2023, 2, 28, 9, 5, 7),
                       "February 28, 2023  09:05:07"},
        STimestampCase{"April", MakeTime(2023, 4, 10, 1, 2, 3), "April 10, 2023  01:02:03"},
        STimestampCase{"May", MakeTime(2023, 5, 11, 1, 2, 3), "May 11, 2023  01:02:03"},
        STimestampCase{"June", MakeTime(2023, 6, 12, 1, 2, 3), "June 12, 2023  01:02:03"},
        STimestampCase{"July", MakeTime(2023, 7, 13, 1, 2, 3), "July 13, 2023  01:02:03"},
        STimestampCase{"August", MakeTime(2023, 8, 14, 1, 2, 3), "August 14, 2023  01:02:03"},
        STimestampCase{"September", MakeTime(2023, 9, 15, 1, 2, 3), "September 15, 2023  01:02:03"},
        STimestampCase{"October", MakeTime(2023, 10, 16, 1, 2, 3), "October 16, 2023  01:02:03"},
        STimestampCase{"November", MakeTime(2023, 11, 17, 1, 2, 3), "November 17, 2023  01:02:03"},
        STimestampCase{"DecemberLastSecond", MakeTime(2023, 12, 31, 23, 59, 59),
                       "December 31, 2023  23:59:59"},
        // No valid month: an empty timestamp rather than a read past the table.
        STimestampCase{"MonthThirteenGivesNoTimestamp", MakeTime(2023, 13, 1, 0, 0, 0), ""},
        STimestampCase{"MonthZeroGivesNoTimestamp", MakeTime(2023, 0, 1, 0, 0, 0), ""}),
    [](const ::testing::TestParamInfo<STimestampCase>& param) { return param.param.name; });

// Restores the process locale after a test that changes it.
struct LocaleGuard {
    std::string saved = std::setlocale(LC_ALL, nullptr);
    ~LocaleGuard() { std::setlocale(LC_ALL, saved.c_str()); }
};

TEST(LogTimestampLocale, NonEnglishLocale_MonthNamesStayEnglish) {
    LocaleGuard guard;
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "fr_FR.utf8", "es_ES.UTF-8"}) {
        if (std::setlocale(LC_ALL, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) {
        GTEST_SKIP() << "no non-English locale installed; the month table cases cover the names";
    }
    char localised[64];
    const std::tm time = MakeTime(2016, 3, 7, 18, 49, 30);
    std::strftime(localised, sizeof(localised), "%B", &time);
    ASSERT_STRNE(localised, "March") << chosen << " should name the month in its own language";
    EXPECT_EQ(FormatLogTimestamp(time), "March 07, 2016  18:49:30");
}

}  // namespace
