// The USB transport against the libusb-1.0 stand-in and the simulated SAM.
#include "log_capture.h"
#include "pty_sim.h"
#include "qxident.h"
#include "qxsim_usb.h"

#include <gtest/gtest.h>
#include <libusb.h>

#include <chrono>
#include <memory>
#include <thread>
#include <vector>

using qxsim::Bytes;
using qxsim::CardKind;
using qxsim::Fault;

namespace {

class UsbReader : public ::testing::Test {
protected:
    void TearDown() override
    {
        qxsim_usb_sam().set_fault(Fault::None);
        qxsim_usb_sam().set_card(CardKind::Resident);
        QXID_Free();
    }
    void use_devices(const std::vector<qxsim_usb_device>& devices)
    {
        qxsim_usb_set_devices(devices.data(), static_cast<int>(devices.size()));
    }
    static qxsim_usb_device dev(uint16_t vid, uint16_t pid)
    {
        qxsim_usb_device d;
        d.vid = vid;
        d.pid = pid;
        return d;
    }
};

TEST_F(UsbReader, MatchesOnlyTheReadersVendorsAndProducts)
{
    LogCapture log(QXID_LOG_INFO);
    use_devices({dev(0x046d, 0xc52b), dev(0x0400, 0x1234), dev(0x0525, 0xa4a7), dev(0x0525, 0xa4a8), dev(0x0400, 0xc35a)});
    EXPECT_EQ(QXID_Init(), 3);
    EXPECT_TRUE(log.contains("]: idVendor: 0x046d, idProduct: 0xc52b\n"));
    EXPECT_TRUE(log.contains("]: Find a new QX sensor! vid: 0x0400, pid: 0x1234, sensorName: "));
    EXPECT_TRUE(log.contains("]: Find a new QX sensor! vid: 0x0525, pid: 0xa4a8, sensorName: "));
    EXPECT_FALSE(log.contains("vid: 0x0525, pid: 0xa4a7"));
    EXPECT_FALSE(log.contains("vid: 0x046d"));
}

TEST_F(UsbReader, KeepsAtMostSixteenReaders)
{
    LogCapture log(QXID_LOG_ERROR);
    use_devices(std::vector<qxsim_usb_device>(17, dev(0x0400, 0x0001)));
    EXPECT_EQ(QXID_Init(), 16);
    EXPECT_TRUE(log.contains("]:   devices count is large above 16\n"));
}

TEST_F(UsbReader, NoReaderThenSerialStillWorks)
{
    LogCapture log(QXID_LOG_ERROR);
    use_devices({dev(0x1d6b, 0x0002)});
    EXPECT_EQ(QXID_Init(), QXID_ENOUSB);
    EXPECT_TRUE(log.contains("]: device init failed\r\n"));
    EXPECT_EQ(QXID_OpenPort(0), QXID_EUSBOPEN);

    qxsim::SamSim sam;
    qxsim::PtySim pty(sam);
    int fd = QXID_OpenPortEx(pty.slave_path().c_str());
    ASSERT_GE(fd, 0);
    EXPECT_EQ(QXID_GetSAMStatus(fd, 0), 0);
    QXID_ClosePort(fd);
}

TEST_F(UsbReader, ReadsACardEndToEnd)
{
    qxsim_usb_device reader = dev(0x0400, 0xc35a);
    reader.kernel_driver = true;
    use_devices({dev(0x0400, 0x0001), reader});
    ASSERT_EQ(QXID_Init(), 2);
    testing::internal::CaptureStdout();
    ASSERT_EQ(QXID_OpenPort(1), 1);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("SensorDevices[1] Kernel Driver Detached!\n"), std::string::npos);
    EXPECT_EQ(qxsim_usb_detach_count(), 1);

    qxsim_usb_sam().set_card(CardKind::Permanent);
    qxsim_usb_sam().clear_requests();
    ASSERT_EQ(QXID_GetSAMStatus(1, 0), 0);
    EXPECT_EQ(qxsim_usb_sam().requests().back(), (Bytes{0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x11, 0xFF, 0xED}));
    EXPECT_EQ(qxsim_usb_last_out_endpoint(), 0x02);
    EXPECT_EQ(qxsim_usb_last_in_endpoint(), 0x81);  // the control-type endpoint listed first is skipped

