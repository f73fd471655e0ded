#include "sim/sim_power_cycle.h"

#include <algorithm>

#include "images/crc32.h"
#include "usb/usb_codes.h"

namespace power_cycle {

namespace {

struct SArea {
    std::uint32_t begin;
    std::uint32_t end;   // clipped to the memory
    std::uint16_t kind;  // the download command that can put a sound image there
};

struct SLoader {
    std::uint32_t version = 0;
    std::uint32_t build = 0;
    bool Current() const { return build > EARLY_BOOT_BUILD_LIMIT; }
};

// The download that began last inside the area, if any.
const SDownloadRecord* LastDownloadInto(const SArea& area, const SWriterSummary& summary) {
    const auto last = std::find_if(summary.downloads.rbegin(), summary.downloads.rend(),
                                   [&](const SDownloadRecord& download) {
                                       return download.address >= area.begin && download.address < area.end;
                                   });
    return last == summary.downloads.rend() ? nullptr : &*last;
}

bool StillHeld(const SDownloadRecord& download, const CSimMemory& memory) {
    if (!memory.Holds(download.address, download.total)) {
        return false;
    }
    CCrc32 crc;
    crc.Update(memory.At(download.address), download.total);
    return crc.Value() == download.crc;
}

EAreaContent Content(const SArea& area, const CSimMemory& memory, const SWriterSummary& summary) {
    const SDownloadRecord* last = LastDownloadInto(area, summary);
    if (last == nullptr) {
        return memory.Unchanged(area.begin, area.end - area.begin) ? EAreaContent::AsMade
                                                                   : EAreaContent::NothingSound;
    }
    const bool sound = last->command == area.kind && last->MatchesAnnouncement() && StillHeld(*last, memory);
    return sound ? EAreaContent::NewImage : EAreaContent::NothingSound;
}

}  // namespace

SPowerUp PowerUp(const SWriterIdentity& asMade, const SCarriedFirmware& carried, const CSimMemory& memory,
                 const SWriterSummary& summary) {
    const std::uint32_t size = memory.Size();
    const auto clip = [size](std::uint32_t address) { return std::min(address, size); };
    const SArea bootBlock{clip(BOOT_BLOCK_ADDRESS), clip(MAIN_BOOT_ADDRESS), CMD_PROGRAM_BOOT};
    const SArea mainBoot{clip(MAIN_BOOT_ADDRESS), clip(CSimMemory::APPLICATION_ADDRESS), CMD_PROGRAM_BOOT};
    const SArea application{clip(CSimMemory::APPLICATION_ADDRESS), size, CMD_PROGRAM_APPLICATION};

    SPowerUp up;
    up.bootBlock = Content(bootBlock, memory, summary);
    up.mainBoot = Content(mainBoot, memory, summary);
    up.application = Content(application, memory, summary);
    up.starts = up.bootBlock != EAreaContent::NothingSound;
    up.identity = asMade;
    if (!up.starts) {
        return up;
    }

    const bool madeRunning = asMade.bootMode == 0;
    const SLoader madeLoader = madeRunning ? SLoader{asMade.mainBootVersion, asMade.mainBootBuild}
                                           : SLoader{asMade.version, asMade.build};
    const SLoader carriedLoader{carried.bootVersion, carried.bootBuild};

    SLoader running = up.bootBlock == EAreaContent::NewImage ? carriedLoader : madeLoader;
    if (running.Current()) {
        if (up.mainBoot == EAreaContent::NewImage) {
            running = carriedLoader;
        } else if (up.mainBoot == EAreaContent::AsMade && madeLoader.Current()) {
            running = madeLoader;
        }
    }
    up.identity.mainBootVersion = running.version;
    up.identity.mainBootBuild = running.build;

    if (up.application == EAreaContent::NewImage) {
        up.identity.bootMode = 0;
        up.identity.version = carried.applicationVersion;
        up.identity.build = carried.applicationBuild;
    } else if (up.application == EAreaContent::AsMade && madeRunning) {
        up.identity.bootMode = 0;
        up.identity.version = asMade.version;
        up.identity.build = asMade.build;
    } else {
        up.identity.bootMode = 1;
        up.identity.version = running.version;
        up.identity.build = running.build;
    }
    return up;
}

}  // namespace power_cycle

bool CSimWriter::PowerCycle(const SCarriedFirmware& carried) {
    if (!m_asMade) {
        m_asMade = m_identity;
    }
    const SPowerUp up = power_cycle::PowerUp(*m_asMade, carried, m_memory, m_summary);
    if (up.starts) {
        m_identity = up.identity;
    }
    m_gone = !up.starts;

    m_replies.clear();
    m_announcedCrc.reset();
    m_downloading = false;
    m_downloadCrc.Reset();
    m_retrying = false;
    m_failingWritesLeft = 0;
    m_activeFault.reset();
    m_faults.clear();
    m_corruptions.clear();
    std::fill(m_commandCounts.begin(), m_commandCounts.end(), 0u);
    m_currentDisplay.clear();
    return up.starts;
}
