// The console updater: the main dialog realised on a terminal or driven by a script
// through standard input. It finds the writer on the writer port.
#include <unistd.h>

#include <iostream>

#include "app/app_texts.h"
#include "app/console_surface.h"
#include "app/log_file.h"
#include "app/main_dialog.h"
#include "app/version_record.h"
#include "images/byte_buffer.h"
#include "images/resource_source.h"
#include "usb/clock.h"
#include "usb/transport_posix.h"

int main() {
    // Progress goes to standard error only when a person sees it there, so scripted runs
    // print exactly what they always did.
    CConsoleSurface surface(std::cin, std::cout, isatty(STDIN_FILENO) != 0,
                            isatty(STDERR_FILENO) != 0 ? &std::cerr : nullptr);
    CMainDialog dialog(surface, SystemLogFileSystem(), SystemVersionRecord(), APPLICATION_TITLE);
    dialog.Initialise();

    while (!dialog.Ended()) {
        const std::optional<std::string> command = surface.ReadCommand(ABOUT_MENU_ENTRY);
        if (!command || *command == "quit") {
            dialog.Cancel();
        } else if (*command == "go") {
            CWriterPortTransport transport;
            SJobEnvironment environment{transport, SystemClock(), nullptr, BuiltInResources(),
                                        SystemAllocator()};
            environment.progress = &surface;
            dialog.OnGo(environment);
        } else if (*command == "about") {
            surface.ShowAbout(ABOUT_BOX_CAPTION, dialog.AboutText().c_str());
        } else {
            std::cout << "[unknown command] " << *command << " (go, quit or about)\n";
        }
    }
    std::cout << "[closed] " << (dialog.Finished() ? "after a successful update" : "without an update")
              << '\n';
    return dialog.Finished() ? 0 : 1;
}