    ASSERT_EQ(QXID_StartFindIDCard(1, nullptr, 0), 0);
    ASSERT_EQ(QXID_SelectIDCard(1, nullptr, 0), 0);
    unsigned char text[256], photo[1024];
    unsigned int tl = 0, pl = 0;
    {
        LogCapture log(QXID_LOG_VERBOSE);
        ASSERT_EQ(QXID_ReadBaseMsg(1, text, &tl, photo, &pl, 0), 0);
        EXPECT_TRUE(log.contains("]: select PHMsgLen=1024  CHMsgLen=256 datalen=1284\r\n")) << log.text();
        EXPECT_TRUE(log.contains("SensorDevices[1] usb read:1295\n"));
    }
    EXPECT_EQ(Bytes(text, text + 256), qxsim::card_text_record(CardKind::Permanent));
    char kind = 0;
    GetCardType(text, &kind);
    EXPECT_EQ(kind, 'I');

    EXPECT_EQ(QXID_ClosePort(1), 0);
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
}

TEST_F(UsbReader, RealisticTimingHoldsTheRepliesForTheSamsWorkingTime)
{
    use_devices({dev(0x0400, 0xc35a)});
    ASSERT_EQ(QXID_Init(), 1);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    qxsim_usb_sam().set_realistic_timing(true);
    const uint64_t busyBefore = qxsim_usb_sam().total_busy_us();
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(QXID_StartFindIDCard(0, nullptr, 0), 0);
    ASSERT_EQ(QXID_SelectIDCard(0, nullptr, 0), 0);
    unsigned char text[256], photo[1024];
    unsigned int tl = 0, pl = 0;
    // The card message takes the SAM longer than the other commands but less
    // than the library waits for it.
    EXPECT_EQ(QXID_ReadBaseMsg(0, text, &tl, photo, &pl, 0), 0);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    qxsim_usb_sam().set_realistic_timing(false);
    EXPECT_GE(elapsed, std::chrono::microseconds(qxsim_usb_sam().total_busy_us() - busyBefore));
    EXPECT_GE(elapsed, std::chrono::milliseconds(420));
    EXPECT_EQ(Bytes(text, text + 256), qxsim::card_text_record(CardKind::Resident));
    QXID_ClosePort(0);
}

TEST_F(UsbReader, PortNumbersAreReadersInEnumerationOrder)
{
    use_devices({dev(0x0400, 0x0001), dev(0x0400, 0x0002), dev(0x0400, 0x0003), dev(0x0400, 0x0004)});
    ASSERT_EQ(QXID_Init(), 4);
    LogCapture log(QXID_LOG_VERBOSE);
    ASSERT_EQ(QXID_OpenPort(3), 3);
    EXPECT_TRUE(log.contains("]: ===============SensorDevices[3] Open Success =============\n"));
    qxsim_usb_sam().clear_requests();
    EXPECT_EQ(QXID_GetSAMStatus(3, 0), 0);
    EXPECT_EQ(qxsim_usb_sam().requests().size(), 1u);
    EXPECT_TRUE(log.contains("SensorDevices[3] usb send:10\n"));
    EXPECT_FALSE(log.contains("uart_fd="));
    QXID_ClosePort(3);
    EXPECT_TRUE(log.contains("]: ===============Close SensorDevice[3] OK===============\n"));
}

TEST_F(UsbReader, ClosedNumberIsASerialDescriptorAgain)
{
    use_devices({dev(0x0400, 0xc35a)});
    ASSERT_EQ(QXID_Init(), 1);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    ASSERT_EQ(QXID_ResetSAM(0, 0), 0);
    QXID_ClosePort(0);
    qxsim_usb_sam().clear_requests();
    EXPECT_LT(QXID_ResetSAM(0, 0), 0);  // standard input, not the reader
    EXPECT_TRUE(qxsim_usb_sam().requests().empty());
}

