#include "app/console_surface.h"

#include <sstream>

namespace {

const char* BoxKind(std::uint32_t flags) {
    switch (flags & 0xF0u) {
        case IDialogSurface::BOX_STOP:
            return "stop";
        case 0x20:
            return "question";
        case 0x30:
            return "warning";
        case IDialogSurface::BOX_INFORMATION:
            return "information";
        default:
            return "plain";
    }
}

// Every line of `text` indented under its heading; a text ending in a line break shows
// the empty line it leaves.
void PrintIndented(std::ostream& output, const char* text) {
    std::istringstream lines(text != nullptr ? text : "");
    std::string line;
    while (std::getline(lines, line)) {
        output << "    " << line << '\n';
    }
}

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r");
    return text.substr(first, last - first + 1);
}

}  // namespace

CConsoleSurface::CConsoleSurface(std::istream& input, std::ostream& output, bool interactive,
                                 std::ostream* progress)
    : m_input(input), m_output(output), m_interactive(interactive), m_progress(progress) {}

std::string CConsoleSurface::ProgressLine(std::uint64_t done, std::uint64_t total) {
    const std::uint64_t percent = total == 0 ? 0 : done >= total ? 100 : done * 100 / total;
    return "Updating the writer: " + std::to_string(percent) + " %";
}

void CConsoleSurface::Progress(std::uint64_t done, std::uint64_t total) {
    if (m_progress == nullptr) {
        return;
    }
    const std::string line = ProgressLine(done, total);
    if (line == m_progressLine) {
        return;
    }
    // Each line is at least as long as the last, so it covers it.
    *m_progress << '\r' << line << std::flush;
    m_progressLine = line;
}

void CConsoleSurface::ClearProgress() {
    if (m_progress == nullptr || m_progressLine.empty()) {
        return;
    }
    *m_progress << '\r' << std::string(m_progressLine.size(), ' ') << '\r' << std::flush;
    m_progressLine.clear();
}

void CConsoleSurface::SetCaption(const char* text) {
    ClearProgress();
    m_output << "[caption] " << text << '\n' << std::flush;
}

void CConsoleSurface::SetStatusText(const char* text) {
    ClearProgress();
    const std::string status = text != nullptr ? text : "";
    if (m_status == status) {
        return;
    }
    m_status = status;
    m_output << "[status]\n";
    PrintIndented(m_output, text);
    m_output << "[/status]\n" << std::flush;
}

void CConsoleSurface::PrintBox(const char* kind, const char* caption, const char* text, const char* buttons) {
    ClearProgress();
    m_output << "[box " << kind << "] " << caption << '\n';
    PrintIndented(m_output, text);
    m_output << "[buttons] " << buttons << '\n' << std::flush;
}

void CConsoleSurface::ShowMessage(const char* text, const char* caption, std::uint32_t flags) {
    PrintBox(BoxKind(flags), caption, text, "OK");
    ReadLine("OK (press Enter) > ");  // any line, or the end of input, closes the box
}

bool CConsoleSurface::AskYesNo(const char* text, const char* caption) {
    PrintBox("question", caption, text, "Yes No");
    const std::optional<std::string> answer = ReadLine("Yes/No > ");
    const bool yes = answer && (*answer == "yes" || *answer == "y");
    m_output << "[answer] " << (yes ? "Yes" : "No") << '\n' << std::flush;
    return yes;
}

void CConsoleSurface::EndDialog(int) {
    // The window closes once the current handler has returned: the program's loop sees
    // the dialog ended and says so then.
}

void CConsoleSurface::ShowAbout(const char* caption, const char* text) {
    PrintBox("about", caption, text, "OK");
    ReadLine("OK (press Enter) > ");
}

std::optional<std::string> CConsoleSurface::ReadCommand(const std::string& aboutEntry) {
    ClearProgress();
    m_output << "[buttons] &Go! (go)  &Quit (quit)  [system menu] " << aboutEntry << " (about)\n"
             << std::flush;
    return ReadLine("go/quit/about > ");
}

std::optional<std::string> CConsoleSurface::ReadLine(const char* prompt) {
    if (m_interactive) {
        m_output << prompt << std::flush;
    }
    std::string line;
    if (!std::getline(m_input, line)) {
        if (m_interactive) {
            m_output << '\n';
        }
        return std::nullopt;
    }
    line = Trimmed(line);
    if (!m_interactive) {
        m_output << "[input] " << line << '\n' << std::flush;  // echoes what the script answered
    }
    return line;
}
