#include "tests/fault/hostile_run.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <vector>

#include "images/byte_buffer.h"
#include "images/crc32.h"
#include "images/resource_source.h"
#include "sim/sim_writer.h"
#include "tools/lzari_packer.h"
#include "update/recording_host.h"
#include "update/update_job.h"
#include "usb/recording_clock.h"
#include "usb/transport.h"
#include "usb/usb_codes.h"
#include "usb/usb_header.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define TESSEL_HOSTILE_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define TESSEL_HOSTILE_ASAN 1
#endif
#if defined(TESSEL_HOSTILE_ASAN)
#include <sanitizer/asan_interface.h>
#endif

namespace hostile_run {

namespace {

constexpr std::uint32_t APPLICATION_ADDRESS = 0x80000;
// A writer that is still asked after this many requests is caught in a loop.
constexpr std::uint32_t MAX_REQUESTS = 20000;

// Deterministic bytes with the repeats of machine code, so the images pack like code.
std::vector<std::uint8_t> MakeImage(std::size_t size, std::uint32_t seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = seed;
    for (std::size_t i = 0; i < size; ++i) {
        state = state * 1103515245u + 12345u;
        bytes[i] = (i % 7 < 3) ? static_cast<std::uint8_t>(i / 64) : static_cast<std::uint8_t>(state >> 24);
    }
    return bytes;
}

struct SImages {
    std::vector<std::uint8_t> boot = MakeImage(300, 0xB007);
    std::vector<std::uint8_t> application = MakeImage(400, 0xA99);
    std::vector<std::uint8_t> packedBoot = PackLzari(boot);
    std::vector<std::uint8_t> packedApplication = PackLzari(application);
};

const SImages& Images() {
    static const SImages images;
    return images;
}

std::uint32_t RawCrc(const std::vector<std::uint8_t>& bytes) {
    CCrc32 crc;
    crc.Update(bytes.data(), bytes.size());
    return crc.Value();
}

class CImageResources final : public IResourceSource {
public:
    std::optional<std::span<const std::uint8_t>> Find(std::uint32_t id) const override {
        if (id == IDR_BOOT_IMAGE) {
            return std::span<const std::uint8_t>(Images().packedBoot);
        }
        if (id == IDR_APPLICATION_IMAGE) {
            return std::span<const std::uint8_t>(Images().packedApplication);
        }
        return std::nullopt;
    }
    std::optional<SImageRecord> FindRecord(std::uint32_t id) const override {
        const SImages& images = Images();
        if (id == IDR_BOOT_IMAGE) {
            return SImageRecord{static_cast<std::uint32_t>(images.boot.size()), RawCrc(images.boot)};
        }
        if (id == IDR_APPLICATION_IMAGE) {
            return SImageRecord{static_cast<std::uint32_t>(images.application.size()),
                                RawCrc(images.application)};
        }
        return std::nullopt;
    }
};

// A writer-reported geometry may ask for large read-back buffers; beyond this the run
// takes its out-of-memory path instead of the machine's memory.
class CBoundedAllocator final : public IAllocator {
public:
    ByteBuffer Allocate(std::size_t size) override {
        if (size > 8u << 20) {
            return nullptr;
        }
        return ByteBuffer(new (std::nothrow) std::uint8_t[size]);
    }
};

struct SIdentity {
    std::uint32_t type, version, bootMode, build, mainBootVersion, mainBootBuild;
};

SIdentity PickIdentity(std::uint8_t choice) {
    switch (choice & 3u) {
        case 0:  // old application, current boot loader that is outdated
            return {16, 0x02050000, 0, 14000, 0x01070000, 8000};
        case 1:  // early boot loader
            return {16, 0x02050000, 0, 14000, 0x01070000, 3183};
        case 2:  // boot mode
            return {17, 0x01080000, 1, 3000, 0, 0};
        default:  // up to date but newer application: asks before the downgrade
            return {17, 0x02070000, 0, 14186, 0x01080000, 8462};
    }
}

// A writer that keeps the protocol, kept small so that a run costs little: its memory
// holds only what downloads wrote (the rest reads as erased flash), and it reports a
// small boot geometry so that read-backs are short; the boot image still needs both
// blocks of its layout.
class CHonestWriter {
public:
    static constexpr std::uint32_t BOOT_BLOCK = 0x100;
    static constexpr std::uint32_t BOOT_RESERVE = 32;
    static constexpr std::uint32_t MAX_DOWNLOAD = 4u << 20;

