#include <gtest/gtest.h>

#include "images/crc32.h"
#include "images/resource_source.h"
#include "sim/sim_transport.h"
#include "sim/sim_writer.h"
#include "update/recording_host.h"
#include "update/update_job.h"
#include "usb/recording_clock.h"
#include "usb/usb_codes.h"

namespace {

// One run with the images this build carries, at their full sizes.
TEST(BuiltInImagesRun, FullUpdate_ReadsTheApplicationBackIn49Pieces) {
    CSimWriter writer({16, 0x02050000, 0, 14000, 0x01070000, 8000, 0, 0});
    CSimTransport transport(&writer);
    CRecordingClock clock;
    CRecordingHost host;
    SJobEnvironment environment{transport, clock, &host, BuiltInResources(), SystemAllocator()};
    CUpdateJob(host, environment).Run();

    ASSERT_EQ(1u, host.CallsOf("FinishDialog").size());
    const auto application = BuiltInResources().FindRecord(IDR_APPLICATION_IMAGE);
    const auto boot = BuiltInResources().FindRecord(IDR_BOOT_IMAGE);
    ASSERT_TRUE(application && boot);
    ASSERT_EQ(3198584u, application->length);
    ASSERT_EQ(133488u, boot->length);

    std::vector<SReceivedRequest> applicationReads;
    for (const SReceivedRequest& read : writer.RequestsOf(CMD_READ_MEMORY)) {
        if (read.header.parameter[0] >= 0x80000) {
            applicationReads.push_back(read);
        }
    }
    ASSERT_EQ(49u, applicationReads.size());
    for (std::uint32_t i = 0; i < 49; ++i) {
        EXPECT_EQ(0x80000u + i * 65536u, applicationReads[i].header.parameter[0]);
        EXPECT_EQ(i < 48 ? 65536u : 52856u, applicationReads[i].header.parameter[1]);
    }
    EXPECT_EQ(49u, writer.RequestsOf(CMD_PROGRAM_APPLICATION).size());
    EXPECT_EQ(4u, writer.RequestsOf(CMD_PROGRAM_BOOT).size());

    CCrc32 crc;
    crc.Update(writer.Memory().At(0x80000), application->length);
    EXPECT_EQ(application->crc, crc.Value());
    crc.Reset();
    crc.Update(writer.Memory().At(0x40000), boot->length);
    EXPECT_EQ(boot->crc, crc.Value());
    EXPECT_EQ(application->crc, writer.RequestsOf(CMD_SET_IMAGE_CRC).back().header.parameter[0]);
    EXPECT_TRUE(writer.Summary().restarted);
}

}  // namespace
