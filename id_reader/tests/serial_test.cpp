// The library over a real termios line: the simulated SAM on a pseudo-terminal.
#include "log_capture.h"
#include "pty_sim.h"
#include "qxident.h"

#include <gtest/gtest.h>

#include <cstring>
#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <thread>
#include <unistd.h>
#include <functional>
#include <memory>
#include <vector>

using qxsim::Bytes;
using qxsim::CardKind;
using qxsim::Fault;

namespace {

class SerialReader : public ::testing::Test {
protected:
    void SetUp() override
    {
        pty = std::make_unique<qxsim::PtySim>(sam);
        ASSERT_TRUE(pty->ok());
        port = QXID_OpenPortEx(pty->slave_path().c_str());
        ASSERT_GE(port, 0);
    }
    void TearDown() override
    {
        QXID_ClosePort(port);
        pty.reset();
    }
    Bytes last_request() const
    {
        auto all = sam.requests();
        return all.empty() ? Bytes{} : all.back();
    }
    int find_and_select()
    {
        int ret = QXID_StartFindIDCard(port, nullptr, 0);
        return ret != 0 ? ret : QXID_SelectIDCard(port, nullptr, 0);
    }

    qxsim::SamSim sam;
    std::unique_ptr<qxsim::PtySim> pty;
    int port = -1;
};

struct CommandCase {
    const char* name;
    std::function<int(int)> call;
    Bytes request;
};

TEST_F(SerialReader, EveryCommandSendsItsExactFrame)
{
    unsigned char buf[3000];
    unsigned int l1, l2, l3;
    char text[64];
    const std::vector<CommandCase> cases = {
        {"ResetSAM", [](int p) { return QXID_ResetSAM(p, 0); }, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x10, 0xFF, 0xEC}},
        {"GetSAMStatus", [](int p) { return QXID_GetSAMStatus(p, 0); }, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x11, 0xFF, 0xED}},
        {"GetSAMID", [&](int p) { return QXID_GetSAMID(p, buf, 0); }, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x12, 0xFF, 0xEE}},
        {"GetSAMIDToStr", [&](int p) { return QXID_GetSAMIDToStr(p, text, 0); }, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x12, 0xFF, 0xEE}},
        {"StartFindIDCard", [&](int p) { return QXID_StartFindIDCard(p, buf, 0); }, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x01, 0x22}},
        {"SelectIDCard", [&](int p) { return QXID_SelectIDCard(p, buf, 0); }, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x20, 0x02, 0x21}},
        {"ReadBaseMsg", [&](int p) { return QXID_ReadBaseMsg(p, buf, &l1, buf + 256, &l2, 0); }, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x01, 0x32}},
        {"ReadNewAppMsg", [&](int p) { return QXID_ReadNewAppMsg(p, buf, &l1, 0); }, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x03, 0x30}},
        {"ReadCardMsgSN", [&](int p) { return QXID_ReadCardMsgSN(p, buf, 0); }, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x05, 0x36}},
        {"ReadBaseFPMsg", [&](int p) { return QXID_ReadBaseFPMsg(p, buf, &l1, buf + 256, &l2, buf + 1280, &l3, 0); }, {0xAA, 0xAA, 0xAA, 0x96, 0x69, 0x00, 0x03, 0x30, 0x10, 0x23}},
    };
    for (const CommandCase& c : cases) {
        SCOPED_TRACE(c.name);
        sam.clear_requests();
        EXPECT_EQ(c.call(port), 0);
        auto requests = sam.requests();
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0], c.request);
    }
}

