// window-probe: looks at another program's top-level window from outside, the way
// Windows itself and a user do, for the Wine test of the dialog program.
//
//   window-probe watch "<title>" <seconds>
//       Waits for the window whose whole title is <title>, then sends it WM_NULL every
//       50 ms (SendMessageTimeout, 5 s) until it is gone or <seconds> have passed since
//       the start, and prints "longest-unanswered-ms N answers M": N is the longest
//       time from one answered call to the next (or to a call that timed out, so a
//       window that never answers again still counts). "window-probe: watching" on
//       stderr tells when the window has been found. Exit 1 when it never appeared.
//   window-probe query-end-session "<title>"
//       Asks the window whether the session may end, as logging off does, and prints
//       "answer 0", "answer 1" or "no-answer" (no reply within 5 s).
//   window-probe close "<title>"
//       Posts WM_CLOSE, as another program closing the window would.
//   window-probe syscommand-close "<title>"
//       Posts WM_SYSCOMMAND SC_CLOSE, what the system menu's Close and Alt+F4 produce.
//   window-probe minimize "<title>"
//       Posts WM_SYSCOMMAND SC_MINIMIZE, what the caption's minimise button produces.
//   window-probe state "<title>"
//       Prints "iconic 0|1 foreground 0|1": whether the window is minimised, and whether
//       it or a window it owns (a box it shows) is the session's foreground window.
//
// Every command but watch exits 1 when no such window exists; a bad command line exits 2.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

constexpr UINT ANSWER_TIMEOUT_MS = 5000;
constexpr DWORD POLL_INTERVAL_MS = 50;

void PrintUsage() {
    std::fprintf(stderr,
                 "usage: window-probe watch \"<title>\" <seconds>\n"
                 "       window-probe query-end-session \"<title>\"\n"
                 "       window-probe close \"<title>\"\n"
                 "       window-probe syscommand-close \"<title>\"\n"
                 "       window-probe minimize \"<title>\"\n"
                 "       window-probe state \"<title>\"\n");
}

struct SWindowSearch {
    const std::string* title;
    HWND found;
};

BOOL CALLBACK MatchTitle(HWND window, LPARAM context) {
    auto* search = reinterpret_cast<SWindowSearch*>(context);
    // For another process's window this reads the stored text and sends nothing, so a
    // window that does not answer cannot stall the search.
    char text[512];
    const int length = GetWindowTextA(window, text, static_cast<int>(sizeof text));
    if (length >= 0 && *search->title == std::string(text, static_cast<std::size_t>(length))) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

// FindWindow compares without regard to case; the test needs the exact caption, so
// "Solenne/Brisa Update" never stands for the main window's longer one.
HWND FindTopLevelWindow(const std::string& title) {
    SWindowSearch search{&title, nullptr};
    EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

class CStopwatch {
public:
    CStopwatch() {
        QueryPerformanceFrequency(&m_frequency);
        QueryPerformanceCounter(&m_start);
    }
    double ElapsedMs() const {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        return static_cast<double>(now.QuadPart - m_start.QuadPart) * 1000.0 /
               static_cast<double>(m_frequency.QuadPart);
    }

private:
    LARGE_INTEGER m_frequency;
    LARGE_INTEGER m_start;
};

enum class EAnswer { Answered, TimedOut, Failed };

EAnswer Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& result) {
    SetLastError(ERROR_SUCCESS);
    if (SendMessageTimeoutA(window, message, wParam, lParam, SMTO_NORMAL, ANSWER_TIMEOUT_MS, &result) != 0) {
        return EAnswer::Answered;
    }
    // Zero with a gone window is no time-out: the window has nothing left to answer.
    // Some systems leave the last error alone on a time-out, so a window that still
    // exists counts as one that did not answer.
    const DWORD reason = GetLastError();
    if (reason == ERROR_TIMEOUT || (reason == ERROR_SUCCESS && IsWindow(window))) {
        return EAnswer::TimedOut;
    }
    return EAnswer::Failed;
}

int Watch(const std::string& title, double limitMs) {
    const CStopwatch clock;
    HWND window = nullptr;
    while ((window = FindTopLevelWindow(title)) == nullptr) {
        if (clock.ElapsedMs() >= limitMs) {
            std::fprintf(stderr, "window-probe: no window \"%s\"\n", title.c_str());
            return 1;
        }
        Sleep(POLL_INTERVAL_MS);
    }
    std::fprintf(stderr, "window-probe: watching\n");
    double lastAnswer = clock.ElapsedMs();
    double longest = 0.0;
    unsigned answers = 0;
    while (IsWindow(window) && clock.ElapsedMs() < limitMs) {
        DWORD_PTR result = 0;
        const EAnswer answer = Ask(window, WM_NULL, 0, 0, result);
        if (answer == EAnswer::Failed) {
            break;
        }
        const double now = clock.ElapsedMs();
        if (now - lastAnswer > longest) {
            longest = now - lastAnswer;
        }
        if (answer == EAnswer::Answered) {
            ++answers;
            lastAnswer = now;
        }
        Sleep(POLL_INTERVAL_MS);
    }
    std::printf("longest-unanswered-ms %.0f answers %u\n", longest, answers);
    std::fflush(stdout);
    return 0;
}

int QueryEndSession(HWND window) {
    DWORD_PTR result = 0;
    if (Ask(window, WM_QUERYENDSESSION, 0, 0, result) != EAnswer::Answered) {
        std::printf("no-answer\n");
    } else {
        std::printf("answer %u\n", result != 0 ? 1u : 0u);
    }
    std::fflush(stdout);
    return 0;
}

int Post(HWND window, UINT message, WPARAM wParam) {
    if (!PostMessageA(window, message, wParam, 0)) {
        std::fprintf(stderr, "window-probe: PostMessage failed, error %lu\n", GetLastError());
        return 1;
    }
    return 0;
}

int State(HWND window) {
    const HWND foreground = GetForegroundWindow();
    const bool inFront =
        foreground != nullptr && (foreground == window || GetWindow(foreground, GW_OWNER) == window);
    std::printf("iconic %d foreground %d\n", IsIconic(window) ? 1 : 0, inFront ? 1 : 0);
    std::fflush(stdout);
    return 0;
}

bool ParseSeconds(const char* text, double& milliseconds) {
    char* end = nullptr;
    const long seconds = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || seconds <= 0 || seconds > 3600) {
        return false;
    }
    milliseconds = static_cast<double>(seconds) * 1000.0;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        PrintUsage();
        return 2;
    }
    const std::string command = argv[1];
    const std::string title = argv[2];
    if (command == "watch") {
        double limitMs = 0.0;
        if (argc != 4 || !ParseSeconds(argv[3], limitMs)) {
            PrintUsage();
            return 2;
        }
        return Watch(title, limitMs);
    }
    const bool known = command == "query-end-session" || command == "close" ||
                       command == "syscommand-close" || command == "minimize" || command == "state";
    if (argc != 3 || !known) {
        PrintUsage();
        return 2;
    }
    const HWND window = FindTopLevelWindow(title);
    if (window == nullptr) {
        std::fprintf(stderr, "window-probe: no window \"%s\"\n", title.c_str());
        return 1;
    }
    if (command == "query-end-session") {
        return QueryEndSession(window);
    }
    if (command == "close") {
        return Post(window, WM_CLOSE, 0);
    }
    if (command == "minimize") {
        return Post(window, WM_SYSCOMMAND, SC_MINIMIZE);
    }
    if (command == "state") {
        return State(window);
    }
    return Post(window, WM_SYSCOMMAND, SC_CLOSE);
}