TEST_F(UsbReader, FingerprintMessageAndItsBuildSpecificLines)
{
    use_devices({dev(0x0525, 0xa4a8)});
    ASSERT_EQ(QXID_Init(), 1);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    ASSERT_EQ(QXID_StartFindIDCard(0, nullptr, 0), 0);
    ASSERT_EQ(QXID_SelectIDCard(0, nullptr, 0), 0);
    std::vector<unsigned char> text(256), photo(1024), fp(1024);
    unsigned int tl = 0, pl = 0, fl = 0;
    LogCapture log(QXID_LOG_VERBOSE);
    testing::internal::CaptureStdout();
    int ret = QXID_ReadBaseFPMsg(0, text.data(), &tl, photo.data(), &pl, fp.data(), &fl, 0);
    std::string out = testing::internal::GetCapturedStdout();
    ASSERT_EQ(ret, 0);
    EXPECT_EQ(Bytes(fp.begin(), fp.end()), qxsim::card_fingerprints(CardKind::Resident));
    EXPECT_NE(out.find("select PHMsgLen=1024  CHMsgLen=256 FPMsgLen=1024 datalen=2310\r\n"), std::string::npos);
#if QXID_TEST_ALT_BUILD
    EXPECT_NE(out.find("select unpack  ret=144 datalen=2310\r\n"), std::string::npos) << out;
    EXPECT_TRUE(log.contains("]: fp dev_sendcommand ret=0 \r\n"));
#else
    EXPECT_EQ(out.find("select unpack"), std::string::npos) << out;
    EXPECT_FALSE(log.contains("fp dev_sendcommand"));
#endif
    QXID_ClosePort(0);
}

TEST_F(UsbReader, UsbErrorsArePassedUpMinusThousand)
{
    qxsim_usb_device busy = dev(0x0400, 0x0001);
    busy.claim_error = LIBUSB_ERROR_BUSY;
    qxsim_usb_device no_in = dev(0x0400, 0x0002);
    no_in.no_in_endpoint = true;
    qxsim_usb_device broken = dev(0x0400, 0x0003);
    broken.write_error = LIBUSB_ERROR_PIPE;
    use_devices({busy, no_in, broken});
    ASSERT_EQ(QXID_Init(), 3);
    LogCapture log(QXID_LOG_ERROR);
    EXPECT_EQ(QXID_OpenPort(0), QXID_EUSBOPEN);
    EXPECT_TRUE(log.contains("]: SensorDevices[0] libusb_claim_interface failed! ret=-6\n"));
    EXPECT_EQ(QXID_OpenPort(1), QXID_EUSBOPEN);
    EXPECT_TRUE(log.contains("]: SensorDevices[1] endpoint_in==0 is failed\n"));
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
    ASSERT_EQ(QXID_OpenPort(2), 2);
    EXPECT_EQ(QXID_ResetSAM(2, 0), LIBUSB_ERROR_PIPE - 1000);
    EXPECT_TRUE(log.contains("]: SensorDevices[2] usb_bulk_write error, error-code(-9)\n"));
    EXPECT_TRUE(log.contains("]: write failed ret=-1009\n"));
    EXPECT_EQ(QXID_GetSAMStatus(2, 0), -1);
    QXID_ClosePort(2);
}

TEST_F(UsbReader, SilentAndInconsistentReplies)
{
    use_devices({dev(0x0400, 0xc35a)});
    ASSERT_EQ(QXID_Init(), 1);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    qxsim_usb_sam().set_fault(Fault::Silence);
    EXPECT_EQ(QXID_GetSAMStatus(0, 0), -1);  // the read times out, the empty buffer fails the preamble
    qxsim_usb_sam().set_fault(Fault::None);
    ASSERT_EQ(QXID_StartFindIDCard(0, nullptr, 0), 0);
    ASSERT_EQ(QXID_SelectIDCard(0, nullptr, 0), 0);
    qxsim_usb_sam().set_fault(Fault::BadLengths, 0x30, 0x01);
    LogCapture log(QXID_LOG_ERROR);
    unsigned int tl = 0, pl = 0;
    EXPECT_EQ(QXID_ReadBaseMsg(0, nullptr, &tl, nullptr, &pl, 0), QXID_ELENGTH);
    EXPECT_EQ(tl, 257u);
    EXPECT_TRUE(log.contains("]: msg len error\n"));
    qxsim_usb_sam().set_fault(Fault::LengthOverclaim);
    EXPECT_EQ(QXID_ReadBaseMsg(0, nullptr, &tl, nullptr, &pl, 0), -1);
    QXID_ClosePort(0);
}