TEST_F(SerialReader, ReadsAResidentCardEndToEnd)
{
    ASSERT_EQ(QXID_GetSAMStatus(port, 0), 0);
    unsigned char iin[8] = {0}, sn[8] = {0};
    ASSERT_EQ(QXID_StartFindIDCard(port, iin, 0), 0);
    EXPECT_EQ(Bytes(iin, iin + 4), qxsim::find_payload());
    ASSERT_EQ(QXID_SelectIDCard(port, sn, 0), 0);
    EXPECT_EQ(Bytes(sn, sn + 8), qxsim::select_payload());
    unsigned char text[256], photo[1024];
    unsigned int text_len = 0, photo_len = 0;
    ASSERT_EQ(QXID_ReadBaseMsg(port, text, &text_len, photo, &photo_len, 0), 0);
    ASSERT_EQ(text_len, 256u);
    ASSERT_EQ(photo_len, 1024u);
    EXPECT_EQ(Bytes(text, text + 256), qxsim::card_text_record(CardKind::Resident));
    EXPECT_EQ(Bytes(photo, photo + 1024), qxsim::card_photo(CardKind::Resident));
    char kind = 0;
    GetCardType(text, &kind);
    EXPECT_EQ(kind, ' ');
    Tidentify_info info;
    std::memcpy(&info, text, sizeof info);
    char name[64] = {0};
    getIDName(info, name);
    EXPECT_STREQ(name, "张伟民");
}

TEST_F(SerialReader, FingerprintAdditionalAndSerialMessages)
{
    sam.set_card(CardKind::Permit);
    ASSERT_EQ(find_and_select(), 0);
    std::vector<unsigned char> text(256), photo(1024), fp(1024);
    unsigned int tl = 0, pl = 0, fl = 0;
    ASSERT_EQ(QXID_ReadBaseFPMsg(port, text.data(), &tl, photo.data(), &pl, fp.data(), &fl, 0), 0);
    EXPECT_EQ(tl, 256u);
    EXPECT_EQ(pl, 1024u);
    EXPECT_EQ(fl, 1024u);
    EXPECT_EQ(Bytes(fp.begin(), fp.end()), qxsim::card_fingerprints(CardKind::Permit));

    unsigned char app[3000];
    unsigned int app_len = 99;
    ASSERT_EQ(QXID_ReadNewAppMsg(port, app, &app_len, 0), 0);
    EXPECT_EQ(app_len, 0u);  // a permit carries no additional block

    unsigned char msgsn[28];
    ASSERT_EQ(QXID_ReadCardMsgSN(port, msgsn, 0), 0);
    EXPECT_EQ(Bytes(msgsn, msgsn + 28), qxsim::msg_sn_payload());

    sam.set_card(CardKind::Resident);
    ASSERT_EQ(find_and_select(), 0);
    ASSERT_EQ(QXID_ReadNewAppMsg(port, app, &app_len, 0), 0);
    EXPECT_EQ(app_len, 70u);
    EXPECT_EQ(Bytes(app, app + 70), qxsim::card_app_message(CardKind::Resident));
}

TEST_F(SerialReader, SamIdentityAsText)
{
    unsigned char id[16];
    ASSERT_EQ(QXID_GetSAMID(port, id, 0), 0);
    EXPECT_EQ(Bytes(id, id + 16), qxsim::sam_identity());
    char text[QXID_SAMID_TEXT_MAX];
    ASSERT_EQ(QXID_GetSAMIDToStr(port, text, 0), 0);
    EXPECT_STREQ(text, "5120202310520001234567");

    sam.set_fault(Fault::Silence);
    std::memset(text, 'x', sizeof text);
    EXPECT_EQ(QXID_GetSAMIDToStr(port, text, 0), -1);
    EXPECT_STREQ(text, "000000000");
}

TEST_F(SerialReader, NoCardLeavesTheOutputAlone)
{
    sam.set_card(CardKind::None);
    unsigned char iin[4] = {1, 2, 3, 4};
    EXPECT_EQ(QXID_StartFindIDCard(port, iin, 0), -1);
    EXPECT_EQ(Bytes(iin, iin + 4), (Bytes{1, 2, 3, 4}));
    EXPECT_EQ(QXID_SelectIDCard(port, nullptr, 0), -1);
}

