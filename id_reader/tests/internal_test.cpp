// Inner modules: frame decoder bounds, the byte reader, UTF-16 conversion and
// the logger's line and dump format.
#include "bytereader.h"
#include "command.h"
#include "log_capture.h"
#include "logPrintf.h"
#include "qxid_error.h"
#include "qxident.h"
#include "utf.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<char> reply(unsigned status, const std::vector<unsigned char>& payload, int len_delta = 0)
{
    std::vector<char> f = {'\xAA', '\xAA', '\xAA', '\x96', '\x69'};
    unsigned len = static_cast<unsigned>(payload.size()) + 4 + static_cast<unsigned>(len_delta);
    f.push_back(static_cast<char>(len >> 8));
    f.push_back(static_cast<char>(len));
    f.push_back(static_cast<char>(status >> 16));
    f.push_back(static_cast<char>(status >> 8));
    f.push_back(static_cast<char>(status));
    f.insert(f.end(), payload.begin(), payload.end());
    char sum = 0;
    for (size_t i = 5; i < f.size(); i++)
        sum ^= f[i];
    f.push_back(sum);
    return f;
}

TEST(Frames, RequestWithoutData)
{
    char buf[16];
    EXPECT_EQ(cmd_pack(0x11, 0xFF, nullptr, 5, buf), 10);
    EXPECT_EQ(std::vector<char>(buf, buf + 10), (std::vector<char>{'\xAA', '\xAA', '\xAA', '\x96', '\x69', 0, 3, 0x11, '\xFF', '\xED'}));
    char data[2] = {0x01, 0x02};
    EXPECT_EQ(cmd_pack(0x20, 0x01, data, 2, buf), 12);
    EXPECT_EQ(buf[6], 5);
    EXPECT_EQ(buf[11], 0x00 ^ 0x05 ^ 0x20 ^ 0x01 ^ 0x01 ^ 0x02);
}

TEST(Frames, ReplyChecks)
{
    std::vector<char> payload(8, 0x55);
    int len = 77;
    auto found = reply(0x9F, {1, 2, 3, 4});
    found.resize(QX_REPLY_BUF, 0);
    char data[QX_PAYLOAD_BUF];
    EXPECT_EQ(cmd_unpack(found.data(), 0x20, data, &len), 0x9F);
    EXPECT_EQ(len, 4);

    auto bare = reply(0x90, {});
    bare.resize(QX_REPLY_BUF, 0);
    len = 77;
    EXPECT_EQ(cmd_unpack(bare.data(), 0, data, &len), 0x90);
    EXPECT_EQ(len, 77);  // no payload: the length is left as it was

    auto flipped = reply(0x90, {9, 8, 7});
    flipped[12] ^= 0x01;
    flipped.resize(QX_REPLY_BUF, 0);
    EXPECT_EQ(cmd_unpack(flipped.data(), 0, data, &len), -1);

    auto no_card = reply(0x80, {});
    no_card.resize(QX_REPLY_BUF, 0);
    EXPECT_EQ(cmd_unpack(no_card.data(), 0, data, &len), -1);

    std::vector<char> zero(QX_REPLY_BUF, 0);
    EXPECT_EQ(cmd_unpack(zero.data(), 0, nullptr, nullptr), -1);
    auto wrong = reply(0x90, {});
    wrong[4] = '\x96';
    wrong.resize(QX_REPLY_BUF, 0);
    EXPECT_EQ(cmd_unpack(wrong.data(), 0, nullptr, nullptr), -1);
}

TEST(Frames, LengthFieldsBeyondTheBuffersAreRefusedBeforeCopying)
{
    std::vector<char> data(QX_PAYLOAD_BUF + 64, 0x11);
    int len = -5;
    // A complete, checksummed frame carrying more than the payload buffer holds.
    std::vector<unsigned char> big(QX_PAYLOAD_BUF + 1, 0x22);
    auto frame = reply(0x90, big);
    EXPECT_EQ(cmd_unpack_n(frame.data(), static_cast<int>(frame.size()), data.data(), QX_PAYLOAD_BUF, &len), -1);
    EXPECT_EQ(data[0], 0x11);
    EXPECT_EQ(len, -5);
    // A length field claiming more than was received.
    auto claim = reply(0x90, {1, 2, 3}, 100);
    EXPECT_EQ(cmd_unpack_n(claim.data(), static_cast<int>(claim.size()), data.data(), QX_PAYLOAD_BUF, &len), -1);
    EXPECT_EQ(data[0], 0x11);
    // The fixed-buffer entry point reads no further than its 3011 bytes.
    std::vector<char> huge(QX_REPLY_BUF, 0);
    auto head = reply(0x90, {}, 0xFFFF - 4);
    std::copy(head.begin(), head.begin() + 10, huge.begin());
    EXPECT_EQ(cmd_unpack(huge.data(), 0, data.data(), &len), -1);
    EXPECT_EQ(data[0], 0x11);
    // Too short to hold a status.
    EXPECT_EQ(cmd_unpack_n(frame.data(), 8, data.data(), QX_PAYLOAD_BUF, &len), -1);
}

