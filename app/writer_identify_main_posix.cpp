// Identifies whatever writer is on the writer port and prints the identification lines
// as an update run logs them. It sends only what a run sends up to acceptance.
#include <cstdio>
#include <cstring>

#include "app/app_texts.h"
#include "images/byte_buffer.h"
#include "images/resource_source.h"
#include "update/update_job.h"
#include "usb/clock.h"
#include "usb/transport_posix.h"

namespace {

constexpr const char* IDENTIFICATION_PREFIX = "USB found ";
constexpr const char* REFUSAL_PREFIX = "Improper Machine Type";

// Prints the run's identification lines and its errors. It serves no machine type, so
// every run stops at acceptance, before anything could be programmed.
class CPrintingHost final : public IUpdateHost {
public:
    void OpenLog() override {}
    void LogLine(const char* text) override {
        if (std::strncmp(text, IDENTIFICATION_PREFIX, std::strlen(IDENTIFICATION_PREFIX)) == 0) {
            const std::size_t length = std::strlen(text);
            std::printf("%s%s", text, length > 0 && text[length - 1] == '\n' ? "" : "\n");
            identified = true;
        }
    }
    void CloseLog() override {}
    void SetStatus(const char*) override {}
    void RestoreStatus() override {}
    void MessageOk(const char* text, const char*, std::uint32_t) override {
        if (std::strncmp(text, REFUSAL_PREFIX, std::strlen(REFUSAL_PREFIX)) != 0) {
            std::printf("%s\n", text);
            failed = true;
        }
    }
    bool AskYesNo(const char*, const char*) override { return false; }
    void FinishDialog() override {}
    std::uint32_t AllowedTypeMask() override { return 0; }
    const char* ApplicationTitle() override { return APPLICATION_TITLE; }

    bool identified = false;
    bool failed = false;
};

}  // namespace

int main() {
    CWriterPortTransport transport;
    CPrintingHost host;
    const SJobEnvironment environment{transport, SystemClock(), nullptr, BuiltInResources(),
                                      SystemAllocator()};
    CUpdateJob(host, environment).Run();
    return host.identified && !host.failed ? 0 : 1;
}
