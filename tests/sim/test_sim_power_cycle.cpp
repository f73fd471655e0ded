// The simulated writer switched off and on again: what it comes back as, by the rules
// of sim/sim_power_cycle.h, seen through a new connection as the updater would see it.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "images/byte_buffer.h"
#include "images/crc32.h"
#include "sim/sim_power_cycle.h"
#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "usb/recording_clock.h"
#include "usb/tessel_usb.h"
#include "usb/usb_codes.h"

namespace {

constexpr std::uint32_t OLD_APP = 0x02050000, OLD_APP_BUILD = 14000;
constexpr std::uint32_t NEW_APP = 0x02060000, NEW_APP_BUILD = 14186;
constexpr std::uint32_t OLD_BOOT = 0x01070000, CURRENT_BUILD = 8000, EARLY_BUILD = 3183;
constexpr std::uint32_t NEW_BOOT = 0x01080000, NEW_BOOT_BUILD = 8462;

const SCarriedFirmware CARRIED{NEW_APP, NEW_APP_BUILD, NEW_BOOT, NEW_BOOT_BUILD};

SWriterIdentity Solenne(std::uint32_t bootBuild) {
    return {16, OLD_APP, 0, OLD_APP_BUILD, OLD_BOOT, bootBuild, 0, 0};
}

// Three application chunks; a boot image that needs the two-block layout (four chunks
// at either load address).
std::vector<std::uint8_t> Image(std::uint32_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    for (std::uint32_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i * 131u + (i >> 9) + seed) & 0x7Fu);
    }
    return bytes;
}
const std::vector<std::uint8_t> APPLICATION = Image(140000, 3);
const std::vector<std::uint8_t> BOOT = Image(130000, 5);

std::uint32_t Crc(const std::vector<std::uint8_t>& bytes) {
    CCrc32 crc;
    crc.Update(bytes.data(), bytes.size());
    return crc.Value();
}

// One connection to the writer, identified as a run would.
struct SSession {
    explicit SSession(CSimWriter& writer) : transport(&writer) {}
    CSimTransport transport;
    CRecordingClock clock;
    CTesselUsb link{transport, clock, nullptr, SystemAllocator()};
};

struct PowerCycleBench : ::testing::Test {
    // The boot areas and room for the application.
    static SWriterBehaviour SmallMemory() {
        SWriterBehaviour behaviour;
        behaviour.memorySize = CSimMemory::APPLICATION_ADDRESS + 0x40000;
        return behaviour;
    }

    CSimWriter writer{Solenne(CURRENT_BUILD), SmallMemory()};
    std::unique_ptr<SSession> session;

    void Made(const SWriterIdentity& identity) { writer.Identity() = identity; }
    CTesselUsb& Link() {
        if (!session) {
            session = std::make_unique<SSession>(writer);
            EXPECT_EQ(0u, session->link.Open());
            EXPECT_EQ(RESULT_OK, session->link.Identify(nullptr, nullptr, nullptr, nullptr));
        }
        return session->link;
    }
    // The link drops just before the `occurrence`-th request of `command` arrives.
    void CutBefore(std::uint16_t command, std::uint32_t occurrence) {
        writer.AddFault({command, occurrence, EFaultKind::Gone, 0});
    }
    void Application(std::uint32_t announced) {
        Link().SetImageCrc(announced);
        Link().ProgramApplication(APPLICATION.data(), static_cast<std::uint32_t>(APPLICATION.size()), 16);
    }
    void VerifiedApplication() { Application(Crc(APPLICATION)); }
    void UnannouncedApplication() {
        Link().ProgramApplication(APPLICATION.data(), static_cast<std::uint32_t>(APPLICATION.size()), 16);
    }
    // ProgramBoot announces the layout's CRC itself.
    void Boot(std::uint32_t address) {
        Link().ProgramBoot(BOOT.data(), static_cast<std::uint32_t>(BOOT.size()), address);
    }
    void EarlyMethod() {
        Link().Erase(0x40000, 0x40000);
        Boot(0);
    }
    void Erase(std::uint32_t address) { Link().Erase(address, 0x20000); }
    void PowerCycle(bool starts = true) {
        session.reset();  // the cable is out while the writer is off
        EXPECT_EQ(starts, writer.PowerCycle(CARRIED));
    }
};

