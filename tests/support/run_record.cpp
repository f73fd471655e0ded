#include "tests/support/run_record.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "images/crc32.h"
#include "usb/usb_header.h"

namespace {

const char* KindName(CSimTransport::ECall kind) {
    switch (kind) {
        case CSimTransport::ECall::Open:
            return "open";
        case CSimTransport::ECall::Write:
            return "write";
        case CSimTransport::ECall::Read:
            return "read";
        case CSimTransport::ECall::Control:
            return "control";
        case CSimTransport::ECall::Close:
            return "close";
    }
    return "?";
}

void PrintPacket(std::ostream& out, const std::vector<std::uint8_t>& bytes) {
    char text[16];
    if (bytes.size() < USB_HEADER_SIZE) {
        out << " bytes";
        for (std::uint8_t byte : bytes) {
            std::snprintf(text, sizeof text, " %02x", byte);
            out << text;
        }
        return;
    }
    const SUsbHeader header = ReadUsbHeader(bytes.data());
    out << " magic=" << header.magic << " seq=" << header.sequence << " cmd=" << header.command
        << " len=" << header.length << " p=";
    for (std::uint32_t parameter : header.parameter) {
        std::snprintf(text, sizeof text, "%08x,", parameter);
        out << text;
    }
    CCrc32 crc;
    crc.Update(bytes.data() + USB_HEADER_SIZE, bytes.size() - USB_HEADER_SIZE);
    std::snprintf(text, sizeof text, "%08x", crc.Value());
    out << " payload=" << bytes.size() - USB_HEADER_SIZE << "/" << text;
}

}  // namespace

std::string RunRecord(const std::vector<CSimTransport::SCall>& wire, const CRecordingHost& host,
                      const std::vector<std::uint32_t>& pauses, const CSimWriter* writer) {
    std::ostringstream out;
    for (const CSimTransport::SCall& call : wire) {
        out << "wire " << KindName(call.kind) << " value=" << call.value;
        if (!call.bytes.empty()) {
            PrintPacket(out, call.bytes);
        }
        out << '\n';
    }
    for (const CRecordingHost::SCall& call : host.calls) {
        out << "host " << call << '\n';
    }
    out << "pauses";
    for (std::uint32_t pause : pauses) {
        out << ' ' << pause;
    }
    out << '\n';
    if (writer != nullptr) {
        for (const std::string& line : writer->DisplayLines()) {
            out << "display \"" << line << "\"\n";
        }
    }
    return out.str();
}

void WriteRunRecordIfAsked(const std::string& record) {
    const char* directory = std::getenv("TESSEL_RUN_RECORD_DIR");
    const ::testing::TestInfo* test = ::testing::UnitTest::GetInstance()->current_test_info();
    if (directory == nullptr || *directory == '\0' || test == nullptr) {
        return;
    }
    std::string name = std::string(test->test_suite_name()) + "." + test->name();
    for (char& c : name) {
        if (c == '/') {
            c = '_';
        }
    }
    std::ofstream file(std::string(directory) + "/" + name + ".txt", std::ios::app | std::ios::binary);
    file << record << "----\n";
}