TEST_F(SerialReader, NoCardIsQuietAtTheDefaultLevel)
{
    LogCapture log(QXID_LOG_INFO);
    sam.set_card(CardKind::None);
    EXPECT_EQ(QXID_StartFindIDCard(port, nullptr, 0), -1);
    EXPECT_EQ(log.text(), "");
}

TEST_F(SerialReader, BadRepliesAreRefused)
{
    struct FaultCase {
        Fault fault;
        int expected;
        const char* log_text;
    };
    const std::vector<FaultCase> cases = {
        {Fault::WrongPreamble, -1, "message is not start with hex:AAAAAA6996\n"},
        {Fault::BadChecksum, -1, "check_sum!=cmd.check_sum"},
        {Fault::Truncated, -1, "exceeds the"},
        {Fault::LengthOverclaim, -1, "exceeds the"},
        {Fault::Oversized, -1, "exceeds the"},
        {Fault::LongText, QXID_ELENGTH, "exceeds 256"},
    };
    for (const FaultCase& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.fault));
        sam.set_fault(Fault::None);
        ASSERT_EQ(find_and_select(), 0);
        LogCapture log(QXID_LOG_ERROR);
        sam.set_fault(c.fault, 0x30, 0x01);
        std::vector<unsigned char> text(256, 0xEE), photo(1024, 0xEE);
        unsigned int tl = 0, pl = 0;
        EXPECT_EQ(QXID_ReadBaseMsg(port, text.data(), &tl, photo.data(), &pl, 0), c.expected);
        EXPECT_TRUE(log.contains(c.log_text)) << log.text();
        EXPECT_EQ(text, std::vector<unsigned char>(256, 0xEE));
        EXPECT_EQ(photo, std::vector<unsigned char>(1024, 0xEE));
    }
}

TEST_F(SerialReader, InconsistentLengthsStillReportTheLengths)
{
    ASSERT_EQ(find_and_select(), 0);
    sam.set_fault(Fault::BadLengths, 0x30, 0x01);
    unsigned int tl = 0, pl = 0;
    unsigned char text[256] = {0};
    testing::internal::CaptureStdout();
    EXPECT_EQ(QXID_ReadBaseMsg(port, text, &tl, nullptr, &pl, 0), QXID_ELENGTH);
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(tl, 257u);
    EXPECT_EQ(pl, 1024u);
    EXPECT_NE(out.find("msg len error\r"), std::string::npos);
    EXPECT_EQ(text[0], 0);

    sam.set_fault(Fault::BadLengths, 0x30, 0x10);
    unsigned int fl = 0;
    LogCapture log(QXID_LOG_ERROR);
    EXPECT_EQ(QXID_ReadBaseFPMsg(port, nullptr, &tl, nullptr, &pl, nullptr, &fl, 0), QXID_ELENGTH);
    EXPECT_EQ(fl, 1024u);
    EXPECT_TRUE(log.contains("msg len error\r\n"));
}

TEST_F(SerialReader, NullBuffersStillGiveTheLengths)
{
    ASSERT_EQ(find_and_select(), 0);
    unsigned int tl = 0, pl = 0;
    EXPECT_EQ(QXID_ReadBaseMsg(port, nullptr, &tl, nullptr, &pl, 0), 0);
    EXPECT_EQ(tl, 256u);
    EXPECT_EQ(pl, 1024u);
    EXPECT_EQ(QXID_ReadBaseMsg(port, nullptr, nullptr, nullptr, nullptr, 0), 0);
}

// A slow line, or a busy station, brings a reply in pieces with pauses between
// them: the whole frame is read, not the pieces before the first pause.
TEST(SerialSlowLine, RepliesArriveWhole)
{
    qxsim::SamSim sam;
    qxsim::PtySim pty(sam, qxsim::LinePacing{true, 19200});
    ASSERT_TRUE(pty.ok());
    int port = QXID_OpenPortEx(pty.slave_path().c_str());
    ASSERT_GE(port, 0);
    ASSERT_EQ(QXID_StartFindIDCard(port, nullptr, 0), 0);
    ASSERT_EQ(QXID_SelectIDCard(port, nullptr, 0), 0);
    unsigned char text[256], photo[1024];
    unsigned int text_len = 0, photo_len = 0;
    EXPECT_EQ(QXID_ReadBaseMsg(port, text, &text_len, photo, &photo_len, 0), 0);
    EXPECT_EQ(Bytes(photo, photo + 1024), qxsim::card_photo(CardKind::Resident));
    QXID_ClosePort(port);
}

