#pragma once

#include <cstdint>

// Command codes of requests, and the two codes that only appear in replies.
constexpr std::uint16_t CMD_IDENTIFY = 1;
constexpr std::uint16_t CMD_PROGRAM_APPLICATION = 2;
constexpr std::uint16_t CMD_CHUNK_ACCEPTED = 5;  // reply only
constexpr std::uint16_t CMD_ERROR = 6;           // reply only; the parameters carry the reason
constexpr std::uint16_t CMD_SHOW_TEXT = 7;
constexpr std::uint16_t CMD_SET_IMAGE_CRC = 0x25;
constexpr std::uint16_t CMD_READ_MEMORY = 0x40;
constexpr std::uint16_t CMD_PROGRAM_BOOT = 0x50;
constexpr std::uint16_t CMD_RESTART = 0x51;
constexpr std::uint16_t CMD_ERASE = 0x1009;
constexpr std::uint16_t CMD_BOOT_VERSIONS = 0xE019;
constexpr std::uint16_t CMD_INFO_BLOCK = 0xE01C;

// Result codes of the link's commands. Any other value is the writer's own error code.
constexpr std::int32_t RESULT_OK = 0;
constexpr std::int32_t RESULT_FILE_OPEN = 3;         // writer's code: a file is open or real-time is active
constexpr std::int32_t RESULT_WRONG_MACHINE = 11;    // image for another machine type; nothing sent
constexpr std::int32_t RESULT_NO_CHUNK_REPLY = 101;  // a download chunk got no reply
constexpr std::int32_t RESULT_INVALID_REPLY = 111;   // no valid reply, or an unexpected one

// Parameter 4 of every download chunk.
constexpr std::uint32_t DOWNLOAD_MARKER = 0xC00DC00Du;
// Information block selector for the boot geometry, and the memory selector of read-backs.
constexpr std::uint32_t INFO_BOOT_GEOMETRY = 4;
constexpr std::uint32_t MEMORY_SELECTOR_READ_BACK = 4;
// Control code issued between failed writes.
constexpr std::uint32_t CONTROL_RESET = 1;
