#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_writer.h"
#include "sim/writer_port_server_posix.h"
#include "usb/transport_posix.h"
#include "usb/usb_codes.h"
#include "usb/usb_header.h"

namespace {

std::vector<std::uint8_t> Request(std::uint16_t command, std::uint32_t sequence,
                                  std::uint32_t payloadSize = 0) {
    SUsbHeader header;
    header.magic = PACKET_MAGIC;
    header.sequence = sequence;
    header.command = command;
    header.length = payloadSize;
    std::vector<std::uint8_t> packet(USB_HEADER_SIZE + payloadSize, 0x5A);
    WriteUsbHeader(packet.data(), header);
    return packet;
}

// A socket bound at `path`, not listening.
int BoundSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    EXPECT_EQ(bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    return fd;
}

// A writer served on a writer port in a private runtime directory, on its own thread;
// the test talks to it as the updater does.
struct WriterPortServer : ::testing::Test {
    std::filesystem::path runtime;
    std::optional<std::string> previousRuntime;
    CSimWriter writer{SWriterIdentity{.machineType = 17}};
    std::optional<CWriterPortServer> server;
    std::thread serving;
    bool served = false;
    std::string error;

    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "tessel-port-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        runtime = pattern;
        if (const char* previous = std::getenv("XDG_RUNTIME_DIR")) {
            previousRuntime = previous;
        }
        setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
        server.emplace(writer, WriterPortDirectory(), "writer-sim");
    }
    void TearDown() override {
        if (serving.joinable()) {
            // A test that failed before connecting would leave the server waiting in
            // accept; a connection that closes at once lets it return.
            CWriterPortTransport unblock;
            unblock.Open();
            unblock.Close();
            serving.join();
        }
        server.reset();
        if (previousRuntime) {
            setenv("XDG_RUNTIME_DIR", previousRuntime->c_str(), 1);
        } else {
            unsetenv("XDG_RUNTIME_DIR");
        }
        std::filesystem::remove_all(runtime);
    }

    void Serve() {
        ASSERT_TRUE(server->Listen(error)) << error;
        serving = std::thread([this] { served = server->ServeConnection(nullptr, error); });
    }
    // Waits for the server to see the connection end; only then may the test look at
    // the writer.
    void Finish() {
        serving.join();
        EXPECT_TRUE(served) << error;
    }
};

TEST_F(WriterPortServer, Listen_ReplacesAStaleSocket) {
    // What a killed writer-sim leaves behind: a socket nobody listens on.
    ASSERT_EQ(mkdir(WriterPortDirectory().c_str(), 0700), 0);
    const int stale = BoundSocket(WriterPortDirectory() + "/writer-sim");
    close(stale);
    ASSERT_TRUE(server->Listen(error)) << error;
    CWriterPortTransport transport(50, nullptr);
    EXPECT_EQ(transport.Open(), 0u);  // the new socket listens
}

