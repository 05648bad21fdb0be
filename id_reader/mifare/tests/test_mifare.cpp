// The Mifare functions against the simulated module on a pseudo-terminal.
#include <gtest/gtest.h>
#include <sys/prctl.h>
#include <termios.h>

#include <algorithm>
#include <functional>
#include <array>
#include <cstring>
#include <string>
#include <vector>

#include "mifare_pty.h"
#include "qxident.h"

namespace {

using Bytes = std::vector<uint8_t>;
using mfsim::Fault;
using mfsim::MifareCard;
using mfsim::MifareModule;

// usleep(2) between polls: keep the kernel from stretching it, so time-outs stay short.
const int kTimerSlack = prctl(PR_SET_TIMERSLACK, 1UL, 0, 0, 0);

constexpr uint32_t kUid = 0xA1B2C3D4u;
unsigned char kKeyFF[6] = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
constexpr unsigned char kKeyA = 0x00, kKeyB = 0x04, kIdle = 0x00, kWakeAll = 0x01;

Bytes frame(uint8_t cmd, const Bytes& data) { return MifareModule::frame(cmd, data); }

Bytes block(uint8_t seed) {
  Bytes b(16);
  for (int i = 0; i < 16; ++i) b[i] = static_cast<uint8_t>(seed + i);
  return b;
}

class Mifare : public ::testing::Test {
 protected:
  void SetUp() override {
    (void)kTimerSlack;
    sim.with([](MifareModule& m) {
      m.insertCard(MifareCard::fresh(kUid));
      m.setIdentitySerial({0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE});
    });
    fd = QXID_OpenPortEx(sim.slavePath().c_str());
    ASSERT_GE(fd, 0);
    QXID_SetLogLevel(QXID_LOG_INFO);
  }
  void TearDown() override {
    QXID_ClosePort(fd);
    QXID_SetLogLevel(QXID_LOG_INFO);
  }
  Bytes lastRequest() {
    auto r = sim.requests();
    return r.empty() ? Bytes{} : r.back();
  }
  size_t requestCount() { return sim.requests().size(); }
  void fault(Fault f, int times = 1) { sim.with([&](MifareModule& m) { m.setFault(f, times); }); }
  MifareCard card() { return sim.with([](MifareModule& m) { return m.card(); }); }