TEST_F(UsbReader, PulledOutDuringAReadFailsAndIsFoundAgainWhenPluggedBackIn)
{
    qxsim_usb_device reader = dev(0x0400, 0xc35a);
    reader.unplug_on_command = 0x30;  // the card message read
    use_devices({reader});
    ASSERT_EQ(QXID_Init(), 1);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    ASSERT_EQ(QXID_StartFindIDCard(0, nullptr, 0), 0);
    ASSERT_EQ(QXID_SelectIDCard(0, nullptr, 0), 0);
    unsigned char text[256], photo[1024];
    unsigned int tl = 0, pl = 0;
    {
        LogCapture log(QXID_LOG_ERROR);
        // The waiting read fails with an I/O error, which leaves no reply.
        EXPECT_EQ(QXID_ReadBaseMsg(0, text, &tl, photo, &pl, 0), QXID_EFRAME);
        EXPECT_TRUE(log.contains("usb_bulk_read error, error-code(-1)")) << log.text();
    }
    EXPECT_EQ(QXID_GetSAMStatus(0, 0), QXID_EFRAME);
    EXPECT_EQ(QXID_ResetSAM(0, 0), LIBUSB_ERROR_NO_DEVICE - 1000);
    EXPECT_EQ(QXID_Init(), QXID_ENOUSB);

    reader.unplug_on_command = -1;
    use_devices({reader});
    ASSERT_EQ(QXID_Init(), 1);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    ASSERT_EQ(QXID_StartFindIDCard(0, nullptr, 0), 0);
    ASSERT_EQ(QXID_SelectIDCard(0, nullptr, 0), 0);
    ASSERT_EQ(QXID_ReadBaseMsg(0, text, &tl, photo, &pl, 0), 0);
    EXPECT_EQ(Bytes(text, text + 256), qxsim::card_text_record(CardKind::Resident));
    QXID_ClosePort(0);
}

TEST_F(UsbReader, OpeningAnOpenPortReusesItsHandle)
{
    use_devices({dev(0x0400, 0xc35a)});
    ASSERT_EQ(QXID_Init(), 1);
    EXPECT_EQ(qxsim_usb_open_contexts(), 1);  // the enumeration's own
    ASSERT_EQ(QXID_OpenPort(0), 0);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    EXPECT_EQ(qxsim_usb_open_handles(), 1);
    EXPECT_EQ(qxsim_usb_open_contexts(), 2);
    EXPECT_EQ(qxsim_usb_claimed_interfaces(), 1);
    EXPECT_EQ(QXID_GetSAMStatus(0, 0), 0);

    EXPECT_EQ(QXID_ClosePort(0), 0);
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
    EXPECT_EQ(qxsim_usb_claimed_interfaces(), 0);
    EXPECT_EQ(qxsim_usb_open_contexts(), 1);
    QXID_Free();
    EXPECT_EQ(qxsim_usb_open_contexts(), 0);
}

