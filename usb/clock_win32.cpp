#include <windows.h>

#include "usb/clock.h"

namespace {

class CSleepClock final : public IClock {
public:
    void Pause(std::uint32_t milliseconds) override { Sleep(milliseconds); }
};

}  // namespace

IClock& SystemClock() {
    static CSleepClock clock;
    return clock;
}
