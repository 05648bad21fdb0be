#include "mifare_module.h"

#include <algorithm>

namespace mfsim {

namespace {

constexpr uint8_t kTransportAccess[4] = {0xFF, 0x07, 0x80, 0x69};

uint8_t bcc(const std::vector<uint8_t>& bytes, size_t from, size_t to) {
  uint8_t x = 0;
  for (size_t i = from; i < to; ++i) x ^= bytes[i];
  return x;
}

void appendLe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

}  // namespace

MifareCard MifareCard::fresh(uint32_t uid) {
  MifareCard c;
  c.uid = uid;
  Block& mfr = c.blocks[0];
  for (int i = 0; i < 4; ++i) mfr[i] = static_cast<uint8_t>(uid >> (8 * i));
  mfr[4] = mfr[0] ^ mfr[1] ^ mfr[2] ^ mfr[3];
  mfr[5] = 0x08;
  mfr[6] = 0x04;
  for (int i = 7; i < kBlockSize; ++i) mfr[i] = static_cast<uint8_t>(0x60 + i);
  for (int s = 0; s < kBlocks / 4; ++s) {
    Block& t = c.blocks[s * 4 + 3];
    std::fill(t.begin(), t.begin() + 6, 0xFF);
    std::copy(kTransportAccess, kTransportAccess + 4, t.begin() + 6);
    std::fill(t.begin() + 10, t.end(), 0xFF);
  }
  return c;
}

Key MifareCard::keyA(int sector) const {
  Key k;
  std::copy_n(blocks[sector * 4 + 3].begin(), 6, k.begin());
  return k;
}

Key MifareCard::keyB(int sector) const {
  Key k;
  std::copy_n(blocks[sector * 4 + 3].begin() + 10, 6, k.begin());
  return k;
}

MifareModule::MifareModule() {
  moduleSerial_ = {0x51, 0x58, 0x4D, 0x46, 0x00, 0x00, 0x12, 0x34};
}

std::vector<uint8_t> MifareModule::frame(uint8_t codeOrStatus, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> f;
  f.reserve(data.size() + 5);
  f.push_back(kStx);
  f.push_back(0x00);
  f.push_back(static_cast<uint8_t>(data.size() + 1));
  f.push_back(codeOrStatus);
  f.insert(f.end(), data.begin(), data.end());
  f.push_back(bcc(f, 1, f.size()));
  f.push_back(kEtx);
  return f;
}

std::vector<uint8_t> MifareModule::handle(const std::vector<uint8_t>& req) {
  std::vector<uint8_t> reply;
  const bool wellFormed = req.size() >= 5 && req[0] == kStx && req[1] == 0x00 &&
                          req.size() == static_cast<size_t>(req[2]) + 5 && req[2] >= 1 &&
                          req[req.size() - 2] == bcc(req, 1, req.size() - 2) && req.back() == kEtx;
  if (!wellFormed) {
    reply = error(kErrComm);
  } else if (errTimes_ > 0) {
    --errTimes_;
    reply = error(errCode_);
  } else if (oddTimes_ > 0) {
    --oddTimes_;
    reply = frame(oddStatus_, {});
  } else {
    longSerial_ = fault_ == Fault::LongSerial && faultTimes_ > 0;
    std::vector<uint8_t> data(req.begin() + 4, req.end() - 2);
    reply = dispatch(req[3], data);
  }
  return spoil(std::move(reply));
}

std::vector<uint8_t> MifareModule::spoil(std::vector<uint8_t> reply) {
  if (fault_ == Fault::None || faultTimes_ <= 0) return reply;
  --faultTimes_;
  const Fault f = fault_;
  if (faultTimes_ == 0) fault_ = Fault::None;
  switch (f) {
    case Fault::BadStx: reply[0] = 0x55; break;
    case Fault::BadStation: reply[1] = 0x01; break;
    case Fault::Oversize: reply[2] = 125; break;
    case Fault::BadBcc: reply[reply.size() - 2] ^= 0x01; break;
    case Fault::BadEtx: reply.back() = 0xBC; break;
    case Fault::Truncated: reply.resize(reply.size() / 2); break;
    case Fault::Silence: reply.clear(); break;
    case Fault::ShortData: reply = frame(0, {}); break;
    case Fault::LongSerial:
    case Fault::None: break;
  }
  return reply;
}

bool MifareModule::request(uint8_t mode) {
  selected_ = false;
  if (!hasCard_) return false;
  if (card_.halted && !(mode & kModeWakeAll)) return false;
  card_.halted = false;
  return true;
}

bool MifareModule::authenticate(int sector, uint8_t flags, const uint8_t* key) const {
  const Key want = (flags & kKeyB) ? card_.keyB(sector) : card_.keyA(sector);
  return std::equal(want.begin(), want.end(), key);
}

std::vector<uint8_t> MifareModule::uidBytes() const {
  std::vector<uint8_t> out;
  appendLe32(out, card_.uid);
  return out;
}

std::vector<uint8_t> MifareModule::dispatch(uint8_t cmd, const std::vector<uint8_t>& data) {
  switch (cmd) {
    case 0x03:  // request
      if (data.size() != 1) return error(kErrParams);
      if (!request(data[0])) return error(kErrNoCardOrAuth);
      return ok({0x04, 0x00});
    case 0x04: {  // anticollision
      if (!hasCard_ || card_.halted) return error(kErrNoCardOrAuth);
      std::vector<uint8_t> out{0x00};
      appendLe32(out, card_.uid);
      return ok(out);
    }
    case 0x05: {  // select
      if (data.size() != 4) return error(kErrParams);
      const uint32_t uid = data[0] | data[1] << 8 | data[2] << 16 | static_cast<uint32_t>(data[3]) << 24;
      if (!hasCard_ || card_.halted || uid != card_.uid) return error(kErrNoCardOrAuth);
      selected_ = true;
      return ok({0x08});
    }
    case 0x06:  // halt
      if (hasCard_) card_.halted = true;
      selected_ = false;
      return ok();
    case 0x20: return readBlocks(data);
    case 0x21: return writeBlocks(data);
    case 0x25: return serialNumber(data, false);
    case 0x26: return serialNumber(data, true);
    case 0x81:
      if (data.size() != 1 || data[0] > 4) return error(kErrParamSet);
      baudCode_ = data[0];
      return ok();
    case 0x82:
      if (data.size() != 8) return error(kErrParams);
      std::copy(data.begin(), data.end(), moduleSerial_.begin());
      return ok();
    case 0x83: {
      std::vector<uint8_t> out{0x00};
      out.insert(out.end(), moduleSerial_.begin(), moduleSerial_.end());
      return ok(out);
    }
    default: return error(kErrCommand);
  }
}

namespace {

// Block range of a read/write request: 1-4 blocks inside one sector.
bool validRange(int addr, int count) {
  return addr < kBlocks && count >= 1 && count <= 4 && addr / 4 == (addr + count - 1) / 4;
}

}  // namespace

std::vector<uint8_t> MifareModule::readBlocks(const std::vector<uint8_t>& data) {
  if (data.size() != 9) return error(kErrParams);
  const uint8_t flags = data[0];
  const int count = data[1], addr = data[2];
  if (!validRange(addr, count)) return error(kErrParams);
  if (!request(flags) || !authenticate(addr / 4, flags, &data[3])) return error(kErrNoCardOrAuth);
  std::vector<uint8_t> out = uidBytes();
  for (int b = addr; b < addr + count; ++b) {
    Block blk = card_.blocks[b];
    if (MifareCard::isTrailer(b)) std::fill(blk.begin(), blk.begin() + 6, 0x00);  // key A never reads back
    out.insert(out.end(), blk.begin(), blk.end());
  }
  return ok(out);
}

std::vector<uint8_t> MifareModule::writeBlocks(const std::vector<uint8_t>& data) {
  if (data.size() < 9) return error(kErrParams);
  const uint8_t flags = data[0];
  const int count = data[1], addr = data[2];
  if (!validRange(addr, count) || data.size() != 9 + static_cast<size_t>(count) * kBlockSize)
    return error(kErrParams);
  if (addr == 0) return error(kErrReadFailed);  // the manufacturer block is read-only
  if (!request(flags) || !authenticate(addr / 4, flags, &data[3])) return error(kErrNoCardOrAuth);
  for (int i = 0; i < count; ++i)
    std::copy_n(data.begin() + 9 + i * kBlockSize, kBlockSize, card_.blocks[addr + i].begin());
  return ok(uidBytes());
}

std::vector<uint8_t> MifareModule::serialNumber(const std::vector<uint8_t>& data, bool identity) {
  if (data.size() != 2) return error(kErrParams);
  std::vector<uint8_t> out{0x01};
  if (identity) {
    if (!hasIdCard_) return error(kErrNoCardOrAuth);
    out.insert(out.end(), idSerial_.begin(), idSerial_.end());
  } else {
    if (!request(data[0])) return error(kErrNoCardOrAuth);
    appendLe32(out, card_.uid);
    if (data[1] & 1) card_.halted = true;
  }
  if (longSerial_) out.resize(101, 0xEE);
  return ok(out);
}

}  // namespace mfsim