TEST_F(UsbReader, PortNumbersWithoutAReaderAreRefused)
{
    use_devices({dev(0x0400, 0x0001), dev(0x0400, 0x0002)});
    ASSERT_EQ(QXID_Init(), 2);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    LogCapture log(QXID_LOG_ERROR);
    EXPECT_EQ(QXID_OpenPort(2), QXID_EUSBOPEN);
    EXPECT_EQ(QXID_OpenPort(5), QXID_EUSBOPEN);
    EXPECT_EQ(QXID_OpenPort(15), QXID_EUSBOPEN);
    EXPECT_TRUE(log.contains("]: SensorDevices[5] dev_open failed\r\n"));
    EXPECT_EQ(qxsim_usb_open_handles(), 1) << "no second handle on port 0's reader";
    EXPECT_EQ(qxsim_usb_open_contexts(), 2);

    ASSERT_EQ(QXID_OpenPort(1), 1);
    EXPECT_EQ(qxsim_usb_open_handles(), 2);
    EXPECT_EQ(QXID_ClosePort(1), 0);
    EXPECT_EQ(qxsim_usb_open_handles(), 1) << "port 0 stays open";
    EXPECT_EQ(QXID_GetSAMStatus(0, 0), 0);
    EXPECT_EQ(QXID_ClosePort(0), 0);
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
}

TEST_F(UsbReader, InitAgainClosesTheOpenPortsFirst)
{
    use_devices({dev(0x0400, 0x0001), dev(0x0400, 0x0002)});
    ASSERT_EQ(QXID_Init(), 2);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    ASSERT_EQ(QXID_OpenPort(1), 1);
    ASSERT_EQ(qxsim_usb_claimed_interfaces(), 2);

    ASSERT_EQ(QXID_Init(), 2);
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
    EXPECT_EQ(qxsim_usb_claimed_interfaces(), 0) << "no interface left claimed by an orphaned handle";
    EXPECT_EQ(qxsim_usb_open_contexts(), 1);

    // The readers open again from the fresh table.
    ASSERT_EQ(QXID_OpenPort(1), 1);
    EXPECT_EQ(QXID_GetSAMStatus(1, 0), 0);
    EXPECT_EQ(qxsim_usb_open_handles(), 1);
    EXPECT_EQ(QXID_ClosePort(1), 0);
    QXID_Free();
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
    EXPECT_EQ(qxsim_usb_open_contexts(), 0);
}

TEST_F(UsbReader, FreeReleasesEveryHandleAndContext)
{
    qxsim_usb_device busy = dev(0x0400, 0x0003);
    busy.claim_error = LIBUSB_ERROR_BUSY;
    use_devices({dev(0x0400, 0x0001), dev(0x0400, 0x0002), busy});
    ASSERT_EQ(QXID_Init(), 3);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    ASSERT_EQ(QXID_OpenPort(1), 1);
    EXPECT_EQ(QXID_OpenPort(2), QXID_EUSBOPEN);
    EXPECT_EQ(qxsim_usb_open_handles(), 2);
    EXPECT_EQ(qxsim_usb_open_contexts(), 3) << "a failed open keeps no context";
    QXID_Free();  // ports still open
    EXPECT_EQ(qxsim_usb_open_handles(), 0);
    EXPECT_EQ(qxsim_usb_claimed_interfaces(), 0);
    EXPECT_EQ(qxsim_usb_open_contexts(), 0);

    // Enumerating afresh after the release works as the first time.
    ASSERT_EQ(QXID_Init(), 3);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    EXPECT_EQ(QXID_GetSAMStatus(0, 0), 0);
    EXPECT_EQ(QXID_ClosePort(0), 0);
}

TEST_F(UsbReader, TransfersOnDifferentReadersNeverOverlap)
{
    use_devices({dev(0x0400, 0x0001), dev(0x0400, 0x0002)});
    ASSERT_EQ(QXID_Init(), 2);
    ASSERT_EQ(QXID_OpenPort(0), 0);
    ASSERT_EQ(QXID_OpenPort(1), 1);
    qxsim_usb_set_transfer_time_us(100);
    int failures[2] = {0, 0};
    auto poll = [&](int port) {
        for (int i = 0; i < 40; i++)
            failures[port] += QXID_GetSAMStatus(port, 0) != 0;
    };
    std::thread a(poll, 0), b(poll, 1);
    a.join();
    b.join();
    EXPECT_EQ(failures[0] + failures[1], 0);
    qxsim_usb_set_transfer_time_us(0);
    EXPECT_EQ(qxsim_usb_max_concurrent_transfers(), 1);
    QXID_ClosePort(0);
    QXID_ClosePort(1);
}

}  // namespace