    // The segments' storage outlives the writer, so that a run does not map and fault
    // in fresh pages for every download; each new writer starts with none in use.
    explicit CHonestWriter(const SIdentity& identity) : m_identity(identity), m_segments(SegmentArena()) {
        for (SSegment& segment : m_segments) {
            segment.inUse = false;
        }
    }

    std::vector<std::uint8_t> Answer(const SUsbHeader& request, const std::uint8_t* payload,
                                     std::uint32_t payloadSize) {
        const std::uint32_t* p = request.parameter;
        switch (request.command) {
            case CMD_IDENTIFY:
                return MakeReply(CMD_IDENTIFY, {m_identity.type, m_identity.version, m_identity.bootMode,
                                                m_identity.build, 0});
            case CMD_BOOT_VERSIONS:
                return MakeReply(CMD_BOOT_VERSIONS,
                                 {m_identity.mainBootVersion, m_identity.mainBootBuild, 0, 0, 0});
            case CMD_INFO_BLOCK: {
                std::vector<std::uint8_t> block(44, 0);
                WriteLittleEndian32(block.data() + 36, BOOT_BLOCK);
                WriteLittleEndian32(block.data() + 40, BOOT_RESERVE);
                return MakeReply(CMD_INFO_BLOCK, {0, 0, 0, 0, 0}, block);
            }
            case CMD_READ_MEMORY: {
                if (p[1] > MAX_PAYLOAD_SIZE) {
                    return MakeReply(CMD_ERROR, {0x23, 0, 0, 0, 0});
                }
                return MakeReply(CMD_READ_MEMORY, {p[0], p[1], 0, 0, 0}, Read(p[0], p[1]));
            }
            case CMD_ERASE:
                for (SSegment& segment : m_segments) {
                    if (segment.inUse && segment.base < std::uint64_t{p[0]} + p[1] &&
                        p[0] < segment.base + segment.bytes.size()) {
                        std::fill(segment.bytes.begin(), segment.bytes.end(), std::uint8_t{0xFF});
                    }
                }
                return MakeReply(CMD_ERASE, {p[0], p[1], 0, 0, 0});
            case CMD_PROGRAM_APPLICATION:
            case CMD_PROGRAM_BOOT:
                return Download(request, payload, payloadSize);
            case CMD_SET_IMAGE_CRC:
                m_announcedCrc = p[0];
                return MakeReply(request.command, {0, 0, 0, 0, 0});
            case CMD_RESTART:
                m_restartReceived = true;
                return MakeReply(request.command, {0, 0, 0, 0, 0});
            case CMD_SHOW_TEXT:
                return MakeReply(request.command, {0, 0, 0, 0, 0});
            default:
                return MakeReply(CMD_ERROR, {1, 0, 0, 0, 0});
        }
    }

    // The bytes the last download to `base` left there, or null.
    const std::vector<std::uint8_t>* SegmentAt(std::uint32_t base) const {
        for (const SSegment& segment : m_segments) {
            if (segment.inUse && segment.base == base) {
                return &segment.bytes;
            }
        }
        return nullptr;
    }
    std::uint32_t CompleteDownloads() const { return m_completeDownloads; }
    std::uint32_t DownloadsMatchingCrc() const { return m_downloadsMatchingCrc; }
    bool RestartReceived() const { return m_restartReceived; }

private:
    struct SSegment {
        std::uint32_t base = 0;
        std::vector<std::uint8_t> bytes;
        bool inUse = false;
    };

    static std::vector<SSegment>& SegmentArena() {
        static std::vector<SSegment> arena;
        return arena;
    }

    // Erased flash where no download wrote.
    std::vector<std::uint8_t> Read(std::uint32_t address, std::uint32_t length) const {
        std::vector<std::uint8_t> block(length, 0xFF);
        const std::uint64_t end = std::uint64_t{address} + length;
        for (const SSegment& segment : m_segments) {
            if (!segment.inUse) {
                continue;
            }
            const std::uint64_t from = std::max<std::uint64_t>(address, segment.base);
            const std::uint64_t to = std::min<std::uint64_t>(end, segment.base + segment.bytes.size());
            if (from < to) {
                std::copy(segment.bytes.begin() + static_cast<std::ptrdiff_t>(from - segment.base),
                          segment.bytes.begin() + static_cast<std::ptrdiff_t>(to - segment.base),
                          block.begin() + static_cast<std::ptrdiff_t>(from - address));
            }
        }
        return block;
    }

