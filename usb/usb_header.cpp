#include "usb/usb_header.h"

SUsbHeader ReadUsbHeader(const std::uint8_t* bytes) {
    SUsbHeader header;
    header.magic = ReadLittleEndian16(bytes + HEADER_OFFSET_MAGIC);
    header.sequence = ReadLittleEndian32(bytes + HEADER_OFFSET_SEQUENCE);
    header.command = ReadLittleEndian16(bytes + HEADER_OFFSET_COMMAND);
    header.length = ReadLittleEndian32(bytes + HEADER_OFFSET_LENGTH);
    for (std::uint32_t i = 0; i < USB_PARAMETER_COUNT; ++i) {
        header.parameter[i] = ReadLittleEndian32(bytes + HEADER_OFFSET_PARAMETER + 4 * i);
    }
    return header;
}

void WriteUsbHeader(std::uint8_t* bytes, const SUsbHeader& header) {
    WriteLittleEndian16(bytes + HEADER_OFFSET_MAGIC, header.magic);
    WriteLittleEndian32(bytes + HEADER_OFFSET_SEQUENCE, header.sequence);
    WriteLittleEndian16(bytes + HEADER_OFFSET_COMMAND, header.command);
    WriteLittleEndian32(bytes + HEADER_OFFSET_LENGTH, header.length);
    for (std::uint32_t i = 0; i < USB_PARAMETER_COUNT; ++i) {
        WriteLittleEndian32(bytes + HEADER_OFFSET_PARAMETER + 4 * i, header.parameter[i]);
    }
}
