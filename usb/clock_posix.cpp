#include <time.h>

#include <cerrno>

#include "usb/clock.h"

namespace {

class CPosixClock final : public IClock {
public:
    void Pause(std::uint32_t milliseconds) override {
        timespec remaining{static_cast<time_t>(milliseconds / 1000),
                           static_cast<long>(milliseconds % 1000) * 1000000L};
        while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
        }
    }
};

}  // namespace

IClock& SystemClock() {
    static CPosixClock clock;
    return clock;
}