    std::vector<std::uint8_t> Download(const SUsbHeader& request, const std::uint8_t* payload,
                                       std::uint32_t payloadSize) {
        const std::uint32_t* p = request.parameter;
        const std::uint32_t base = request.command == CMD_PROGRAM_BOOT ? p[1] : APPLICATION_ADDRESS;
        if (p[3] == 0) {
            if (p[2] > MAX_DOWNLOAD) {
                return MakeReply(CMD_ERROR, {0x22, 0, 0, 0, 0});
            }
            SSegment* fresh = nullptr;
            for (SSegment& segment : m_segments) {
                if (segment.inUse && segment.base == base) {
                    segment.inUse = false;
                }
                if (!segment.inUse && fresh == nullptr) {
                    fresh = &segment;
                }
            }
            if (fresh == nullptr) {
                fresh = &m_segments.emplace_back();
            }
            fresh->base = base;
            fresh->bytes.assign(p[2], 0xFF);
            fresh->inUse = true;
            // The announcement belongs to the download that follows it.
            m_downloadAnnounced = m_announcedCrc;
            m_announcedCrc.reset();
            m_downloadCrc.Reset();
            m_downloadReceived = 0;
        }
        for (SSegment& segment : m_segments) {
            if (segment.inUse && segment.base == base && p[3] <= segment.bytes.size() &&
                payloadSize <= segment.bytes.size() - p[3]) {
                std::copy(payload, payload + payloadSize, segment.bytes.begin() + p[3]);
                TakeChunk(payload, payloadSize, p[2]);
                return MakeReply(CMD_CHUNK_ACCEPTED, {0, 0, 0, 0, 0});
            }
        }
        return MakeReply(CMD_ERROR, {0x21, 0, 0, 0, 0});
    }

    // Counts a download that reached its announced total, and whether its bytes have
    // the CRC announced before it.
    void TakeChunk(const std::uint8_t* payload, std::uint32_t size, std::uint32_t total) {
        m_downloadCrc.Update(payload, size);
        m_downloadReceived += size;
        if (m_downloadReceived == total) {
            ++m_completeDownloads;
            if (m_downloadAnnounced && *m_downloadAnnounced == m_downloadCrc.Value()) {
                ++m_downloadsMatchingCrc;
            }
        }
    }

    SIdentity m_identity;
    std::vector<SSegment>& m_segments;
    std::optional<std::uint32_t> m_announcedCrc;
    std::optional<std::uint32_t> m_downloadAnnounced;
    CCrc32 m_downloadCrc;
    std::uint32_t m_downloadReceived = 0;
    std::uint32_t m_completeDownloads = 0;
    std::uint32_t m_downloadsMatchingCrc = 0;
    bool m_restartReceived = false;
};

class CScript {
public:
    CScript(const std::uint8_t* data, std::size_t size) : m_data(data), m_size(size) {}
    bool Empty() const { return m_position >= m_size; }
    std::uint8_t Byte() { return Empty() ? 0 : m_data[m_position++]; }
    std::uint32_t Word(std::uint32_t bytes) {
        std::uint32_t value = 0;
        for (std::uint32_t i = 0; i < bytes; ++i) {
            value |= static_cast<std::uint32_t>(Byte()) << (8 * i);
        }
        return value;
    }
    std::vector<std::uint8_t> Bytes(std::size_t count) {
        const std::size_t taken = std::min(count, m_size - std::min(m_position, m_size));
        std::vector<std::uint8_t> bytes(m_data + m_position, m_data + m_position + taken);
        m_position += taken;
        return bytes;
    }

private:
    const std::uint8_t* m_data;
    std::size_t m_size;
    std::size_t m_position = 0;
};

enum class EReply : std::uint8_t { Honest, Nothing, ShortRead, Raw, EditedHeader, Cut, Junk, Unplugged };

// The wire of the run: requests reach the simulated writer, replies are what the script
// makes of the writer's answers. It also checks every packet the link writes.
class CScriptedTransport final : public ITransport {
public:
    CScriptedTransport(CHonestWriter& writer, CScript& script) : m_writer(writer), m_script(script) {}

