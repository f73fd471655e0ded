#include <algorithm>
#include <cstring>

#include "usb/tessel_usb.h"

std::uint32_t CTesselUsb::ShowText(const char* text) {
    if (text == nullptr) {
        SetRequest(CMD_SHOW_TEXT, 0);
    } else {
        // The text and its zero byte, in whole units of 32 bytes.
        const std::uint32_t characters = static_cast<std::uint32_t>(strnlen(text, MAX_PAYLOAD_SIZE - 1));
        const std::uint32_t length = (characters + 32) & ~std::uint32_t{31};
        std::memcpy(RequestPayload(), text, characters);
        // The zero byte and the padding: no stale bytes of an earlier request go out.
        std::memset(RequestPayload() + characters, 0, length - characters);
        SetRequest(CMD_SHOW_TEXT, length, characters);
    }
    SendRequest();
    return ReadReply();
}