TEST_F(SerialReader, SilenceTimesOut)
{
    LogCapture log(QXID_LOG_ERROR);
    sam.set_fault(Fault::Silence);
    EXPECT_EQ(QXID_StartFindIDCard(port, nullptr, 0), -1);
#if QXID_TEST_ALT_BUILD
    EXPECT_TRUE(log.contains("]: select is zero,timeout\n")) << log.text();
#else
    EXPECT_TRUE(log.contains("]: timeout=0,select is zero,timeout\n")) << log.text();
#endif
}

TEST_F(SerialReader, FramesAreDumpedAtVerbose)
{
    LogCapture log(QXID_LOG_VERBOSE);
    ASSERT_EQ(QXID_GetSAMStatus(port, 0), 0);
    std::string text = log.text();
    const std::string request_dump = "serial write:10\n000000: aa aa aa 96 69 00 03 11 ff ed " +
                                     std::string(6 * 3, ' ') + "  ....i.....\n";
    const std::string reply_dump = "serial read:11\n000000: aa aa aa 96 69 00 04 00 00 90 94 " +
                                   std::string(5 * 3, ' ') + "  ....i......\n";
    EXPECT_NE(text.find(request_dump), std::string::npos) << text;
    EXPECT_NE(text.find(reply_dump), std::string::npos) << text;
    EXPECT_NE(text.find("]: ===>QXID_GetSAMStatus\n"), std::string::npos);
    EXPECT_NE(text.find("]: uart_fd="), std::string::npos);
}

}  // namespace

TEST(SerialPorts, NegativeHandlesAndUnsupportedCalls)
{
    LogCapture log(QXID_LOG_VERBOSE);
    EXPECT_EQ(QXID_GetSAMStatus(-1, 0), QXID_ESERIAL);
    EXPECT_EQ(QXID_StartFindIDCard(-1, nullptr, 0), QXID_ESERIAL);
    EXPECT_TRUE(log.contains("]: uart_fd < 0\n"));
    EXPECT_EQ(QXID_ReadBaseFPMsg(-1, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 0), QXID_ESERIAL);
    EXPECT_TRUE(log.contains("]: uart_fd < 0!"));
    EXPECT_EQ(QXID_ReadNewAppMsg(-1, nullptr, nullptr, 0), QXID_ESERIAL);
    EXPECT_EQ(QXID_ResetSAM(-1, 0), QXID_ESERIAL);
    log.clear();
    unsigned int baud = 7;
    EXPECT_EQ(QXID_GetCOMBaud(3, &baud), QXID_EUNSUPPORTED);
    EXPECT_EQ(baud, 7u);
    EXPECT_EQ(QXID_SetCOMBaud(3, 9600, 115200), QXID_EUNSUPPORTED);
    EXPECT_EQ(QXID_SetMaxRFByte(3, 80, 0), QXID_EUNSUPPORTED);
    EXPECT_EQ(log.text(), "");  // the unsupported calls do not log
}