    std::uint32_t Open() override {
        Note(m_opens > 0 ? "opened twice" : "");
        ++m_opens;
        m_open = true;
        return 0;
    }

    std::uint32_t Write(const std::uint8_t* data, std::uint32_t size) override {
        if (!m_open) {
            Note("write on a closed link");
            return 0;
        }
        if (size < USB_HEADER_SIZE || size > PACKET_BUFFER_SIZE) {
            Note("request of " + std::to_string(size) + " bytes");
            return 0;
        }
        const SUsbHeader header = ReadUsbHeader(data);
        if (header.sequence != m_nonEmptyReads) {
            Note("sequence " + std::to_string(header.sequence) + " after " + std::to_string(m_nonEmptyReads) +
                 " non-empty reads");
        }
        if (!m_inRequest) {
            StartRequest(header, data);
        }
        if (m_failingWrites > 0) {
            --m_failingWrites;
            return 0;
        }
        if (m_unplugged || m_delivered) {
            return m_unplugged ? 0 : size;
        }
        m_delivered = true;
        const std::uint32_t payload = std::min(header.length, size - USB_HEADER_SIZE);
        m_answer = m_writer.Answer(header, data + USB_HEADER_SIZE, payload);
        return size;
    }

    std::uint32_t Read(std::uint8_t* buffer, std::uint32_t capacity) override {
        if (!m_open) {
            Note("read on a closed link");
            return 0;
        }
        m_inRequest = false;
        std::optional<std::vector<std::uint8_t>> answer;
        if (m_delivered) {
            answer = std::move(m_answer);
            m_delivered = false;
        }
        const std::vector<std::uint8_t> reply = MakeReply(std::move(answer));
        // The reply lives in a heap block of exactly its size while it is copied in, and
        // the part of the link's buffer it did not fill is poisoned until the next read.
        Unpoison(buffer, capacity);
        const auto size = static_cast<std::uint32_t>(std::min<std::size_t>(reply.size(), capacity));
        if (size > 0) {
            const auto exact = std::make_unique<std::uint8_t[]>(reply.size());
            std::memcpy(exact.get(), reply.data(), reply.size());
            std::memcpy(buffer, exact.get(), size);
            ++m_nonEmptyReads;
            Observe(buffer, size);
        }
        Poison(buffer + size, capacity - size);
        m_lastBuffer = buffer;
        m_lastCapacity = capacity;
        return size;
    }

    void Control(std::uint32_t code) override {
        if (!m_open || code != CONTROL_RESET) {
            Note("control request " + std::to_string(code));
        }
    }

    std::uint32_t Close() override {
        Note(m_open ? "" : "closed twice");
        ++m_closes;
        m_open = false;
        // The link's buffer goes with the link; its poison must not outlive this run.
        if (m_lastBuffer != nullptr) {
            Unpoison(m_lastBuffer, m_lastCapacity);
            m_lastBuffer = nullptr;
        }
        return 0;
    }

    void ReleasePoison() {
        if (m_lastBuffer != nullptr) {
            Unpoison(m_lastBuffer, m_lastCapacity);
            m_lastBuffer = nullptr;
        }
    }

    const std::string& Failure() const { return m_failure; }
    std::uint32_t Opens() const { return m_opens; }
    std::uint32_t Closes() const { return m_closes; }
    bool IsOpen() const { return m_open; }
    bool RestartSent() const { return m_restartSent; }
    bool ApplicationSent() const { return m_applicationSent; }

private:
    void Note(const std::string& failure) {
        if (!failure.empty() && m_failure.empty()) {
            m_failure = failure;
        }
    }

    static void Poison(std::uint8_t* begin, std::uint32_t size) {
#if defined(TESSEL_HOSTILE_ASAN)
        ASAN_POISON_MEMORY_REGION(begin, size);
#else
        (void)begin;
        (void)size;
#endif
    }
    static void Unpoison(std::uint8_t* begin, std::uint32_t size) {
#if defined(TESSEL_HOSTILE_ASAN)
        ASAN_UNPOISON_MEMORY_REGION(begin, size);
#else
        (void)begin;
        (void)size;
#endif
    }

