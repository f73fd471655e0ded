#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "tests/usb/writer_port_fixture.h"
#include "usb/transport_posix.h"

namespace {

// A writer port someone else may have planted. Each case is a working writer but for
// one thing, so a check that let that one thing pass would connect.
struct SPlantedPort {
    const char* name;
    // What the refusal line must say after "refused: "; "%u" stands for our uid.
    const char* reason;
    // Plants the port; false when this machine cannot (the case is skipped).
    std::function<bool(class PlantedPort& port)> plant;
};

void PrintTo(const SPlantedPort& planted, std::ostream* out) {
    *out << planted.name;
}

class PlantedPort : public WriterPortFixture, public ::testing::WithParamInterface<SPlantedPort> {
public:
    using WriterPortFixture::Listen;
    using WriterPortFixture::ListenAsNobody;
    using WriterPortFixture::ListenAt;
    using WriterPortFixture::MakePortDirectory;
    using WriterPortFixture::NOBODY;
    using WriterPortFixture::PortDirectory;
    using WriterPortFixture::Root;
};

std::string Expected(const char* reason) {
    std::string text = reason;
    if (const std::size_t at = text.find("%u"); at != std::string::npos) {
        text.replace(at, 2, std::to_string(geteuid()));
    }
    return text;
}

TEST_P(PlantedPort, OpenFails_TransportStaysClosed_NothingIsSent_OneLineSaysWhy) {
    if (!GetParam().plant(*this)) {
        GTEST_SKIP() << "cannot plant this here (not run as root?)";
    }
    std::ostringstream refusals;
    CWriterPortTransport transport(50, &refusals);
    EXPECT_NE(0u, transport.Open());
    const std::uint8_t packet[32] = {0x43, 0x56};
    EXPECT_EQ(0u, transport.Write(packet, sizeof packet));

    const std::string line =
        "writer port " + PortDirectory().string() + ": refused: " + Expected(GetParam().reason) + "\n";
    EXPECT_EQ(line, refusals.str());
    for (const int listener : Listeners()) {
        EXPECT_TRUE(NothingArrived(listener));
    }
}

bool Chown(const std::filesystem::path& path) {
    return lchown(path.c_str(), PlantedPort::NOBODY, PlantedPort::NOBODY) == 0;
}

const SPlantedPort PLANTED_PORTS[] = {
    {"SymlinkedDirectory", "is a symbolic link",
     [](PlantedPort& port) {
         const std::filesystem::path real = port.Root() / "real";
         std::filesystem::create_directory(real);
         std::filesystem::permissions(real, std::filesystem::perms::owner_all);
         port.ListenAt(real / "writer");
         std::filesystem::create_directory_symlink(real, port.PortDirectory());
         return true;
     }},
    {"DirectoryOpenToItsGroup", "group or others have access (mode 0750)",
     [](PlantedPort& port) {
         port.Listen("writer");
         return chmod(port.PortDirectory().c_str(), 0750) == 0;
     }},
    {"DirectoryOpenToEveryone", "group or others have access (mode 0777)",
     [](PlantedPort& port) {
         port.Listen("writer");
         return chmod(port.PortDirectory().c_str(), 0777) == 0;
     }},
    {"DirectoryOfAnotherUser", "owned by uid 65534, not by uid %u",
     [](PlantedPort& port) {
         port.Listen("writer");
         return Chown(port.PortDirectory());
     }},
    {"PortIsAFile", "is not a directory",
     [](PlantedPort& port) {
         std::ofstream(port.PortDirectory()) << "not a directory";
         return true;
     }},
    {"FirstEntryIsAFile", "a-writer is not a socket",
     [](PlantedPort& port) {
         port.Listen("b-writer");  // a real writer, but not the first: never looked at
         std::ofstream(port.PortDirectory() / "a-writer") << "not a socket";
         return true;
     }},
    {"FirstEntryIsAFifo", "a-writer is not a socket",
     [](PlantedPort& port) {
         port.Listen("b-writer");
         return mkfifo((port.PortDirectory() / "a-writer").c_str(), 0600) == 0;
     }},
    {"FirstEntryLinksToASocketElsewhere", "a-writer is not a socket",
     [](PlantedPort& port) {
         port.MakePortDirectory();
         port.ListenAt(port.Root() / "elsewhere");
         std::filesystem::create_symlink(port.Root() / "elsewhere", port.PortDirectory() / "a-writer");
         return true;
     }},
    {"SocketOfAnotherUser", "writer is owned by uid 65534, not by uid %u",
     [](PlantedPort& port) {
         port.Listen("writer");
         return Chown(port.PortDirectory() / "writer");
     }},
    {"PeerOfAnotherUser", "the peer runs as uid 65534, not as uid %u",
     [](PlantedPort& port) {
         port.MakePortDirectory();
         return port.ListenAsNobody(port.PortDirectory() / "writer");
     }},
};

INSTANTIATE_TEST_SUITE_P(Cases, PlantedPort, ::testing::ValuesIn(PLANTED_PORTS),
                         [](const ::testing::TestParamInfo<SPlantedPort>& planted) {
                             return planted.param.name;
                         });

}  // namespace
