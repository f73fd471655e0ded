#include "update/catalogue.h"

#include "images/resource_source.h"

namespace {

constexpr std::uint32_t BOOT_VERSION = 0x01080000;  // 1.08.00
constexpr std::uint32_t BOOT_BUILD = 8462;
constexpr std::uint32_t APP_VERSION = 0x02060000;  // 2.06.00
constexpr std::uint32_t APP_BUILD = 14186;

constexpr SMachineInfo Unserved(std::uint32_t type, const char* name) {
    return {type, name, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
}

constexpr SMachineInfo Served(std::uint32_t type, const char* name) {
    return {type, name, BOOT_VERSION,          BOOT_BUILD,    APP_VERSION, APP_BUILD, 0, 0, 0, IDR_PICTURE,
            0,    0,    IDR_APPLICATION_IMAGE, IDR_BOOT_IMAGE};
}

// Rows 12 to 15 are the later hardware of the student and professional models of rows
// 7 to 10: other machine types under the same names.
constexpr SMachineInfo CATALOGUE[CATALOGUE_SIZE] = {
    Unserved(0, "Not Real"),
    Unserved(1, "Pavo Tessel"),
    Unserved(2, "Pavo Quint"),
    Unserved(3, "Pavo Tessel G2"),
    Unserved(4, "Pavo Tessel A3"),
    Unserved(5, "Marlow halcyon"),
    Unserved(6, "Marlow Ambit"),
    Unserved(7, "Pavo Quint Student"),
    Unserved(8, "Pavo Quint Professional"),
    Unserved(9, "Pavo Quint Student GJ"),
    Unserved(10, "Pavo Quint Professional GJ"),
    Unserved(11, "Marlow Ambit Full"),
    Unserved(12, "Pavo Quint Student"),
    Unserved(13, "Pavo Quint Professional"),
    Unserved(14, "Pavo Quint Student GJ"),
    Unserved(15, "Pavo Quint Professional GJ"),
    Served(16, "Solenne"),
    Served(17, "Brisa"),
};

constexpr SMachineInfo UNKNOWN_MACHINE = Unserved(18, "Unknown");

constexpr SMachineInfo SERVED_MODELS[] = {
    {16, "Solenne", BOOT_VERSION, BOOT_BUILD, APP_VERSION, APP_BUILD, 0, 0, 0, 0, 0, 0, 0, 0},
    {17, "Brisa", BOOT_VERSION, BOOT_BUILD, APP_VERSION, APP_BUILD, 0, 0, 0, 0, 0, 0, 0, 0},
    Unserved(0, ""),
};

}  // namespace

const SMachineInfo& LookupMachine(std::uint32_t type) {
    return type < CATALOGUE_SIZE ? CATALOGUE[type] : UNKNOWN_MACHINE;
}

std::span<const SMachineInfo> ServedModels() {
    return SERVED_MODELS;
}

bool IsServedType(std::uint32_t type, std::uint32_t mask) {
    return type >= 1 && type <= 17 && (mask & (1u << (type - 1))) != 0;
}
