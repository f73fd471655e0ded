#include <gtest/gtest.h>

#include <ostream>
#include <sstream>

#include "app/console_surface.h"

namespace {

struct SAnswerCase {
    const char* name;
    const char* input;
    bool yes;
};

void PrintTo(const SAnswerCase& c, std::ostream* out) {
    *out << c.name;
}

class ConsoleYesNo : public ::testing::TestWithParam<SAnswerCase> {};

TEST_P(ConsoleYesNo, OnlyYesOrYAnswerYes_EverythingElseAndEndOfInputNo) {
    std::istringstream input(GetParam().input);
    std::ostringstream output;
    CConsoleSurface surface(input, output, false);
    EXPECT_EQ(surface.AskYesNo("Are you sure?", "Warning"), GetParam().yes);
}

INSTANTIATE_TEST_SUITE_P(Answers, ConsoleYesNo,
                         ::testing::Values(SAnswerCase{"Yes", "yes\n", true}, SAnswerCase{"Y", "y\n", true},
                                           SAnswerCase{"YesAmidBlanksAndCrLf", "  yes \r\n", true},
                                           SAnswerCase{"No", "no\n", false},
                                           SAnswerCase{"YesWithATrailingLetter", "yess\n", false},
                                           SAnswerCase{"EmptyLine", "\n", false},
                                           SAnswerCase{"EndOfInput", "", false}),
                         [](const ::testing::TestParamInfo<SAnswerCase>& param) { return param.param.name; });

TEST(ConsoleSurface, Box_ShowsKindCaptionEveryTextLineAndTakesOneLine) {
    std::istringstream input("\ngo\n");
    std::ostringstream output;
    CConsoleSurface surface(input, output, false);
    surface.ShowMessage("Unable to open.\nPlease check.", "Error", IDialogSurface::BOX_STOP);
    EXPECT_EQ(output.str(),
              "[box stop] Error\n"
              "    Unable to open.\n"
              "    Please check.\n"
              "[buttons] OK\n"
              "[input] \n");
    // The box took exactly one line: the next command is still there.
    EXPECT_EQ(surface.ReadCommand("&About"), "go");
}

TEST(ConsoleSurface, Status_IsPrintedOnlyWhenItChanges) {
    std::istringstream input;
    std::ostringstream output;
    CConsoleSurface surface(input, output, false);
    surface.SetStatusText("one");
    surface.SetStatusText("one");
    surface.SetStatusText("two");
    EXPECT_EQ(output.str(), "[status]\n    one\n[/status]\n[status]\n    two\n[/status]\n");
}

TEST(ConsoleSurface, EndOfInput_NoCommand) {
    std::istringstream input;
    std::ostringstream output;
    CConsoleSurface surface(input, output, false);
    EXPECT_FALSE(surface.ReadCommand("&About").has_value());
}

}  // namespace

namespace {

TEST(ConsoleProgress, OneLineThatOverwritesItself_TakenAwayBeforeTheNextOutput) {
    std::istringstream input;
    std::ostringstream output;
    std::ostringstream progress;
    CConsoleSurface surface(input, output, false, &progress);
    surface.Progress(0, 400);
    surface.Progress(1, 400);  // still 0 %: nothing new to show
    surface.Progress(399, 400);
    surface.SetStatusText("Sending");
    surface.Progress(400, 400);
    surface.ShowMessage("Done.", "Title", IDialogSurface::BOX_INFORMATION);

    const std::string blank(std::string("Updating the writer: 99 %").size(), ' ');
    EXPECT_EQ(progress.str(), "\rUpdating the writer: 0 %\rUpdating the writer: 99 %\r" + blank +
                                  "\r\rUpdating the writer: 100 %\r" + std::string(blank.size() + 1, ' ') +
                                  "\r");
    // The dialog's own output is what it is without progress.
    std::istringstream sameInput;
    std::ostringstream sameOutput;
    CConsoleSurface plain(sameInput, sameOutput, false);
    plain.Progress(399, 400);
    plain.SetStatusText("Sending");
    plain.ShowMessage("Done.", "Title", IDialogSurface::BOX_INFORMATION);
    EXPECT_EQ(output.str(), sameOutput.str());
}

TEST(ConsoleProgress, Percent_Reaches100OnlyAtTheEnd) {
    EXPECT_EQ(CConsoleSurface::ProgressLine(0, 0), "Updating the writer: 0 %");
    EXPECT_EQ(CConsoleSurface::ProgressLine(6397167, 6397168), "Updating the writer: 99 %");
    EXPECT_EQ(CConsoleSurface::ProgressLine(6397168, 6397168), "Updating the writer: 100 %");
}

}  // namespace