TEST(ByteReader, ReadsWithinBoundsOnly)
{
    const unsigned char bytes[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    qx_reader r;
    qx_reader_init(&r, bytes, sizeof bytes);
    unsigned v = 0;
    EXPECT_EQ(qx_read_be16(&r, &v), 0);
    EXPECT_EQ(v, 0x1234u);
    EXPECT_EQ(qx_read_be24(&r, &v), 0);
    EXPECT_EQ(v, 0x56789Au);
    EXPECT_EQ(qx_read_u8(&r, &v), -1);
    EXPECT_EQ(v, 0x56789Au);
    qx_reader_init(&r, bytes, sizeof bytes);
    uint32_t w = 0;
    EXPECT_EQ(qx_read_le32(&r, &w), 0);
    EXPECT_EQ(w, 0x78563412u);
    unsigned char out[4];
    EXPECT_EQ(qx_read_copy(&r, 2, out, sizeof out), -1);  // only one byte left
    EXPECT_EQ(qx_reader_left(&r), 0u);                    // and the failure sticks
    qx_reader_init(&r, bytes, sizeof bytes);
    EXPECT_EQ(qx_read_copy(&r, 5, out, sizeof out), -1);  // larger than the destination
}

TEST(Utf, StrictConversionResults)
{
    auto le = [](std::initializer_list<unsigned> units) {
        std::vector<unsigned char> b;
        for (unsigned u : units) {
            b.push_back(static_cast<unsigned char>(u));
            b.push_back(static_cast<unsigned char>(u >> 8));
        }
        return b;
    };
    struct Case {
        std::vector<unsigned char> source;
        size_t capacity;
        ConversionFlags flags;
        ConversionResult result;
        std::string text;
    };
    const std::vector<Case> cases = {
        {le({0x5F20, 0x0041, 0}), 16, strictConversion, conversionOK, "张A"},
        {le({0xD842, 0xDFB7, 0}), 16, strictConversion, conversionOK, "\U00020BB7"},
        {le({0x0041, 0xD842, 0}), 16, strictConversion, sourceExhausted, "A"},
        {le({0x0041, 0xD842, 0x0042}), 16, strictConversion, sourceIllegal, "A"},
        {le({0x0041, 0xDC00, 0x0042}), 16, strictConversion, sourceIllegal, "A"},
        {le({0x0041, 0xDC00, 0x0042, 0}), 16, lenientConversion, conversionOK, "A\xED\xB0\x80" "B"},
        {le({0x0041, 0x5F20}), 3, strictConversion, targetExhausted, "A"},
        {le({0x0041, 0x0042}), 2, strictConversion, conversionOK, "AB"},
    };
    for (const Case& c : cases) {
        unsigned char out[16] = {0};
        size_t written = 99;
        EXPECT_EQ(Utf16_To_Utf8(c.source.data(), c.source.size(), out, c.capacity, &written, c.flags), c.result);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(out), written), c.text);
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(Utf16_To_Utf8(nullptr, 2, nullptr, 1, nullptr, strictConversion), conversionFailed);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "ERR, Utf16_To_Utf8: source=(nil), targetStart=(nil)\n");
}

TEST(Log, LineHeadAndLevels)
{
    LogCapture log(QXID_LOG_INFO);
    QXLOG(INFO, "shown %d\n", 1);
    QXLOG(VERBOSE, "hidden\n");
    QXDump("hidden dump", "abc", 3);
    std::string text = log.text();
    EXPECT_TRUE(std::regex_match(text, std::regex(R"(\[\d+\]<internal_test\.cpp> \[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\]\[INFO\]: shown 1\n)")))
        << text;

    log.clear();
    QXID_SetLogLevel(9);  // out of range: unchanged
    QXLOG(INFO, "still shown\n");
    EXPECT_TRUE(log.contains("[INFO]: still shown\n"));

    log.clear();
    QXID_SetLogLevel(QXID_LOG_ASSERT);
    QXLOG(ERROR, "error\n");
    QXLOG(ASSERT, "assert\n");
    EXPECT_EQ(log.text(), "");

    QXID_SetLogLevel(QXID_LOG_VERBOSE);
    QXLOG(1, "below the range\n");
    QXLOG(8, "above the range\n");
    EXPECT_EQ(log.text(), "");
}

