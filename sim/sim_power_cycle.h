#pragma once

#include <cstdint>

#include "sim/sim_memory.h"
#include "sim/sim_writer.h"

// What a simulated writer of type 16 or 17 comes back as when it is switched off and on
// again (after a cable pulled or the power cut mid-run). Only its flash survives: the
// memory, and what the writer knows of the downloads that went into it (the summary,
// standing for the header and CRC a writer keeps with an image). The rules:
//
// Areas. The boot block is [0, 0x40000): the writer always starts there. The main
// boot area is [0x40000, 0x80000). The application area runs from 0x80000 to the end
// of the memory. At power-up each area holds one of three things:
//  - what it was made with: no download ever began in it and every byte is still the
//    one the memory was made with;
//  - a new image: the last download that began in it is of the area's kind (a boot
//    download for the boot areas, an application download for the application area),
//    took every byte its chunks announced, matched the CRC announced before it
//    (SDownloadRecord::MatchesAnnouncement) and is still what the memory holds there;
//  - nothing sound: anything else (a download cut short or not matching, an erase, a
//    byte changed).
//
// Boot loaders. A loader of build 3183 or lower is an early one; later ones are
// current ones. An early loader lives in the boot block alone and never looks at
// 0x40000. A current loader keeps a copy of itself in the boot block, and there it
// runs the main boot loader at 0x40000 whenever that area holds a sound loader;
// otherwise it carries on as the writer's boot loader itself.
//  - The boot block holds nothing sound: the writer cannot start. It does not answer
//    and is gone (the early method rewrites the boot block: from its first chunk until
//    its last one the writer is lost).
//  - The main boot area holding nothing sound costs nothing as long as the boot block
//    is sound: the copy there starts the writer (the current method rewrites only the
//    main boot area, so a cut there is survived).
//  - The main boot area as made holds a loader only when the writer was made with a
//    current loader; with an early one it holds none.
//
// Identity. The loader that runs is reported as the main boot loader (version and
// build). A sound application area, as made (when the writer was made running its
// application) or with a new image, starts the application: identify reports it, boot
// mode 0. Any other application area leaves the writer in boot mode: identify reports
// boot mode 1 with the running loader's version and build. Machine type and the
// secondary boot loader's versions stay as made.
//
// As made: a writer made in application mode runs its application and the main boot
// loader its identity names; one made in boot mode has no sound application and runs
// the loader identify names. New images carry no version of their own in the
// simulation: SCarriedFirmware says what they stand for.

// The versions the images sent to the writer stand for.
struct SCarriedFirmware {
    std::uint32_t applicationVersion = 0;
    std::uint32_t applicationBuild = 0;
    std::uint32_t bootVersion = 0;
    std::uint32_t bootBuild = 0;
};

enum class EAreaContent {
    AsMade,
    NewImage,
    NothingSound,
};

struct SPowerUp {
    bool starts = false;  // false: the writer is lost
    EAreaContent bootBlock = EAreaContent::AsMade;
    EAreaContent mainBoot = EAreaContent::AsMade;
    EAreaContent application = EAreaContent::AsMade;
    SWriterIdentity identity;  // what the writer reports once it starts
};

namespace power_cycle {

constexpr std::uint32_t BOOT_BLOCK_ADDRESS = 0;
constexpr std::uint32_t MAIN_BOOT_ADDRESS = 0x40000;
constexpr std::uint32_t EARLY_BOOT_BUILD_LIMIT = 3183;

// What a writer made as `asMade` comes up as with this memory and these downloads.
SPowerUp PowerUp(const SWriterIdentity& asMade, const SCarriedFirmware& carried, const CSimMemory& memory,
                 const SWriterSummary& summary);

}  // namespace power_cycle