    // A new request: the script decides what becomes of it.
    void StartRequest(const SUsbHeader& header, const std::uint8_t* data) {
        m_inRequest = true;
        m_delivered = false;
        m_request = header;
        if (++m_requests > MAX_REQUESTS) {
            Note("more than " + std::to_string(MAX_REQUESTS) + " requests: the run does not end");
            m_unplugged = true;
        }
        const std::uint8_t control = m_script.Empty() ? 1 : m_script.Byte();
        m_reply = static_cast<EReply>(control & 7u);
        m_failingWrites = (control >> 3) & 3u;
        if (m_reply == EReply::Unplugged) {
            m_unplugged = true;
        }
        switch (m_reply) {
            case EReply::ShortRead:
                m_amount = 1 + m_script.Byte() % 31;
                break;
            case EReply::Raw:
                m_bytes = m_script.Bytes(m_script.Word(2));
                break;
            case EReply::EditedHeader:
                m_amount = m_script.Byte();
                m_value = m_script.Word(4);
                break;
            case EReply::Cut:
                m_amount = m_script.Word(2);
                break;
            case EReply::Junk:
                m_bytes = m_script.Bytes(m_script.Byte());
                break;
            default:
                break;
        }
        if (header.command == CMD_PROGRAM_APPLICATION) {
            m_applicationSent = true;
            if (header.parameter[3] == 0) {
                // A new attempt: what was read back before belongs to an older download.
                m_seen.assign(Images().application.size(), false);
                m_readBack.assign(Images().application.size(), 0);
            }
        }
        if (header.command == CMD_RESTART) {
            m_restartSent = true;
            CheckVerified();
        }
        (void)data;
    }

    std::vector<std::uint8_t> MakeReply(std::optional<std::vector<std::uint8_t>> answer) {
        if (m_unplugged) {
            return {};
        }
        switch (m_reply) {
            case EReply::Honest:
                return answer.value_or(std::vector<std::uint8_t>{});
            case EReply::Nothing:
            case EReply::Unplugged:
                return {};
            case EReply::ShortRead: {
                std::vector<std::uint8_t> reply = answer.value_or(std::vector<std::uint8_t>(31, 0xA5));
                reply.resize(std::min<std::size_t>(reply.size(), m_amount));
                return reply;
            }
            case EReply::Raw:
                return m_bytes;
            case EReply::EditedHeader: {
                if (!answer || answer->size() < USB_HEADER_SIZE) {
                    return answer.value_or(std::vector<std::uint8_t>{});
                }
                std::uint8_t* header = answer->data();
                const std::uint32_t field = m_amount % 8;
                if (field == 0) {
                    WriteLittleEndian16(header + HEADER_OFFSET_COMMAND, static_cast<std::uint16_t>(m_value));
                } else if (field == 1) {
                    WriteLittleEndian32(header + HEADER_OFFSET_LENGTH, m_value);
                } else if (field <= 6) {
                    WriteLittleEndian32(header + HEADER_OFFSET_PARAMETER + 4 * (field - 2), m_value);
                } else {
                    WriteLittleEndian32(header + HEADER_OFFSET_SEQUENCE, m_value);
                }
                return *answer;
            }
            case EReply::Cut: {
                std::vector<std::uint8_t> reply = answer.value_or(std::vector<std::uint8_t>{});
                reply.resize(reply.size() - std::min<std::size_t>(reply.size(), m_amount));
                return reply;
            }
            case EReply::Junk: {
                std::vector<std::uint8_t> reply = answer.value_or(std::vector<std::uint8_t>{});
                reply.insert(reply.end(), m_bytes.begin(), m_bytes.end());
                return reply;
            }
        }
        return {};
    }