TEST(SerialPorts, PortNumbersNameTheirDevices)
{
    struct PortCase {
        int number;
        const char* path;
    };
    const std::vector<PortCase> cases = {
        {17, "/dev/ttyS17"},   {111, "/dev/ttyS111"}, {112, "/dev/ttyAMA0"},
        {119, "/dev/ttyAMA7"}, {128, "/dev/ttyUSB0"}, {140, "/dev/ttyUSB12"},
    };
    for (const PortCase& c : cases) {
        SCOPED_TRACE(c.number);
        LogCapture log(QXID_LOG_VERBOSE);
        int handle = QXID_OpenPort(c.number);
        EXPECT_TRUE(log.contains(std::string("]: open dev : ") + c.path + "\n")) << log.text();
        if (handle >= 0)
            QXID_ClosePort(handle);
        else
            EXPECT_EQ(handle, QXID_ESERIAL);
    }
    for (int refused : {16, 120, 127, 141, 200, -5}) {
        SCOPED_TRACE(refused);
        LogCapture log(QXID_LOG_VERBOSE);
        EXPECT_EQ(QXID_OpenPort(refused), -1);
        EXPECT_FALSE(log.contains("open dev"));
    }
}

TEST(SerialPorts, MissingDeviceFailsToOpen)
{
    LogCapture log(QXID_LOG_ERROR);
    EXPECT_EQ(QXID_OpenPortEx("/nonexistent/ttyQX0"), QXID_ESERIAL);
    EXPECT_TRUE(log.contains("]: open /nonexistent/ttyQX0 fail,open ret=-1\n"));
    EXPECT_TRUE(log.contains("]: device open failed\r\n"));
    EXPECT_EQ(QXID_OpenPortEx(nullptr), QXID_ESERIAL);
}

TEST(SerialPorts, UsbNumberWithoutReaderFails)
{
    LogCapture log(QXID_LOG_ERROR);
    EXPECT_EQ(QXID_OpenPort(3), QXID_EUSBOPEN);
    EXPECT_TRUE(log.contains("]: SensorDevices[3] dev_open failed\r\n"));
}

TEST(Exports, OnlyThePublicInterfaceLeavesTheLibrary)
{
    for (const char* name : {"QXID_Init", "QXID_ReadBaseMsg", "QXID_SetLogType", "QXID_SetLogLevel", "GetCardType",
                             "getIDName", "getResideChineseName", "getGATLssueTimes"})
        EXPECT_NE(dlsym(RTLD_DEFAULT, name), nullptr) << name;
    for (const char* name : {"QXFPI_Init", "QXFPI_Open", "QXFPI_ReadBulkData", "QXFPI_WirteBulkData", "dev_init",
                             "dev_sendcommand", "cmd_unpack", "cmd_pack", "serial_open", "run_command", "QXLogPrintf",
                             "QXDump", "Utf16_To_Utf8", "GetNational", "qx_read_be16",
                             "qxid_error_name"})
        EXPECT_EQ(dlsym(RTLD_DEFAULT, name), nullptr) << name;
}

// The single-byte read used by the Mifare module: the first build dumps each
// byte, the second reads it plainly.
TEST(SerialSingleByte, DumpedOnlyInTheFirstBuild)
{
    int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    int fd = QXID_OpenPortEx(ptsname(master));
    ASSERT_GE(fd, 0);
    std::thread module([master] {
        struct pollfd p = {master, POLLIN, 0};
        if (poll(&p, 1, 5000) == 1) {
            unsigned char request[64];
            if (read(master, request, sizeof request) > 0) {
                unsigned char wrong_stx = 0x55;
                (void)!write(master, &wrong_stx, 1);
            }
        }
    });
    LogCapture log(QXID_LOG_VERBOSE);
    EXPECT_EQ(QXID_Mifare_HaltA(fd), -2);
    module.join();
    EXPECT_TRUE(log.contains("The STX is 55, expect 0xAA\n"));
    // The module dumps what it received after judging it; a dump of the
    // byte before that judgement comes from the single-byte read.
    std::string text = log.text();
    size_t byte_dump = text.find("serial read:1\n000000: 55 ");
    size_t verdict = text.find("The STX is 55");
#if QXID_TEST_ALT_BUILD
    EXPECT_GT(byte_dump, verdict) << text;
#else
    EXPECT_LT(byte_dump, verdict) << text;
#endif
    QXID_ClosePort(fd);
    close(master);
}
