// Protocol engine of a simulated serial Mifare (ISO 14443 A) reader module.
//
// Frames in both directions: AA, station 00, N, code/status, N-1 data bytes,
// BCC (XOR of station..data), BB. The module holds at most one Mifare card
// (64 blocks of 16 bytes, sector trailers with key A / access bits / key B)
// and optionally an identity card whose 8-byte serial number it can report.
//
// Conventions of this simulated module (the library passes them through):
//   request mode  bit 0: 0 = idle request (halted cards stay quiet), 1 = wake all
//   key select    bit 2: 0 = key A, 1 = key B
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace mfsim {

constexpr uint8_t kStx = 0xAA;
constexpr uint8_t kEtx = 0xBB;
constexpr int kBlocks = 64;
constexpr int kBlockSize = 16;

constexpr uint8_t kModeWakeAll = 0x01;
constexpr uint8_t kKeyB = 0x04;

// Module error codes (first data byte after status 1).
constexpr uint8_t kErrParamSet = 129;
constexpr uint8_t kErrTimeout = 130;
constexpr uint8_t kErrNoCardOrAuth = 131;
constexpr uint8_t kErrReadFailed = 132;
constexpr uint8_t kErrParams = 133;
constexpr uint8_t kErrUnknown = 135;
constexpr uint8_t kErrCommand = 143;
constexpr uint8_t kErrComm = 255;

using Block = std::array<uint8_t, kBlockSize>;
using Key = std::array<uint8_t, 6>;

// How the next reply(ies) are spoiled.
enum class Fault {
  None,
  BadStx,      // first byte 0x55
  BadStation,  // station byte 0x01
  Oversize,    // N = 125
  BadBcc,      // checksum off by one bit
  BadEtx,      // last byte 0xBC
  Truncated,   // only the first half of the frame
  Silence,     // no reply at all
  ShortData,   // success status but no data bytes
  LongSerial,  // serial-number replies carrying 100 bytes
};

struct MifareCard {
  uint32_t uid = 0;
  std::array<Block, kBlocks> blocks{};
  bool halted = false;

  // A factory-fresh card: manufacturer block from the UID, transport keys FF..FF,
  // access bits FF 07 80 69 in every trailer.
  static MifareCard fresh(uint32_t uid);
  static bool isTrailer(int addr) { return (addr & 3) == 3; }
  Key keyA(int sector) const;
  Key keyB(int sector) const;
};

class MifareModule {
 public:
  MifareModule();

  // One complete request frame in, the reply bytes out (possibly spoiled or empty).
  std::vector<uint8_t> handle(const std::vector<uint8_t>& request);

  // Builds a well-formed frame (used for replies; exposed for tests).
  static std::vector<uint8_t> frame(uint8_t codeOrStatus, const std::vector<uint8_t>& data);

  // Card in the field.
  void insertCard(const MifareCard& card) { card_ = card; hasCard_ = true; }
  void removeCard() { hasCard_ = false; }
  bool hasCard() const { return hasCard_; }
  MifareCard& card() { return card_; }

  // Identity card in the field (answers the identity serial-number command).
  void setIdentitySerial(const std::array<uint8_t, 8>& sn) { idSerial_ = sn; hasIdCard_ = true; }
  void removeIdentityCard() { hasIdCard_ = false; }

  void setModuleSerial(const std::array<uint8_t, 8>& sn) { moduleSerial_ = sn; }
  const std::array<uint8_t, 8>& moduleSerial() const { return moduleSerial_; }
  int baudCode() const { return baudCode_; }

  // Fault applied to the next `times` replies.
  void setFault(Fault f, int times = 1) { fault_ = f; faultTimes_ = times; }
  // The next `times` replies report status 1 with this error code.
  void setError(uint8_t code, int times = 1) { errCode_ = code; errTimes_ = times; }
  // The next reply carries this status byte (neither 0 nor 1) and no data.
  void setOddStatus(uint8_t status) { oddStatus_ = status; oddTimes_ = 1; }

 private:
  std::vector<uint8_t> dispatch(uint8_t cmd, const std::vector<uint8_t>& data);
  std::vector<uint8_t> spoil(std::vector<uint8_t> reply);
  bool request(uint8_t mode);  // REQA/WUPA: is a card answering?
  bool authenticate(int sector, uint8_t flags, const uint8_t* key) const;
  std::vector<uint8_t> uidBytes() const;
  std::vector<uint8_t> readBlocks(const std::vector<uint8_t>& data);
  std::vector<uint8_t> writeBlocks(const std::vector<uint8_t>& data);
  std::vector<uint8_t> serialNumber(const std::vector<uint8_t>& data, bool identity);
  static std::vector<uint8_t> error(uint8_t code) { return frame(1, {code}); }
  static std::vector<uint8_t> ok(const std::vector<uint8_t>& data = {}) { return frame(0, data); }

  MifareCard card_;
  bool hasCard_ = false;
  bool selected_ = false;
  std::array<uint8_t, 8> idSerial_{};
  bool hasIdCard_ = false;
  std::array<uint8_t, 8> moduleSerial_{};
  int baudCode_ = 4;
  Fault fault_ = Fault::None;
  int faultTimes_ = 0;
  uint8_t errCode_ = 0;
  int errTimes_ = 0;
  uint8_t oddStatus_ = 0;
  int oddTimes_ = 0;
  bool longSerial_ = false;
};

}  // namespace mfsim