struct SIdentified {
    std::uint32_t bootMode, version, build, mainBootVersion, mainBootBuild;
    bool operator==(const SIdentified&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SIdentified& id) {
    return out << "boot mode " << id.bootMode << ", version " << std::hex << id.version << std::dec
               << " build " << id.build << ", main boot " << std::hex << id.mainBootVersion << std::dec
               << " build " << id.mainBootBuild;
}

const char* Name(EAreaContent content) {
    switch (content) {
        case EAreaContent::AsMade:
            return "as made";
        case EAreaContent::NewImage:
            return "new image";
        case EAreaContent::NothingSound:
            return "nothing sound";
    }
    return "?";
}

struct SAreas {
    EAreaContent bootBlock, mainBoot, application;
    bool operator==(const SAreas&) const = default;
};

std::ostream& operator<<(std::ostream& out, const SAreas& areas) {
    return out << "boot block " << Name(areas.bootBlock) << ", main boot " << Name(areas.mainBoot)
               << ", application " << Name(areas.application);
}

constexpr EAreaContent MADE = EAreaContent::AsMade;
constexpr EAreaContent NEW = EAreaContent::NewImage;
constexpr EAreaContent NONE = EAreaContent::NothingSound;

struct SPowerCycleCase {
    const char* name;
    std::uint32_t madeBootBuild;
    std::function<void(PowerCycleBench&)> before;  // what happens before the power is cut
    SAreas areas;
    bool starts;
    SIdentified identified;  // what a new connection identifies (when it starts)
};

void PrintTo(const SPowerCycleCase& c, std::ostream* out) {
    *out << c.name;
}

class PowerCycleCase : public PowerCycleBench, public ::testing::WithParamInterface<SPowerCycleCase> {};

TEST_P(PowerCycleCase, ComesBackAsItsMemoryHasIt) {
    const SPowerCycleCase& c = GetParam();
    const SWriterIdentity made = Solenne(c.madeBootBuild);
    Made(made);
    c.before(*this);
    PowerCycle(c.starts);

    const SPowerUp up = power_cycle::PowerUp(made, CARRIED, writer.Memory(), writer.Summary());
    EXPECT_EQ(c.areas, (SAreas{up.bootBlock, up.mainBoot, up.application}));
    EXPECT_EQ(c.starts, !writer.IsGone());
    SSession fresh(writer);
    if (!c.starts) {
        EXPECT_EQ(CSimTransport::NO_WRITER_ERROR, fresh.link.Open());
        return;
    }
    ASSERT_EQ(0u, fresh.link.Open());
    std::uint32_t type = 0, version = 0, bootMode = 0, build = 0;
    ASSERT_EQ(RESULT_OK, fresh.link.Identify(&type, &version, &bootMode, &build));
    std::uint32_t mainVersion = 0, mainBuild = 0, secondaryVersion = 1, secondaryBuild = 1;
    ASSERT_EQ(RESULT_OK,
              fresh.link.GetBootVersions(&mainVersion, &mainBuild, &secondaryVersion, &secondaryBuild));
    EXPECT_EQ(16u, type);
    EXPECT_EQ(c.identified, (SIdentified{bootMode, version, build, mainVersion, mainBuild}));
    EXPECT_EQ(0u, secondaryVersion);
    EXPECT_EQ(0u, secondaryBuild);
}

// The application and current boot loader of the writer as made, in application mode;
// the same with the new loader; boot mode with either loader.
constexpr SIdentified AS_MADE{0, OLD_APP, OLD_APP_BUILD, OLD_BOOT, CURRENT_BUILD};
constexpr SIdentified EARLY_AS_MADE{0, OLD_APP, OLD_APP_BUILD, OLD_BOOT, EARLY_BUILD};
constexpr SIdentified OLD_APP_NEW_BOOT{0, OLD_APP, OLD_APP_BUILD, NEW_BOOT, NEW_BOOT_BUILD};
constexpr SIdentified NEW_APP_OLD_BOOT{0, NEW_APP, NEW_APP_BUILD, OLD_BOOT, CURRENT_BUILD};
constexpr SIdentified UPDATED{0, NEW_APP, NEW_APP_BUILD, NEW_BOOT, NEW_BOOT_BUILD};
constexpr SIdentified BOOT_MODE_OLD_BOOT{1, OLD_BOOT, CURRENT_BUILD, OLD_BOOT, CURRENT_BUILD};
constexpr SIdentified BOOT_MODE_NEW_BOOT{1, NEW_BOOT, NEW_BOOT_BUILD, NEW_BOOT, NEW_BOOT_BUILD};
constexpr SIdentified LOST{};

using B = PowerCycleBench;

INSTANTIATE_TEST_SUITE_P(
    Table, PowerCycleCase,
    ::testing::Values(
        // The application area.
        SPowerCycleCase{"NothingDone", CURRENT_BUILD, [](B&) {}, {MADE, MADE, MADE}, true, AS_MADE},
        SPowerCycleCase{"OnlyAnnounced",
                        CURRENT_BUILD,
                        [](B& b) { b.Link().SetImageCrc(Crc(APPLICATION)); },
                        {MADE, MADE, MADE},
                        true,
                        AS_MADE},
        SPowerCycleCase{"ApplicationVerified",
                        CURRENT_BUILD,
                        [](B& b) { b.VerifiedApplication(); },
                        {MADE, MADE, NEW},
                        true,
                        NEW_APP_OLD_BOOT},
        SPowerCycleCase{"ApplicationNotAnnounced",
                        CURRENT_BUILD,
                        [](B& b) { b.UnannouncedApplication(); },
                        {MADE, MADE, NONE},
                        true,
                        BOOT_MODE_OLD_BOOT},
        SPowerCycleCase{"ApplicationAnnouncedOtherCrc",
                        CURRENT_BUILD,
                        [](B& b) { b.Application(Crc(APPLICATION) ^ 1u); },
                        {MADE, MADE, NONE},
                        true,
                        BOOT_MODE_OLD_BOOT},
        SPowerCycleCase{"ApplicationCutBeforeItsFirstChunk",
                        CURRENT_BUILD,
                        [](B& b) {
                            b.CutBefore(CMD_PROGRAM_APPLICATION, 1);
                            b.VerifiedApplication();
                        },
                        {MADE, MADE, MADE},
                        true,
                        AS_MADE},
        SPowerCycleCase{"ApplicationCutBeforeItsLastChunk",
                        CURRENT_BUILD,
                        [](B& b) {
                            b.CutBefore(CMD_PROGRAM_APPLICATION, 3);
                            b.VerifiedApplication();
                        },
                        {MADE, MADE, NONE},
                        true,
                        BOOT_MODE_OLD_BOOT},
        SPowerCycleCase{"ApplicationVerifiedThenItsFirstUnitErased",
                        CURRENT_BUILD,
                        [](B& b) {
                            b.VerifiedApplication();
                            b.Erase(CSimMemory::APPLICATION_ADDRESS);
                        },
                        {MADE, MADE, NONE},
                        true,
                        BOOT_MODE_OLD_BOOT},
        SPowerCycleCase{"AreaErasedThenApplicationVerified",
                        CURRENT_BUILD,
                        [](B& b) {
                            b.Erase(CSimMemory::APPLICATION_ADDRESS);
                            b.VerifiedApplication();
                        },
                        {MADE, MADE, NEW},
                        true,
                        NEW_APP_OLD_BOOT},
        SPowerCycleCase{"AsMadeApplicationErasedBeyondItsStart",
                        CURRENT_BUILD,
                        [](B& b) { b.Erase(CSimMemory::APPLICATION_ADDRESS + 0x20000); },
                        {MADE, MADE, NONE},
                        true,
                        BOOT_MODE_OLD_BOOT},
        SPowerCycleCase{"VerifiedApplicationThenASecondCutShort",
                        CURRENT_BUILD,
                        [](B& b) {
                            b.VerifiedApplication();
                            b.CutBefore(CMD_PROGRAM_APPLICATION, 5);
                            b.VerifiedApplication();
                        },
                        {MADE, MADE, NONE},
                        true,
                        BOOT_MODE_OLD_BOOT},
        SPowerCycleCase{"BootImageInTheApplicationArea",
                        CURRENT_BUILD,
                        [](B& b) { b.Boot(CSimMemory::APPLICATION_ADDRESS); },
                        {MADE, MADE, NONE},
                        true,
                        BOOT_MODE_OLD_BOOT},
        // The current method: only the main boot area is rewritten.
        SPowerCycleCase{"CurrentMethodVerified",
                        CURRENT_BUILD,
                        [](B& b) { b.Boot(0x40000); },
                        {MADE, NEW, MADE},
                        true,
                        OLD_APP_NEW_BOOT},
        SPowerCycleCase{"CurrentMethodCutBeforeItsSecondChunk",
                        CURRENT_BUILD,
                        [](B& b) {
                            b.CutBefore(CMD_PROGRAM_BOOT, 2);
                            b.Boot(0x40000);
                        },
                        {MADE, NONE, MADE},
                        true,
                        AS_MADE},
        SPowerCycleCase{"CurrentMethodCutShortWithApplicationCutShort",
                        CURRENT_BUILD,
                        [](B& b) {
                            b.CutBefore(CMD_PROGRAM_BOOT, 3);
                            b.Boot(0x40000);
                            b.writer.PowerCycle(CARRIED);
                            b.session.reset();
                            b.CutBefore(CMD_PROGRAM_APPLICATION, 2);
                            b.VerifiedApplication();
                        },
                        {MADE, NONE, NONE},
                        true,
                        BOOT_MODE_OLD_BOOT},
        SPowerCycleCase{"CurrentMethodAndApplicationVerified",
                        CURRENT_BUILD,
                        [](B& b) {
                            b.Boot(0x40000);
                            b.VerifiedApplication();
                        },
                        {MADE, NEW, NEW},
                        true,
                        UPDATED},
        // The early method: the boot block itself is rewritten.
        SPowerCycleCase{"EarlyMethodVerified",
                        EARLY_BUILD,
                        [](B& b) { b.EarlyMethod(); },
                        {NEW, NONE, MADE},
                        true,
                        OLD_APP_NEW_BOOT},
        SPowerCycleCase{"EarlyMethodCutBeforeItsFirstChunk",
                        EARLY_BUILD,
                        [](B& b) {
                            b.CutBefore(CMD_PROGRAM_BOOT, 1);
                            b.EarlyMethod();
                        },
                        {MADE, NONE, MADE},
                        true,
                        EARLY_AS_MADE},
        SPowerCycleCase{"EarlyMethodCutBeforeItsSecondChunk",
                        EARLY_BUILD,
                        [](B& b) {
                            b.CutBefore(CMD_PROGRAM_BOOT, 2);
                            b.EarlyMethod();
                        },
                        {NONE, NONE, MADE},
                        false,
                        LOST},
        SPowerCycleCase{"EarlyMethodCutBeforeItsLastChunk",
                        EARLY_BUILD,
                        [](B& b) {
                            b.CutBefore(CMD_PROGRAM_BOOT, 4);
                            b.EarlyMethod();
                        },
                        {NONE, NONE, MADE},
                        false,
                        LOST},
        SPowerCycleCase{"BootBlockChangedAfterItsDownload",
                        EARLY_BUILD,
                        [](B& b) {
                            b.EarlyMethod();
                            const std::uint8_t byte = 0;
                            b.writer.Memory().Write(0x100, &byte, 1);
                        },
                        {NONE, NONE, MADE},
                        false,
                        LOST},
        SPowerCycleCase{"EarlyMethodThenApplicationCutShort",
                        EARLY_BUILD,
                        [](B& b) {
                            b.EarlyMethod();
                            b.CutBefore(CMD_PROGRAM_APPLICATION, 2);
                            b.VerifiedApplication();
                        },
                        {NEW, NONE, NONE},
                        true,
                        BOOT_MODE_NEW_BOOT},
        SPowerCycleCase{"EarlyMethodAndApplicationVerified",
                        EARLY_BUILD,
                        [](B& b) {
                            b.EarlyMethod();
                            b.VerifiedApplication();
                        },
                        {NEW, NONE, NEW},
                        true,
                        UPDATED},
        // An early loader never runs what is at 0x40000.
        SPowerCycleCase{"EarlyLoaderGivenTheCurrentMethod",
                        EARLY_BUILD,
                        [](B& b) { b.Boot(0x40000); },
                        {MADE, NEW, MADE},
                        true,
                        EARLY_AS_MADE},
        // A current loader whose main boot area was erased carries on from its copy.
        SPowerCycleCase{"CurrentLoaderMainBootAreaErased",
                        CURRENT_BUILD,
                        [](B& b) { b.Link().Erase(0x40000, 0x40000); },
                        {MADE, NONE, MADE},
                        true,
                        AS_MADE},
        // What a current loader in the boot block runs is the main boot area's loader,
        // as made only when the writer was made with a current one.
        SPowerCycleCase{"CurrentLoaderGivenTheEarlyMethod",
                        CURRENT_BUILD,
                        [](B& b) { b.EarlyMethod(); },
                        {NEW, NONE, MADE},
                        true,
                        OLD_APP_NEW_BOOT},
        SPowerCycleCase{"CurrentLoaderBootBlockRewrittenMainAreaKept",
                        CURRENT_BUILD,
                        [](B& b) { b.Boot(0); },
                        {NEW, MADE, MADE},
                        true,
                        AS_MADE},
        SPowerCycleCase{"EarlyLoaderBootBlockRewrittenMainAreaKept",
                        EARLY_BUILD,
                        [](B& b) { b.Boot(0); },
                        {NEW, MADE, MADE},
                        true,
                        OLD_APP_NEW_BOOT}),
    [](const ::testing::TestParamInfo<SPowerCycleCase>& param) { return std::string(param.param.name); });

TEST_F(PowerCycleBench, MadeInBootMode_StaysThereUntilAnApplicationIsVerified) {
    Made({16, OLD_BOOT, 1, CURRENT_BUILD, 0, 0, 0, 0});
    PowerCycle();
    EXPECT_EQ(1u, writer.Identity().bootMode);
    EXPECT_EQ(OLD_BOOT, writer.Identity().version);
    EXPECT_EQ(CURRENT_BUILD, writer.Identity().build);
    VerifiedApplication();
    PowerCycle();
    EXPECT_EQ((SWriterIdentity{16, NEW_APP, 0, NEW_APP_BUILD, OLD_BOOT, CURRENT_BUILD, 0, 0}),
              writer.Identity());
}

TEST_F(PowerCycleBench, SecondPowerCycleWithNothingDone_ChangesNothing) {
    CutBefore(CMD_PROGRAM_APPLICATION, 2);
    VerifiedApplication();
    PowerCycle();
    const SWriterIdentity first = writer.Identity();
    EXPECT_EQ(1u, first.bootMode);
    PowerCycle();
    EXPECT_EQ(first, writer.Identity());
}

TEST_F(PowerCycleBench, LostWriter_StaysLost) {
    Made(Solenne(EARLY_BUILD));
    CutBefore(CMD_PROGRAM_BOOT, 3);
    EarlyMethod();
    PowerCycle(false);
    PowerCycle(false);
    SSession fresh(writer);
    EXPECT_EQ(CSimTransport::NO_WRITER_ERROR, fresh.link.Open());
}

// An announcement made before the power went does not count for a download after it.
TEST_F(PowerCycleBench, AnnouncementBeforeThePowerCycle_IsForgotten) {
    Link().SetImageCrc(Crc(APPLICATION));
    PowerCycle();
    EXPECT_FALSE(writer.PendingCrc().has_value());
    UnannouncedApplication();
    ASSERT_FALSE(writer.Summary().downloads.empty());
    EXPECT_FALSE(writer.Summary().downloads.back().announcedCrc.has_value());
    PowerCycle();
    EXPECT_EQ(1u, writer.Identity().bootMode);
}

// A download cut off mid-way does not go on after the power cycle: its next chunk is a
// chunk without a download under way.
TEST_F(PowerCycleBench, DownloadUnderWay_EndsWithThePower) {
    CutBefore(CMD_PROGRAM_APPLICATION, 2);
    VerifiedApplication();
    PowerCycle();
    const std::uint32_t parameters[USB_PARAMETER_COUNT] = {16, 0, 140000, 65536, DOWNLOAD_MARKER};
    const std::vector<std::uint8_t> chunk =
        MakeReply(CMD_PROGRAM_APPLICATION, parameters, std::vector<std::uint8_t>(65536, 1));
    ASSERT_TRUE(writer.Violations().empty());
    writer.Write(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    EXPECT_EQ(1u, writer.Violations().size());
}

// The faults set before go with the power; one set afterwards counts from the power-up.
TEST_F(PowerCycleBench, Faults_CountFromThePowerUp) {
    writer.AddFault({CMD_IDENTIFY, 3, EFaultKind::NoReply, 0});
    for (int i = 0; i < 2; ++i) {
        session.reset();
        Link();  // one identify each
    }
    PowerCycle();
    writer.AddFault({CMD_IDENTIFY, 2, EFaultKind::NoReply, 0});
    SSession fresh(writer);
    ASSERT_EQ(0u, fresh.link.Open());
    EXPECT_EQ(RESULT_OK, fresh.link.Identify(nullptr, nullptr, nullptr, nullptr));  // the old third
    EXPECT_NE(RESULT_OK, fresh.link.Identify(nullptr, nullptr, nullptr, nullptr));  // the new second
    EXPECT_EQ(RESULT_OK, fresh.link.Identify(nullptr, nullptr, nullptr, nullptr));
}

TEST_F(PowerCycleBench, UnreadReply_IsDropped) {
    const std::uint32_t none[USB_PARAMETER_COUNT] = {};
    const std::vector<std::uint8_t> identify = MakeReply(CMD_IDENTIFY, none);
    writer.Write(identify.data(), static_cast<std::uint32_t>(identify.size()));
    PowerCycle();
    EXPECT_FALSE(writer.Read().has_value());
}

}  // namespace
