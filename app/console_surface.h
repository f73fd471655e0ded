#pragma once

#include <istream>
#include <optional>
#include <ostream>
#include <string>

#include "app/dialog_surface.h"
#include "update/progress_sink.h"

// The main dialog as text: the caption and the status box are printed whenever they
// change, each message box with its caption, its kind and its text, and the answers are
// read one line each. On a terminal each answer is prompted for; from a script the lines
// simply follow one another. End of input answers No, closes an OK box, and quits.
//
// With a progress stream (a terminal), a run's progress is one line there that
// overwrites itself, taken away before anything else is printed; without one, progress
// prints nothing.
class CConsoleSurface final : public IDialogSurface, public IProgressSink {
public:
    CConsoleSurface(std::istream& input, std::ostream& output, bool interactive,
                    std::ostream* progress = nullptr);

    void SetCaption(const char* text) override;
    void SetStatusText(const char* text) override;
    void ShowMessage(const char* text, const char* caption, std::uint32_t flags) override;
    bool AskYesNo(const char* text, const char* caption) override;
    void EndDialog(int result) override;

    void Progress(std::uint64_t done, std::uint64_t total) override;
    void Failed() override {}  // the failure's box follows at once

    // Shows the About box (caption, text, OK) and waits for its answer.
    void ShowAbout(const char* caption, const char* text);
    // Shows the dialog's buttons and reads the next command; nothing at end of input.
    std::optional<std::string> ReadCommand(const std::string& aboutEntry);

    // The text of the progress line for `done` of `total`.
    static std::string ProgressLine(std::uint64_t done, std::uint64_t total);

private:
    // Takes the progress line away, when one is showing.
    void ClearProgress();
    void PrintBox(const char* kind, const char* caption, const char* text, const char* buttons);
    std::optional<std::string> ReadLine(const char* prompt);

    std::istream& m_input;
    std::ostream& m_output;
    bool m_interactive;
    std::ostream* m_progress;
    std::string m_progressLine;  // what the progress stream shows now; empty for nothing
    std::optional<std::string> m_status;
};
