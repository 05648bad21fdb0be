// Request/reply behaviour of the simulated SAM.
#include "sam_sim.h"

#include <cstring>

namespace qxsim {
namespace {

const uint8_t kPreamble[5] = {0xAA, 0xAA, 0xAA, 0x96, 0x69};

enum : uint8_t {
    kDone = 0x90,
    kFound = 0x9F,
    kNoCard = 0x80,
    kSelectFailed = 0x81,
    kReadFailed = 0x41,
    kBadChecksum = 0x10,
    kBadLength = 0x11,
    kUnknownCommand = 0x21,
};

// Realistic SAM times in microseconds.
unsigned busy_time(uint8_t cmd, uint8_t para)
{
    switch (cmd) {
    case 0x10: return 30000;
    case 0x11: return 1500;
    case 0x12: return 2000;
    case 0x20: return para == 0x01 ? 8000 : 12000;
    case 0x30:
        switch (para) {
        case 0x01: return 420000;
        case 0x10: return 600000;
        case 0x03: return 120000;
        default: return 40000;
        }
    default: return 1000;
    }
}

void put_be16(Bytes& b, size_t at, unsigned v)
{
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}

uint8_t xor_of(const Bytes& b, size_t from, size_t to_exclusive)
{
    uint8_t sum = 0;
    for (size_t i = from; i < to_exclusive && i < b.size(); i++)
        sum ^= b[i];
    return sum;
}

// Card message: big-endian lengths of each block, then the blocks.
Bytes card_message(const std::vector<Bytes>& blocks)
{
    Bytes out;
    for (const Bytes& b : blocks) {
        out.push_back(static_cast<uint8_t>(b.size() >> 8));
        out.push_back(static_cast<uint8_t>(b.size()));
    }
    for (const Bytes& b : blocks)
        out.insert(out.end(), b.begin(), b.end());
    return out;
}

bool is_card_message(uint8_t cmd, uint8_t para) { return cmd == 0x30 && (para == 0x01 || para == 0x10); }

}  // namespace

Bytes make_reply(uint8_t status, const Bytes& payload)
{
    Bytes frame(kPreamble, kPreamble + 5);
    unsigned len = static_cast<unsigned>(payload.size()) + 4;
    frame.resize(10);
    put_be16(frame, 5, len);
    frame[7] = 0x00;
    frame[8] = 0x00;
    frame[9] = status;
    frame.insert(frame.end(), payload.begin(), payload.end());
    frame.push_back(xor_of(frame, 5, frame.size()));
    return frame;
}

size_t request_frame_length(const uint8_t* buf, size_t n)
{
    if (n < 7)
        return 0;
    size_t total = ((size_t)buf[5] << 8 | buf[6]) + 7;
    return n >= total ? total : 0;
}

Bytes take_request_frame(Bytes& pending)
{
    size_t skip = 0;
    while (skip < pending.size() && pending[skip] != 0xAA)
        skip++;
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(skip));
    size_t len = request_frame_length(pending.data(), pending.size());
    if (len == 0)
        return {};
    Bytes request(pending.begin(), pending.begin() + static_cast<long>(len));
    pending.erase(pending.begin(), pending.begin() + static_cast<long>(len));
    return request;
}

void SamSim::set_card(CardKind kind)
{
    std::lock_guard<std::mutex> lock(mutex_);
    card_ = kind;
    selected_ = false;
}

void SamSim::set_fault(Fault fault, int cmd, int para)
{
    std::lock_guard<std::mutex> lock(mutex_);
    fault_ = fault;
    fault_cmd_ = cmd;
    fault_para_ = para;
}

void SamSim::set_realistic_timing(bool on)
{
    std::lock_guard<std::mutex> lock(mutex_);
    realistic_ = on;
}

std::vector<Bytes> SamSim::requests() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
}

void SamSim::clear_requests()
{
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.clear();
}

uint64_t SamSim::total_busy_us() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return total_busy_us_;
}

Reply SamSim::answer(uint8_t cmd, uint8_t para)
{
    bool present = card_ != CardKind::None;
    Reply r;
    switch (cmd << 8 | para) {
    case 0x10FF:
    case 0x11FF: r.bytes = make_reply(kDone, {}); break;
    case 0x12FF: r.bytes = make_reply(kDone, sam_identity()); break;
    case 0x2001: r.bytes = present ? make_reply(kFound, find_payload()) : make_reply(kNoCard, {}); break;
    case 0x2002:
        selected_ = present;
        r.bytes = present ? make_reply(kDone, select_payload()) : make_reply(kSelectFailed, {});
        break;
    case 0x3001:
    case 0x3010:
    case 0x3003:
    case 0x3005:
        if (!present || !selected_) {
            r.bytes = make_reply(kReadFailed, {});
        } else if (para == 0x01) {
            r.bytes = make_reply(kDone, card_message({card_text_record(card_), card_photo(card_)}));
        } else if (para == 0x10) {
            r.bytes = make_reply(kDone, card_message({card_text_record(card_), card_photo(card_), card_fingerprints(card_)}));
        } else if (para == 0x03) {
            r.bytes = make_reply(kDone, card_app_message(card_));
        } else {
            r.bytes = make_reply(kDone, msg_sn_payload());
        }
        break;
    default: r.bytes = make_reply(kUnknownCommand, {}); break;
    }
    r.busy_us = realistic_ ? busy_time(cmd, para) : 0;
    return r;
}

Reply SamSim::apply_fault(Reply r, uint8_t cmd, uint8_t para)
{
    bool matches = fault_ != Fault::None && (fault_cmd_ < 0 || fault_cmd_ == cmd) &&
                   (fault_para_ < 0 || fault_para_ == para);
    if (!matches)
        return r;
    Bytes& b = r.bytes;
    switch (fault_) {
    case Fault::WrongPreamble: b[4] = 0x96; break;
    case Fault::BadChecksum: b.back() ^= 0x01; break;
    case Fault::BadLengths:
        if (is_card_message(cmd, para) && b.size() > 12) {
            b[11] = static_cast<uint8_t>(b[11] + 1);  // text length one too many
            b.back() = xor_of(b, 5, b.size() - 1);
        }
        break;
    case Fault::Truncated: b.resize(b.size() / 2); break;
    case Fault::Silence: b.clear(); break;
    case Fault::LengthOverclaim: {
        unsigned len = ((unsigned)b[5] << 8 | b[6]) + 200;
        put_be16(b, 5, len);
        break;
    }
    case Fault::Oversized: b = make_reply(b.size() > 9 ? b[9] : static_cast<uint8_t>(kDone), Bytes(3500, 0x5A)); break;
    case Fault::LongText:
        if (is_card_message(cmd, para)) {
            Bytes text = card_text_record(card_);
            text.resize(300, 0x20);
            b = make_reply(kDone, card_message({text, card_photo(card_)}));
        }
        break;
    case Fault::None: break;
    }
    return r;
}

Reply SamSim::handle(const Bytes& request)
{
    std::lock_guard<std::mutex> lock(mutex_);
    requests_.push_back(request);
    Reply r;
    if (request.size() < 10 || std::memcmp(request.data(), kPreamble, 5) != 0) {
        r.bytes = make_reply(kBadLength, {});
    } else if (xor_of(request, 5, request.size() - 1) != request.back()) {
        r.bytes = make_reply(kBadChecksum, {});
    } else {
        r = apply_fault(answer(request[7], request[8]), request[7], request[8]);
    }
    total_busy_us_ += r.busy_us;
    return r;
}

}  // namespace qxsim
