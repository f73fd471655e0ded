#include <gtest/gtest.h>

#include <ostream>

#include "tests/update/job_fixture.h"
#include "usb/usb_codes.h"

namespace {

const char* const OPEN_FAILURE =
    "Unable to open a connection with your steno machine.\n"
    "Please make sure the writer is turned On and the USB cable is firmly connected";

using AcceptanceRun = JobFixture;

TEST_F(AcceptanceRun, NoWriter_LogsAndShowsTheOpenFailure_SendsNothing) {
    CSimTransport absent(nullptr);
    SJobEnvironment environment{absent, clock, &host, resources, SystemAllocator()};
    CUpdateJob job(host, environment);
    job.Run();

    EXPECT_EQ((std::vector<SCall>{Call("OpenLog"), Log(OPEN_FAILURE), ErrorBox(OPEN_FAILURE),
                                  Call("RestoreStatus"), Call("CloseLog")}),
              host.calls);
    EXPECT_EQ(0u, absent.Count(CSimTransport::ECall::Write));
    EXPECT_TRUE(clock.pauses.empty());
}

TEST_F(AcceptanceRun, SilentIdentify_LogsNotRealThenCode111_AndClosesAfterAnEmptyText) {
    writer.AddFault({CMD_IDENTIFY, 1, EFaultKind::NoReply, 0});
    Run();

    const char* error = "Unable to communicate with your steno machine.  Error Code 111";
    EXPECT_EQ((std::vector<SCall>{Call("OpenLog"), Log("USB found Not Real(0), App. Ver. 0.00 "), Log(error),
                                  ErrorBox(error), Call("RestoreStatus"), Call("CloseLog")}),
              host.calls);
    // The exit path: an empty text to the display, then the pauses around Close.
    ASSERT_EQ(2u, writer.Transcript().size());
    EXPECT_EQ(CMD_SHOW_TEXT, writer.Transcript()[1].header.command);
    EXPECT_EQ(0u, writer.Transcript()[1].header.length);
    EXPECT_EQ(1u, writer.DisplayClears());
    EXPECT_EQ((std::vector<std::uint32_t>{100, 2000, 100}), clock.pauses);
    EXPECT_FALSE(transport.IsOpen());
    EXPECT_EQ(1u, transport.Count(CSimTransport::ECall::Close));
}

struct SRefusalCase {
    const char* title;
    std::uint32_t reportedType, version, bootMode;
    const char* identificationLine;
    const char* name;
};

void PrintTo(const SRefusalCase& c, std::ostream* out) {
    *out << c.title;
}

class Refusal : public JobFixture, public ::testing::WithParamInterface<SRefusalCase> {};

TEST_P(Refusal, UnservedType_OneOldLayoutLineThenTheRefusal) {
    const SRefusalCase& c = GetParam();
    writer.Identity() = {c.reportedType, c.version, c.bootMode, 0, 0, 0, 0, 0};
    Run();

    const std::string refusal = std::string("Improper Machine Type.  This update is not for ") + c.name + "!";
    EXPECT_EQ((std::vector<SCall>{Call("OpenLog"), Log(c.identificationLine), Log(refusal), ErrorBox(refusal),
                                  Call("RestoreStatus"), Call("CloseLog")}),
              host.calls);
    EXPECT_TRUE(writer.RequestsOf(CMD_BOOT_VERSIONS).empty());
    ASSERT_EQ(2u, writer.Transcript().size());
    EXPECT_EQ(CMD_SHOW_TEXT, writer.Transcript()[1].header.command);
}

INSTANTIATE_TEST_SUITE_P(
    Table, Refusal,
    ::testing::Values(SRefusalCase{"Type5Application", 5, 0x0105, 0,
                                   "USB found Marlow halcyon(5), App. Ver. 1.05 ", "Marlow halcyon"},
                      SRefusalCase{"Type5BootMode", 5, 0x0105, 1,
                                   "USB found Marlow halcyon(5), Boot Ver. 1.05 ", "Marlow halcyon"},
                      // The old layout prints the whole upper part as the major number.
                      SRefusalCase{"UpperPartUnmasked", 1, 0x12345, 0,
                                   "USB found Pavo Tessel(1), App. Ver. 123.45 ", "Pavo Tessel"},
                      // A type-3 boot loader answering for an A3 is named as one.
                      SRefusalCase{"Type3BootLoaderOfAnA3", 3, 0x51, 1,
                                   "USB found Pavo Tessel A3(4), Boot Ver. 0.51 ", "Pavo Tessel A3"},
                      SRefusalCase{"TypeBeyondTheCatalogue", 25, 0x0200, 0,
                                   "USB found Unknown(18), App. Ver. 2.00 ", "Unknown"},
                      SRefusalCase{"NotReal", 0, 0, 0, "USB found Not Real(0), App. Ver. 0.00 ", "Not Real"}),
    [](const ::testing::TestParamInfo<SRefusalCase>& param) { return param.param.title; });

struct SIdentificationCase {
    const char* title;
    SWriterIdentity identity;
    bool bootVersionsFail;
    std::vector<std::string> lines;
    const char* question;  // null: no question
};

void PrintTo(const SIdentificationCase& c, std::ostream* out) {
    *out << c.title;
}

class Identification : public JobFixture, public ::testing::WithParamInterface<SIdentificationCase> {};

const char* const QUESTION_2_07 =
    "You are about to install version 2.06.00, Build 14186\n"
    "on a Machine that is running version 2.07.00, Build 14186.\n"
    "              Are you sure you want to do this?";

TEST_P(Identification, LogsTheLinesAndAsksOnlyBeforeADowngrade) {
    const SIdentificationCase& c = GetParam();
    writer.Identity() = c.identity;
    if (c.bootVersionsFail) {
        writer.AddFault({CMD_BOOT_VERSIONS, 1, EFaultKind::WrongCommand, CMD_IDENTIFY});
    }
    host.answers = {false};
    Run();

    const std::vector<std::string> logged = host.LogLines();
    const std::size_t identificationLines = std::min(c.lines.size(), logged.size());
    EXPECT_EQ(c.lines, std::vector<std::string>(logged.begin(), logged.begin() + static_cast<std::ptrdiff_t>(
                                                                                     identificationLines)));
    const auto questions = host.CallsOf("AskYesNo");
    if (c.question == nullptr) {
        EXPECT_TRUE(questions.empty());
    } else {
        ASSERT_EQ(1u, questions.size());
        EXPECT_EQ(Question(c.question), questions[0]);
        EXPECT_EQ(c.question, logged.at(c.lines.size()));  // logged before it is asked
    }
    EXPECT_EQ(c.identity.bootMode != 0 ? 0u : 1u, writer.RequestsOf(CMD_BOOT_VERSIONS).size());
}

INSTANTIATE_TEST_SUITE_P(
    Table, Identification,
    ::testing::Values(SIdentificationCase{"SameVersion",
                                          {16, 0x02060000, 0, 14186, 0x01080000, 8462, 0, 0},
                                          false,
                                          {"USB found Solenne(16), App. Ver. 2.06.00, Build 14186\n",
                                           "USB found Solenne(16), Main Boot Ver. 1.08.00, Build 8462\n"},
                                          nullptr},
                      SIdentificationCase{
                          "BetaByteIsCleared",
                          {16, 0x02060001, 0, 14186, 0x01080002, 8462, 0x01090000, 9000},
                          false,
                          {"USB found Solenne(16), App. Ver. 2.06.00 Beta 1, Build 14186\n",
                           "USB found Solenne(16), Main Boot Ver. 1.08.00 Beta 2, Build 8462\n",
                           "USB found Solenne(16), Secondary Boot Ver. 1.09.00, Build 9000\n"},
                          nullptr},
                      SIdentificationCase{"NewerVersion",
                                          {16, 0x02070000, 0, 14186, 0, 0, 0, 0},
                                          false,
                                          {"USB found Solenne(16), App. Ver. 2.07.00, Build 14186\n"},
                                          QUESTION_2_07},
                      SIdentificationCase{"NewerBuild",
                                          {17, 0x02060000, 0, 14187, 0x01080000, 8462, 0, 0},
                                          false,
                                          {"USB found Brisa(17), App. Ver. 2.06.00, Build 14187\n",
                                           "USB found Brisa(17), Main Boot Ver. 1.08.00, Build 8462\n"},
                                          "You are about to install version 2.06.00, Build 14186\n"
                                          "on a Machine that is running version 2.06.00, Build 14187.\n"
                                          "              Are you sure you want to do this?"},
                      SIdentificationCase{"BootVersionsFail",
                                          {16, 0x02050000, 0, 14000, 0x01080000, 8462, 0, 0},
                                          true,
                                          {"USB found Solenne(16), App. Ver. 2.05.00, Build 14000\n"},
                                          nullptr},
                      // In boot mode the line shows the row's boot-mode version and build 0, and the
                      // question compares the boot loader's own version.
                      SIdentificationCase{"BootMode",
                                          {17, 0x01080000, 1, 8462, 0, 0, 0, 0},
                                          false,
                                          {"USB found Brisa(17), Boot. Ver. 0.00.00, Build 0\n"},
                                          nullptr},
                      SIdentificationCase{"BootModeNewerThanTheApplication",
                                          {16, 0x03000000, 1, 8462, 0, 0, 0, 0},
                                          false,
                                          {"USB found Solenne(16), Boot. Ver. 0.00.00, Build 0\n"},
                                          "You are about to install version 2.06.00, Build 14186\n"
                                          "on a Machine that is running version 3.00.00, Build 0.\n"
                                          "              Are you sure you want to do this?"}),
    [](const ::testing::TestParamInfo<SIdentificationCase>& param) { return param.param.title; });

TEST_F(AcceptanceRun, DowngradeAnsweredNo_EndsWithNothingSentButTheEmptyText) {
    writer.Identity() = {16, 0x02070000, 0, 14186, 0x01080000, 8462, 0, 0};
    host.answers = {false};
    Run();

    EXPECT_EQ((std::vector<SCall>{
                  Call("OpenLog"), Log("USB found Solenne(16), App. Ver. 2.07.00, Build 14186\n"),
                  Log("USB found Solenne(16), Main Boot Ver. 1.08.00, Build 8462\n"), Log(QUESTION_2_07),
                  Question(QUESTION_2_07), Call("RestoreStatus"), Call("CloseLog")}),
              host.calls);
    std::vector<std::uint16_t> commands;
    for (const auto& request : writer.Transcript()) {
        commands.push_back(request.header.command);
    }
    EXPECT_EQ((std::vector<std::uint16_t>{CMD_IDENTIFY, CMD_BOOT_VERSIONS, CMD_SHOW_TEXT}), commands);
    EXPECT_TRUE(writer.RequestsOf(CMD_RESTART).empty());
}

TEST_F(AcceptanceRun, OldLayoutServedType_AsksWithTheOldLayoutQuestion) {
    // A build serving type 1 would ask before replacing a newer application; this build's
    // row for type 1 carries version 0, so any running version is newer.
    writer.Identity() = {1, 0x0210, 0, 0, 0, 0, 0, 0};
    host.allowedTypeMask = 0x1;
    host.answers = {false};
    Run();
    const char* question =
        "You are about to install 0.00 version on a Tessel that is running 2.10 version.\n"
        "              Are you sure you want to do this?";
    ASSERT_EQ(1u, host.CallsOf("AskYesNo").size());
    EXPECT_EQ(Question(question), host.CallsOf("AskYesNo")[0]);
    EXPECT_EQ((std::vector<std::string>{"USB found Pavo Tessel(1), App. Ver. 2.10 ", question}),
              host.LogLines());
}

}  // namespace