TEST_F(WriterPortServer, Listen_MissingDirectory_IsCreatedWithMode0700) {
    ASSERT_TRUE(server->Listen(error)) << error;
    struct stat info {};
    ASSERT_EQ(stat(WriterPortDirectory().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
}

TEST_F(WriterPortServer, Request_IsAnsweredWithOneMessage) {
    Serve();
    CWriterPortTransport transport;
    ASSERT_EQ(transport.Open(), 0u);
    const std::vector<std::uint8_t> identify = Request(CMD_IDENTIFY, 1);
    ASSERT_EQ(transport.Write(identify.data(), static_cast<std::uint32_t>(identify.size())), identify.size());
    std::vector<std::uint8_t> reply(PACKET_BUFFER_SIZE);
    ASSERT_EQ(transport.Read(reply.data(), PACKET_BUFFER_SIZE), USB_HEADER_SIZE);
    const SUsbHeader header = ReadUsbHeader(reply.data());
    EXPECT_EQ(header.command, CMD_IDENTIFY);
    EXPECT_EQ(header.parameter[0], 17u);
    transport.Close();
    Finish();
    EXPECT_EQ(writer.Transcript().size(), 1u);
}

TEST_F(WriterPortServer, NoReplyFault_SendsNothing_TheNextRequestIsStillAnswered) {
    writer.AddFault(SFault{CMD_SHOW_TEXT, 1, EFaultKind::NoReply, 0});
    Serve();
    CWriterPortTransport transport;
    ASSERT_EQ(transport.Open(), 0u);
    const std::vector<std::uint8_t> showText = Request(CMD_SHOW_TEXT, 1);
    const std::vector<std::uint8_t> identify = Request(CMD_IDENTIFY, 2);
    transport.Write(showText.data(), static_cast<std::uint32_t>(showText.size()));
    transport.Write(identify.data(), static_cast<std::uint32_t>(identify.size()));
    // Replies keep the order of the requests, so the first to arrive answers the second.
    std::vector<std::uint8_t> reply(PACKET_BUFFER_SIZE);
    ASSERT_EQ(transport.Read(reply.data(), PACKET_BUFFER_SIZE), USB_HEADER_SIZE);
    EXPECT_EQ(ReadUsbHeader(reply.data()).command, CMD_IDENTIFY);
    transport.Close();
    Finish();
    EXPECT_EQ(writer.Transcript().size(), 2u);
}

TEST_F(WriterPortServer, GoneFault_DropsTheConnection) {
    writer.AddFault(SFault{CMD_IDENTIFY, 1, EFaultKind::Gone, 0});
    Serve();
    CWriterPortTransport transport;
    ASSERT_EQ(transport.Open(), 0u);
    const std::vector<std::uint8_t> identify = Request(CMD_IDENTIFY, 1);
    transport.Write(identify.data(), static_cast<std::uint32_t>(identify.size()));
    std::vector<std::uint8_t> reply(PACKET_BUFFER_SIZE);
    EXPECT_EQ(transport.Read(reply.data(), PACKET_BUFFER_SIZE), 0u);  // the hang-up ends the wait at once
    Finish();
    EXPECT_TRUE(writer.IsGone());
}

TEST_F(WriterPortServer, OversizedRequest_IsCutToTheLargestPacket) {
    Serve();
    const int fd = socket(AF_UNIX, SOCK_SEQPACKET, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, server->Path().c_str(), sizeof(address.sun_path) - 1);
    ASSERT_EQ(connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    const std::vector<std::uint8_t> huge = Request(CMD_SHOW_TEXT, 1, 70000);
    ASSERT_EQ(send(fd, huge.data(), huge.size(), 0), static_cast<ssize_t>(huge.size()));
    std::vector<std::uint8_t> reply(PACKET_BUFFER_SIZE);
    EXPECT_GT(recv(fd, reply.data(), reply.size(), 0), 0);
    close(fd);
    Finish();
    EXPECT_EQ(server->OversizedRequests(), 1u);
    ASSERT_EQ(writer.Transcript().size(), 1u);
    EXPECT_EQ(writer.Transcript()[0].payload.size(), CWriterPortServer::MAX_MESSAGE_SIZE - USB_HEADER_SIZE);
}

TEST_F(WriterPortServer, StopReadingAfterOne_AnswersOne_ThenReadsNothingUntilTheHangUp) {
    bool stopped = false;
    server->StopReadingAfter(1, [&stopped] { stopped = true; });
    Serve();
    CWriterPortTransport transport(50, nullptr);
    ASSERT_EQ(transport.Open(), 0u);
    const std::vector<std::uint8_t> identify = Request(CMD_IDENTIFY, 1);
    std::vector<std::uint8_t> reply(PACKET_BUFFER_SIZE);
    ASSERT_EQ(transport.Write(identify.data(), USB_HEADER_SIZE), USB_HEADER_SIZE);
    ASSERT_EQ(transport.Read(reply.data(), PACKET_BUFFER_SIZE), USB_HEADER_SIZE);

    ASSERT_EQ(transport.Write(identify.data(), USB_HEADER_SIZE), USB_HEADER_SIZE);
    EXPECT_EQ(transport.Read(reply.data(), PACKET_BUFFER_SIZE), 0u);
    // Unread, the requests fill the socket until one finds no room.
    const std::vector<std::uint8_t> chunk = Request(CMD_PROGRAM_APPLICATION, 3, MAX_PAYLOAD_SIZE);
    bool writeFailed = false;
    for (int i = 0; i < 256 && !writeFailed; ++i) {
        writeFailed = transport.Write(chunk.data(), static_cast<std::uint32_t>(chunk.size())) == 0;
    }
    EXPECT_TRUE(writeFailed);
    transport.Close();
    Finish();
    EXPECT_TRUE(stopped);
    EXPECT_EQ(writer.Transcript().size(), 1u);
}

TEST_F(WriterPortServer, FilledListenQueue_TheUpdatersConnectEndsAtItsTimeout) {
    ASSERT_TRUE(server->Listen(error)) << error;
    ASSERT_TRUE(server->FillListenQueue(error)) << error;
    CWriterPortTransport transport(50, nullptr);
    EXPECT_EQ(transport.Open(), static_cast<std::uint32_t>(ETIMEDOUT));
}

// A writer-port directory, or an entry of the server's name, that someone else may have
// planted. The server must not listen there and must leave `survivor` as it was.
struct SPlantedServerPort {
    const char* name;
    const char* reason;  // part of the error; "%u" stands for our uid
    // Plants under the runtime directory; false when this machine cannot.
    std::function<bool(const std::filesystem::path& runtime)> plant;
    const char* survivor;  // relative to the runtime directory
};

void PrintTo(const SPlantedServerPort& planted, std::ostream* out) {
    *out << planted.name;
}

class PlantedServerPort : public WriterPortServer,
                          public ::testing::WithParamInterface<SPlantedServerPort> {};

// What the test compares of the survivor: its kind and, for a file, its contents.
std::string Describe(const std::filesystem::path& path) {
    const std::filesystem::file_status status = std::filesystem::symlink_status(path);
    std::string text = std::to_string(static_cast<int>(status.type()));
    if (status.type() == std::filesystem::file_type::regular) {
        // Read through a string stream: GCC 12 at -O3 takes a string built straight from
        // the file's stream iterators for a null dereference.
        std::ifstream file(path);
        std::ostringstream contents;
        contents << file.rdbuf();
        text += ":" + contents.str();
    }
    return text;
}

TEST_P(PlantedServerPort, ListenIsRefused_AndNothingThereIsRemoved) {
    if (!GetParam().plant(runtime)) {
        GTEST_SKIP() << "cannot plant this here (not run as root?)";
    }
    const std::filesystem::path survivor = runtime / GetParam().survivor;
    const std::string before = Describe(survivor);

    EXPECT_FALSE(server->Listen(error));
    std::string reason = GetParam().reason;
    if (const std::size_t at = reason.find("%u"); at != std::string::npos) {
        reason.replace(at, 2, std::to_string(geteuid()));
    }
    EXPECT_NE(error.find("refused: " + reason), std::string::npos) << error;
    server.reset();
    EXPECT_EQ(Describe(survivor), before);
}

constexpr uid_t NOBODY = 65534;

// A private directory at `path` holding a stale socket named writer-sim.
bool DirectoryWithStaleSocket(const std::filesystem::path& path) {
    if (mkdir(path.c_str(), 0700) != 0) {
        return false;
    }
    close(BoundSocket((path / "writer-sim").string()));
    return true;
}

const SPlantedServerPort PLANTED_SERVER_PORTS[] = {
    {"DirectoryOpenToOthers", "group or others have access (mode 0755)",
     [](const std::filesystem::path& runtime) {
         const std::filesystem::path port = runtime / "steno-writers";
         return DirectoryWithStaleSocket(port) && chmod(port.c_str(), 0755) == 0;
     },
     "steno-writers/writer-sim"},
    {"SymlinkedDirectory", "is a symbolic link",
     [](const std::filesystem::path& runtime) {
         std::filesystem::create_directory_symlink(runtime / "elsewhere", runtime / "steno-writers");
         return DirectoryWithStaleSocket(runtime / "elsewhere");
     },
     "elsewhere/writer-sim"},
    {"DirectoryOfAnotherUser", "owned by uid 65534, not by uid %u",
     [](const std::filesystem::path& runtime) {
         const std::filesystem::path port = runtime / "steno-writers";
         return DirectoryWithStaleSocket(port) && chown(port.c_str(), NOBODY, NOBODY) == 0;
     },
     "steno-writers/writer-sim"},
    {"EntryOfItsNameIsNotASocket", "writer-sim is not a socket, so it is left alone",
     [](const std::filesystem::path& runtime) {
         const std::filesystem::path port = runtime / "steno-writers";
         if (mkdir(port.c_str(), 0700) != 0) {
             return false;
         }
         std::ofstream(port / "writer-sim") << "someone's notes";
         return true;
     },
     "steno-writers/writer-sim"},
};

INSTANTIATE_TEST_SUITE_P(Cases, PlantedServerPort, ::testing::ValuesIn(PLANTED_SERVER_PORTS),
                         [](const ::testing::TestParamInfo<SPlantedServerPort>& planted) {
                             return planted.param.name;
                         });

}  // namespace