TEST(Log, DumpFormat)
{
    LogCapture log(QXID_LOG_DEBUG);
    std::vector<char> bytes(17);
    for (int i = 0; i < 17; i++)
        bytes[i] = static_cast<char>(0x30 + i);
    bytes[16] = ' ';
    QXDump("seventeen", bytes.data(), 17);
    EXPECT_EQ(log.text(), "seventeen:17\n"
                          "000000: 30 31 32 33 34 35 36 37 38 39 3a 3b 3c 3d 3e 3f   0123456789:;<=>?\n"
                          "000010: 20 " + std::string(15 * 3, ' ') + "  .\n");
}

TEST(Log, FileDestinationAndPathLimits)
{
    char dir[] = "/tmp/qxident-cwd-XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    char old_cwd[4096];
    ASSERT_NE(getcwd(old_cwd, sizeof old_cwd), nullptr);
    ASSERT_EQ(chdir(dir), 0);
    QXID_SetLogLevel(QXID_LOG_INFO);
    QXID_SetLogType(LOG_FILE, nullptr);
    QXLOG(INFO, "to the default file\n");
    QXID_SetLogType(LOG_FILE, const_cast<char*>(""));
    QXLOG(INFO, "again\n");

    // A path that does not fit the 512-byte field is refused whole.
    std::string long_path(600, 'p');
    QXID_SetLogType(LOG_TERMINE, const_cast<char*>(long_path.c_str()));
    QXLOG(INFO, "still the file\n");
    std::ifstream in(std::string(dir) + "/qxidreader.log");
    std::stringstream s;
    s << in.rdbuf();
    EXPECT_NE(s.str().find("]: to the default file\n"), std::string::npos);
    EXPECT_NE(s.str().find("]: again\n"), std::string::npos);
    EXPECT_NE(s.str().find("[ERROR]: log file path too long (600 bytes)\n"), std::string::npos) << s.str();
    EXPECT_NE(s.str().find("]: still the file\n"), std::string::npos);

    // 511 bytes fit the field: dir/././.../x.log names dir/x.log.
    std::string fits = std::string(dir) + "/";
    size_t fill = 511 - fits.size() - std::strlen("x.log");
    if (fill % 2)
        fits += "/";
    while (fits.size() + std::strlen("x.log") < 511)
        fits += "./";
    fits += "x.log";
    ASSERT_EQ(fits.size(), 511u);
    QXID_SetLogType(LOG_FILE, const_cast<char*>(fits.c_str()));
    QXLOG(INFO, "to a long name\n");
    std::ifstream in2(std::string(dir) + "/x.log");
    std::stringstream s2;
    s2 << in2.rdbuf();
    EXPECT_NE(s2.str().find("]: to a long name\n"), std::string::npos);

    QXID_SetLogType(LOG_TERMINE, nullptr);
    ASSERT_EQ(chdir(old_cwd), 0);
    std::remove((std::string(dir) + "/qxidreader.log").c_str());
    std::remove((std::string(dir) + "/x.log").c_str());
    rmdir(dir);
}

}  // namespace

// Result codes by name, as log lines and test messages show them.
TEST(ErrorNames, EveryPublicCodeHasItsOwnName)
{
    const int codes[] = {QXID_OK, QXID_EFRAME, QXID_ENOUSB, QXID_EUSBOPEN, QXID_ESERIAL, QXID_ENULL,
                         QXID_ESMALL, QXID_EUNSUPPORTED, QXID_ENODECODER, QXID_ENOENTRY, QXID_ELENGTH,
                         QXID_ENOMIFARE};
    std::set<std::string> names;
    for (int code : codes) {
        std::string name = qxid_error_name(code);
        EXPECT_EQ(name.rfind("QXID_", 0), 0u) << code;
        EXPECT_NE(name, "QXID_EUNKNOWN") << code;
        names.insert(name);
    }
    EXPECT_EQ(names.size(), sizeof codes / sizeof codes[0]);
    EXPECT_STREQ(qxid_error_name(-1), "QXID_EFRAME");
    EXPECT_STREQ(qxid_error_name(-1004), "QXID_ELIBUSB"); // a libusb error passed up
    EXPECT_STREQ(qxid_error_name(-7), "QXID_EUNKNOWN");
    EXPECT_STREQ(qxid_error_name(3), "QXID_EUNKNOWN");
}

TEST(ErrorNames, FrameFailuresComeBackAsTheFrameCode)
{
    std::vector<char> f = reply(0x90, {1, 2, 3});
    f[0] = 0; // broken preamble
    char data[16];
    int len = 0;
    int rc = cmd_unpack_n(f.data(), static_cast<int>(f.size()), data, sizeof data, &len);
    EXPECT_EQ(rc, QXID_EFRAME) << qxid_error_name(rc);
    rc = cmd_unpack_n(nullptr, 0, data, sizeof data, &len);
    EXPECT_EQ(rc, QXID_EFRAME) << qxid_error_name(rc);
}