    // Keeps what a read-back of the application area delivered in a reply the link may
    // take: its own command, the asked address and length, all declared bytes arrived.
    void Observe(const std::uint8_t* packet, std::uint32_t size) {
        if (m_request.command != CMD_READ_MEMORY || size < USB_HEADER_SIZE || m_seen.empty()) {
            return;
        }
        const SUsbHeader reply = ReadUsbHeader(packet);
        const std::uint32_t address = m_request.parameter[0];
        const std::uint32_t length = m_request.parameter[1];
        if (reply.command != CMD_READ_MEMORY || reply.parameter[0] != address || reply.length != length ||
            reply.length > size - USB_HEADER_SIZE) {
            return;
        }
        for (std::uint32_t i = 0; i < length; ++i) {
            const std::uint64_t at = std::uint64_t{address} + i;
            if (at >= APPLICATION_ADDRESS && at - APPLICATION_ADDRESS < m_seen.size()) {
                m_seen[at - APPLICATION_ADDRESS] = true;
                m_readBack[at - APPLICATION_ADDRESS] = packet[USB_HEADER_SIZE + i];
            }
        }
    }

    // A restart is due only for an application that read back, in its last download,
    // exactly as the image.
    void CheckVerified() {
        const std::vector<std::uint8_t>& image = Images().application;
        if (m_seen.size() != image.size() ||
            !std::all_of(m_seen.begin(), m_seen.end(), [](bool b) { return b; }) || m_readBack != image) {
            Note("restart sent for an application that did not read back as the image");
        }
    }