  mfsim::PtyMifareSim sim;
  int fd = -1;
};

TEST_F(Mifare, RequestFramesAreExact) {
  unsigned int n = 0, uid = 0;
  unsigned char buf[64] = {}, wbuf[16] = {}, sn[16] = {}, ser[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  struct Case {
    const char* what;
    std::function<int()> call;
    Bytes expected;
  };
  const Bytes key(6, 0xFF);
  auto withKey = [&](Bytes head, Bytes tail = {}) {
    head.insert(head.end(), key.begin(), key.end());
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
  };
  const Bytes data = block(0x47);
  std::memcpy(wbuf, data.data(), 16);
  const std::vector<Case> cases = {
      {"REQA", [&] { return QXID_Mifare_REQA(fd, 0x52); }, frame(0x03, {0x52})},
      {"anticollision", [&] { return QXID_Mifare_AnticollA(fd, &n); }, frame(0x04, {})},
      {"select", [&] { return QXID_Mifare_SelectA(fd, kUid); }, frame(0x05, {0xD4, 0xC3, 0xB2, 0xA1})},
      {"halt", [&] { return QXID_Mifare_HaltA(fd); }, frame(0x06, {})},
      {"read", [&] { return QXID_Mifare_Read(fd, 5, 2, kKeyFF, kKeyB, kWakeAll, buf, &uid); },
       frame(0x20, withKey({kKeyB | kWakeAll, 2, 5}))},
      {"write", [&] { return QXID_Mifare_Write(fd, 4, 1, kKeyFF, kKeyA, kWakeAll, wbuf, &uid, 1); },
       frame(0x21, withKey({kWakeAll, 1, 4}, data))},
      {"serial number", [&] { return QXID_Mifare_Get_SNR(fd, kWakeAll, 3, sn); }, frame(0x25, {kWakeAll, 1})},
      {"identity serial", [&] { return QXID_Mifare_Get_SNR_SFZ(fd, kIdle, 0, sn); }, frame(0x26, {kIdle, 0})},
      {"baud 115200", [&] { return QXID_SetBaudRate(fd, B115200); }, frame(0x81, {4})},
      {"set module serial", [&] { return QXID_Mifare_SetSerNum(fd, ser); }, frame(0x82, {1, 2, 3, 4, 5, 6, 7, 8})},
      {"get module serial", [&] { return QXID_Mifare_GetSerNum(fd, ser); }, frame(0x83, {})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    sim.with([](MifareModule& m) { m.card().halted = false; });
    EXPECT_EQ(c.call(), 0);
    EXPECT_EQ(lastRequest(), c.expected);
  }
  // Spot-check one frame byte by byte: AA 00 01 06 07 BB.
  EXPECT_EQ(frame(0x06, {}), (Bytes{0xAA, 0x00, 0x01, 0x06, 0x07, 0xBB}));
}

TEST_F(Mifare, BaudRateCodes) {
  const std::vector<std::pair<unsigned int, uint8_t>> table = {
      {B19200, 1}, {B38400, 2}, {B57600, 3}, {B115200, 4}, {B9600, 0}, {B230400, 0}, {12345, 0}};
  for (auto [speed, code] : table) {
    SCOPED_TRACE(code);
    EXPECT_EQ(QXID_SetBaudRate(fd, speed), 0);
    EXPECT_EQ(lastRequest(), frame(0x81, {code}));
    EXPECT_EQ(sim.with([](MifareModule& m) { return m.baudCode(); }), code);
  }
}

TEST_F(Mifare, CardSessionRequestAnticollSelectHalt) {
  unsigned int number = 0;
  EXPECT_EQ(QXID_Mifare_REQA(fd, kIdle), 0);
  EXPECT_EQ(QXID_Mifare_AnticollA(fd, &number), 0);
  EXPECT_EQ(number, kUid);
  EXPECT_EQ(QXID_Mifare_SelectA(fd, number), 0);
  EXPECT_EQ(QXID_Mifare_SelectA(fd, number ^ 1), 131);
  EXPECT_EQ(QXID_Mifare_HaltA(fd), 0);
  EXPECT_EQ(QXID_Mifare_REQA(fd, kIdle), 131);  // a halted card ignores an idle request
  EXPECT_EQ(QXID_Mifare_REQA(fd, kWakeAll), 0);
  sim.with([](MifareModule& m) { m.removeCard(); });
  EXPECT_EQ(QXID_Mifare_REQA(fd, kWakeAll), 131);
}

TEST_F(Mifare, ReadBlocksCopiesDataAndUid) {
  sim.with([](MifareModule& m) {
    for (int b = 4; b < 7; ++b) {
      Bytes d = block(static_cast<uint8_t>(b * 16));
      std::copy(d.begin(), d.end(), m.card().blocks[b].begin());
    }
  });
  unsigned char buf[64];
  std::memset(buf, 0xEE, sizeof buf);
  unsigned int uid = 0;
  ASSERT_EQ(QXID_Mifare_Read(fd, 4, 3, kKeyFF, kKeyA, kIdle, buf, &uid), 0);
  EXPECT_EQ(uid, kUid);
  for (int b = 0; b < 3; ++b) EXPECT_EQ(Bytes(buf + 16 * b, buf + 16 * b + 16), block(static_cast<uint8_t>((4 + b) * 16)));
  EXPECT_EQ(buf[48], 0xEE);
}

TEST_F(Mifare, ReadIsClippedAtTheSectorEnd) {
  unsigned char buf[80];
  std::memset(buf, 0xEE, sizeof buf);
  unsigned int uid = 0;
  ASSERT_EQ(QXID_Mifare_Read(fd, 6, 4, kKeyFF, kKeyA, kIdle, buf, &uid), 0);
  EXPECT_EQ(lastRequest()[5], 2);  // block count sent: 6 and 7 only
  // Block 7 is the trailer: key A reads back as zeros, access bits and key B as stored.
  const Bytes trailer(buf + 16, buf + 32);
  EXPECT_EQ(trailer, (Bytes{0, 0, 0, 0, 0, 0, 0xFF, 0x07, 0x80, 0x69, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
  EXPECT_TRUE(std::all_of(buf + 32, buf + sizeof buf, [](unsigned char c) { return c == 0xEE; }));
}

TEST_F(Mifare, BadBlockAddressSendsNothing) {
  unsigned char buf[16];
  unsigned int uid = 0;
  EXPECT_EQ(QXID_Mifare_Read(fd, 64, 1, kKeyFF, kKeyA, kIdle, buf, &uid), -2);
  EXPECT_EQ(QXID_Mifare_Write(fd, 200, 1, kKeyFF, kKeyA, kIdle, buf, &uid, 0), -2);
  EXPECT_EQ(requestCount(), 0u);
}

TEST_F(Mifare, TrailerProtection) {
  unsigned int uid = 0;
  Bytes data = block(0x10);
  struct Case {
    unsigned char addr, blocks;
    int protect;
    bool sent;
  };
  const std::vector<Case> cases = {
      {7, 1, 1, false},   // the trailer itself
      {2, 2, 1, false},   // ends exactly at the sector end
      {1, 4, 1, false},   // clipped to 1..3, still ends at the trailer
      {2, 1, 1, true},    // stays clear of the trailer
      {4, 3, 1, true},    // 4..6
      {8, 1, 2, true},    // only bit 0 of protect counts
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.addr) * 100 + c.blocks);
    sim.clearRequests();
    Bytes buf(64, 0x33);
    int ret = QXID_Mifare_Write(fd, c.addr, c.blocks, kKeyFF, kKeyA, kIdle, buf.data(), &uid, c.protect);
    EXPECT_EQ(ret, c.sent ? 0 : -2);
    EXPECT_EQ(requestCount(), c.sent ? 1u : 0u);
  }
  // Without protection the trailer is written: new keys take effect.
  Bytes trailer = {1, 2, 3, 4, 5, 6, 0xFF, 0x07, 0x80, 0x69, 9, 9, 9, 9, 9, 9};
  ASSERT_EQ(QXID_Mifare_Write(fd, 7, 1, kKeyFF, kKeyA, kIdle, trailer.data(), &uid, 0), 0);
  EXPECT_EQ(card().keyA(1), (mfsim::Key{1, 2, 3, 4, 5, 6}));
  unsigned char out[16];
  EXPECT_EQ(QXID_Mifare_Read(fd, 4, 1, kKeyFF, kKeyA, kIdle, out, &uid), 131);  // old key refused
  unsigned char keyB[6] = {9, 9, 9, 9, 9, 9};
  EXPECT_EQ(QXID_Mifare_Read(fd, 4, 1, keyB, kKeyB, kIdle, out, &uid), 0);
}

TEST_F(Mifare, WriteThenReadBack) {
  Bytes data = block(0x80);
  data.resize(32);
  for (int i = 16; i < 32; ++i) data[i] = static_cast<uint8_t>(0xC0 + i);
  unsigned int uid = 0;
  ASSERT_EQ(QXID_Mifare_Write(fd, 8, 2, kKeyFF, kKeyA, kIdle, data.data(), &uid, 1), 0);
  EXPECT_EQ(uid, kUid);
  unsigned char back[32] = {};
  ASSERT_EQ(QXID_Mifare_Read(fd, 8, 2, kKeyFF, kKeyA, kIdle, back, &uid), 0);
  EXPECT_EQ(Bytes(back, back + 32), data);
}

TEST_F(Mifare, ModuleErrorCodesAndPerror) {
  unsigned char buf[16];
  unsigned int uid = 0;
  sim.with([](MifareModule& m) { m.setError(131); });
  EXPECT_EQ(QXID_Mifare_Read(fd, 1, 1, kKeyFF, kKeyA, kIdle, buf, &uid), 131);
  sim.with([](MifareModule& m) { m.setOddStatus(5); });
  EXPECT_EQ(QXID_Mifare_HaltA(fd), 5);  // another status is passed on as received
  EXPECT_EQ(QXID_Mifare_GetSerNum(fd, buf), 0);

  const std::vector<std::pair<int, std::string>> texts = {
      {129, "Parameter Setting Failed!"}, {130, "Timeout!"}, {131, "Card NOT found or Auth Failed!"},
      {132, "Read data from card failed !"}, {133, "Parameters Error!"}, {135, "Unkown Error!"},
      {143, "Command Error!"}, {255, "communication Failed!"}};
  for (auto& [code, text] : texts) {
    testing::internal::CaptureStdout();
    QXID_Mifare_Perror(code);
    std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_NE(printed.find("Mifare Reader return status:" + std::to_string(code)), std::string::npos);
    EXPECT_NE(printed.find(text + "\n"), std::string::npos) << printed;
  }
  testing::internal::CaptureStdout();
  QXID_Mifare_Perror(134);
  std::string printed = testing::internal::GetCapturedStdout();
  EXPECT_NE(printed.find("[ERROR]: Mifare Reader return status:134\n"), std::string::npos);
  EXPECT_EQ(printed.find("!"), std::string::npos) << printed;
}

TEST_F(Mifare, SerialNumbers) {
  unsigned char sn[16 + 4];
  std::memset(sn, 0xEE, sizeof sn);
  ASSERT_EQ(QXID_Mifare_Get_SNR(fd, kIdle, 1, sn), 0);
  EXPECT_EQ(Bytes(sn, sn + 5), (Bytes{0xD4, 0xC3, 0xB2, 0xA1, 0xEE}));
  EXPECT_EQ(QXID_Mifare_REQA(fd, kIdle), 131);  // halt flag set: the card went quiet
  ASSERT_EQ(QXID_Mifare_Get_SNR_SFZ(fd, kIdle, 0, sn), 0);
  EXPECT_EQ(Bytes(sn, sn + 9), (Bytes{0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0xEE}));

  unsigned char module[8];
  ASSERT_EQ(QXID_Mifare_GetSerNum(fd, module), 0);
  EXPECT_EQ(Bytes(module, module + 8), (Bytes{0x51, 0x58, 0x4D, 0x46, 0x00, 0x00, 0x12, 0x34}));
  unsigned char fresh[8] = {8, 7, 6, 5, 4, 3, 2, 1};
  ASSERT_EQ(QXID_Mifare_SetSerNum(fd, fresh), 0);
  ASSERT_EQ(QXID_Mifare_GetSerNum(fd, module), 0);
  EXPECT_EQ(Bytes(module, module + 8), Bytes(fresh, fresh + 8));
}

// Replies that lie about their length never reach past the caller's buffer.
TEST_F(Mifare, ShortOrOverlongRepliesAreRefused) {
  unsigned char buf[64 + 4];
  std::memset(buf, 0xEE, sizeof buf);
  unsigned int uid = 0x12345678u, number = 0x12345678u;
  fault(Fault::ShortData);
  EXPECT_EQ(QXID_Mifare_Read(fd, 4, 3, kKeyFF, kKeyA, kIdle, buf, &uid), -2);
  EXPECT_EQ(uid, 0x12345678u);
  fault(Fault::ShortData);
  EXPECT_EQ(QXID_Mifare_AnticollA(fd, &number), -2);
  EXPECT_EQ(number, 0x12345678u);
  fault(Fault::ShortData);
  EXPECT_EQ(QXID_Mifare_GetSerNum(fd, buf), -2);
  fault(Fault::LongSerial);
  EXPECT_EQ(QXID_Mifare_Get_SNR(fd, kIdle, 0, buf), -2);  // 100 serial-number bytes
  EXPECT_TRUE(std::all_of(buf, buf + sizeof buf, [](unsigned char c) { return c == 0xEE; }));
  sim.with([](MifareModule& m) { m.setError(0, 0); });
}

TEST_F(Mifare, FramingFaultsGiveMinusTwoWithTheirLogLine) {
  struct Case {
    Fault fault;
    const char* line;
  };
  const std::vector<Case> cases = {
      {Fault::BadStx, "The STX is 55, expect 0xAA\n"},
      {Fault::BadStation, "The STATIOIN is 01, expected 00\n"},
      {Fault::Oversize, "Too many data coming(125)\n"},
      {Fault::BadBcc, "CheckSum error\n"},
      {Fault::BadEtx, "Data Invalid, rdindex = 15 \n"},
      {Fault::Truncated, "Data Invalid! rdindex = 7, left = 8  \n"},
      {Fault::Silence, "Wait Reader response Time out!\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    QXID_ClosePort(fd);  // reopening discards what a refused reply left in the queue
    fd = QXID_OpenPortEx(sim.slavePath().c_str());
    fault(c.fault);
    unsigned char sn[8] = {};
    testing::internal::CaptureStdout();
    int ret = QXID_Mifare_GetSerNum(fd, sn);
    std::string log = testing::internal::GetCapturedStdout();
    EXPECT_EQ(ret, -2);
    EXPECT_NE(log.find(c.line), std::string::npos) << log;
    EXPECT_EQ(Bytes(sn, sn + 8), Bytes(8, 0));
  }
}

TEST_F(Mifare, TraceLinesAndReplyDump) {
  QXID_SetLogLevel(QXID_LOG_VERBOSE);
  unsigned char sn[8];
  testing::internal::CaptureStdout();
  EXPECT_EQ(QXID_Mifare_GetSerNum(fd, sn), 0);
  EXPECT_EQ(QXID_Mifare_Get_SNR_SFZ(fd, 0, 0, sn), 0);
  std::string log = testing::internal::GetCapturedStdout();
  QXID_SetLogLevel(QXID_LOG_INFO);
  EXPECT_NE(log.find("===>QXID_Mifare_GetSerNum\n"), std::string::npos);
  EXPECT_NE(log.find("===>Mifare_Get_SNR_SFZ\n"), std::string::npos);
  EXPECT_EQ(log.find("===>QXID_Mifare_Get_SNR_SFZ"), std::string::npos);
  EXPECT_NE(log.find("-serial write:6\n000000: aa 00 01 83 82 bb "), std::string::npos) << log;
  EXPECT_NE(log.find("serial read:15\n000000: aa 00 0a 00 00 51 58 4d 46 00 00 12 34 2e bb "), std::string::npos);
  EXPECT_NE(log.find("All data receive OK!\n"), std::string::npos);
}

TEST_F(Mifare, MFInitRetriesOnce) {
  EXPECT_EQ(QXID_MFInit(fd), 0);
  fault(Fault::BadStx);  // the rest of the refused reply is discarded before the retry
  EXPECT_EQ(QXID_MFInit(fd), 0);
  EXPECT_EQ(requestCount(), 3u);
  fault(Fault::BadBcc, 2);
  EXPECT_EQ(QXID_MFInit(fd), -1002);
  EXPECT_EQ(requestCount(), 5u);
}

TEST_F(Mifare, NegativePortIsRefusedAtOnce) {
  unsigned char b[64];
  unsigned int u;
  const std::vector<int> results = {
      QXID_MFInit(-1),
      QXID_Mifare_REQA(-1, 0),
      QXID_Mifare_AnticollA(-1, &u),
      QXID_Mifare_SelectA(-1, 1),
      QXID_Mifare_HaltA(-1),
      QXID_Mifare_Read(-1, 1, 1, kKeyFF, 0, 0, b, &u),
      QXID_Mifare_Write(-1, 1, 1, kKeyFF, 0, 0, b, &u, 1),
      QXID_Mifare_Get_SNR(-1, 0, 0, b),
      QXID_Mifare_Get_SNR_SFZ(-3, 0, 0, b),
      QXID_Mifare_GetSerNum(-1, b),
      QXID_Mifare_SetSerNum(-1, b),
      QXID_SetBaudRate(-1, B9600),
  };
  for (int r : results) EXPECT_EQ(r, -4);
  EXPECT_EQ(requestCount(), 0u);
}

TEST_F(Mifare, NullBuffersAreRefused) {
  unsigned int u;
  unsigned char b[16];
  EXPECT_EQ(QXID_Mifare_Read(fd, 1, 1, nullptr, 0, 0, b, &u), -5);
  EXPECT_EQ(QXID_Mifare_Read(fd, 1, 1, kKeyFF, 0, 0, nullptr, &u), -5);
  EXPECT_EQ(QXID_Mifare_Write(fd, 1, 1, kKeyFF, 0, 0, nullptr, &u, 0), -5);
  EXPECT_EQ(QXID_Mifare_AnticollA(fd, nullptr), -5);
  EXPECT_EQ(QXID_Mifare_Get_SNR(fd, 0, 0, nullptr), -5);
  EXPECT_EQ(QXID_Mifare_GetSerNum(fd, nullptr), -5);
  EXPECT_EQ(requestCount(), 0u);
  // The UID output is optional.
  EXPECT_EQ(QXID_Mifare_Read(fd, 1, 1, kKeyFF, 0, 0, b, nullptr), 0);
}

}  // namespace