    CHonestWriter& m_writer;
    CScript& m_script;
    std::vector<std::uint8_t> m_answer;
    bool m_open = false;
    std::uint32_t m_opens = 0;
    std::uint32_t m_closes = 0;
    std::uint32_t m_nonEmptyReads = 0;
    std::uint32_t m_requests = 0;
    bool m_inRequest = false;
    bool m_delivered = false;
    bool m_unplugged = false;
    std::uint32_t m_failingWrites = 0;
    EReply m_reply = EReply::Nothing;
    std::uint32_t m_amount = 0;
    std::uint32_t m_value = 0;
    std::vector<std::uint8_t> m_bytes;
    SUsbHeader m_request;
    std::vector<bool> m_seen;
    std::vector<std::uint8_t> m_readBack;
    bool m_restartSent = false;
    bool m_applicationSent = false;
    std::uint8_t* m_lastBuffer = nullptr;
    std::uint32_t m_lastCapacity = 0;
    std::string m_failure;
};

bool StartsWith(const std::string& text, const char* prefix) {
    return text.rfind(prefix, 0) == 0;
}

// What the host saw, judged against one run's rules of outcome and exit path.
std::string CheckHost(const CRecordingHost& host, bool answeredNo, const CScriptedTransport& transport) {
    const auto& calls = host.calls;
    const auto count = [&](const char* operation) { return host.CallsOf(operation).size(); };
    if (calls.size() < 3 || calls.front().operation != "OpenLog" || calls.back().operation != "CloseLog" ||
        calls[calls.size() - 2].operation != "RestoreStatus") {
        return "the run does not open the log first and end with RestoreStatus, CloseLog";
    }
    if (count("OpenLog") != 1 || count("CloseLog") != 1 || count("RestoreStatus") != 1) {
        return "OpenLog, RestoreStatus or CloseLog more than once";
    }
    const auto boxes = host.CallsOf("MessageOk");
    const bool declined = answeredNo && count("AskYesNo") == 1;
    if (boxes.empty()) {
        if (!declined || transport.ApplicationSent()) {
            return "the run reported no outcome";
        }
        return {};
    }
    if (boxes.size() != 1) {
        return std::to_string(boxes.size()) + " outcome boxes";
    }
    const auto& box = boxes[0];
    const bool success = box.caption == host.applicationTitle;
    if (success) {
        if (box.icon != MESSAGE_ICON_INFORMATION || !StartsWith(box.text, "Successfully updated the ")) {
            return "a success box that is not the success text";
        }
        if (count("FinishDialog") != 1) {
            return "success without ending the dialog";
        }
        if (!transport.RestartSent()) {
            return "success without a restart of the writer";
        }
        return {};
    }
    if (count("FinishDialog") != 0) {
        return "a failed run ended the dialog";
    }
    if (box.caption != "Error" || box.icon != MESSAGE_ICON_STOP) {
        return "an outcome box that is neither success nor error";
    }
    if (!StartsWith(box.text, "Unable to ") && !StartsWith(box.text, "Improper Machine Type.") &&
        box.text != "System too low on memory!") {
        return "an error box with an unknown text: " + box.text;
    }
    if (transport.RestartSent()) {
        return "a failed run restarted the writer";
    }
    return {};
}

// Whether `bytes` holds the `size` bytes of `part` from offset `at` on.
bool HoldsAt(const std::vector<std::uint8_t>& bytes, std::size_t at, const std::uint8_t* part,
             std::size_t size) {
    return at <= bytes.size() && size <= bytes.size() - at &&
           std::equal(part, part + size, bytes.begin() + at);
}

// Whether the download to address 0 left the boot image in the early layout of the
// writer's geometry: the header words 8 and (for two blocks) 0x20000, the image's first
// B - R - 8 bytes after them, the reserve erased, the rest from the second block on.
bool LaidOutAtZero(const std::vector<std::uint8_t>& layout, const std::vector<std::uint8_t>& image) {
    const std::uint32_t b = CHonestWriter::BOOT_BLOCK;
    const std::uint32_t r = CHonestWriter::BOOT_RESERVE;
    const std::size_t firstPart = std::min<std::size_t>(image.size(), b - r - 8);
    const bool twoBlocks = image.size() > firstPart;
    if (layout.size() != (twoBlocks ? 2 * b : b) || ReadLittleEndian32(layout.data()) != 8 ||
        ReadLittleEndian32(layout.data() + 4) != (twoBlocks ? 0x20000u : 0u) ||
        !HoldsAt(layout, 8, image.data(), firstPart)) {
        return false;
    }
    const std::vector<std::uint8_t> erased(r, 0xFF);
    return !twoBlocks || (HoldsAt(layout, b - r, erased.data(), r) &&
                          HoldsAt(layout, b, image.data() + firstPart, image.size() - firstPart));
}

SWriterOutcome WriterOutcome(const CHonestWriter& writer, const CRecordingHost& host) {
    const SImages& images = Images();
    SWriterOutcome outcome;
    outcome.downloads = writer.CompleteDownloads();
    outcome.downloadsMatchingCrc = writer.DownloadsMatchingCrc();
    if (const auto* at40000 = writer.SegmentAt(0x40000);
        at40000 != nullptr && HoldsAt(*at40000, 0, images.boot.data(), images.boot.size())) {
        outcome.bootImage = EBootImage::At40000;
    } else if (const auto* at0 = writer.SegmentAt(0); at0 != nullptr && LaidOutAtZero(*at0, images.boot)) {
        outcome.bootImage = EBootImage::LaidOutAt0;
    }
    const auto* application = writer.SegmentAt(APPLICATION_ADDRESS);
    outcome.applicationImageInMemory =
        application != nullptr &&
        HoldsAt(*application, 0, images.application.data(), images.application.size());
    outcome.restartReceived = writer.RestartReceived();
    outcome.dialogFinished = host.CallsOf("FinishDialog").size() == 1;
    return outcome;
}

}  // namespace

std::size_t BootImageSize() {
    return Images().boot.size();
}

std::size_t ApplicationImageSize() {
    return Images().application.size();
}

SWholeRun RunWholeScript(const std::uint8_t* script, std::size_t size) {
    CScript reader(script, size);
    const std::uint8_t choice = reader.Byte();

    CHonestWriter writer(PickIdentity(choice));
    CScriptedTransport transport(writer, reader);
    CRecordingClock clock;
    CRecordingHost host;
    const bool answerYes = (choice & 4u) != 0;
    host.answers.push_back(answerYes);
    CImageResources resources;
    CBoundedAllocator allocator;

    {
        SJobEnvironment environment{transport, clock, &host, resources, allocator};
        CUpdateJob job(host, environment);
        job.Run();
    }
    transport.ReleasePoison();

    SWholeRun run;
    run.writer = WriterOutcome(writer, host);
    if (!transport.Failure().empty()) {
        run.failure = transport.Failure();
    } else if (transport.Opens() != 1 || transport.Closes() != 1 || transport.IsOpen()) {
        run.failure = "the link was not opened and closed exactly once";
    } else {
        run.failure = CheckHost(host, !answerYes, transport);
    }
    return run;
}

std::string CheckWholeRun(const std::uint8_t* script, std::size_t size) {
    return RunWholeScript(script, size).failure;
}

}  // namespace hostile_run
