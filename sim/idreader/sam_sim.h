// Simulated identity-card reader SAM: answers request frames with reply
// frames, holds one card (or none), and injects faults on demand.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace qxsim {

using Bytes = std::vector<uint8_t>;

enum class CardKind { None, Resident, Permanent, Permit };

enum class Fault {
    None,
    WrongPreamble,    // fifth byte 0x96 instead of 0x69
    BadChecksum,      // last byte flipped
    BadLengths,       // card message whose block lengths do not add up
    Truncated,        // only the first half of the reply is sent
    Silence,          // no reply at all
    LengthOverclaim,  // length field claims 200 bytes more than are sent
    Oversized,        // a complete frame with a 3500-byte payload
    LongText,         // card message with a consistent but 300-byte text block
};

struct Reply {
    Bytes bytes;
    unsigned busy_us = 0;  // time the SAM takes before the first reply byte
};

// Card contents as the SAM delivers them.
Bytes card_text_record(CardKind kind);   // 256 bytes UTF-16LE
Bytes card_photo(CardKind kind);         // 1024-byte compressed photo
Bytes card_fingerprints(CardKind kind);  // 1024 bytes
Bytes card_app_message(CardKind kind);   // additional address block (may be empty)
Bytes sam_identity();                    // 16 bytes
Bytes find_payload();                    // 4 bytes
Bytes select_payload();                  // 8 bytes
Bytes msg_sn_payload();                  // 28 bytes

// Builds a reply frame: preamble, length, status 00 00 status, payload, XOR.
Bytes make_reply(uint8_t status, const Bytes& payload);
// Total length of the request frame at the head of buf, 0 when incomplete.
size_t request_frame_length(const uint8_t* buf, size_t n);
// Drops line noise up to the next preamble byte and takes the complete
// request frame at the head of `pending`; empty while it is incomplete.
Bytes take_request_frame(Bytes& pending);

class SamSim {
public:
    void set_card(CardKind kind);
    // Fault for requests with this command (and parameter); -1 matches any.
    void set_fault(Fault fault, int cmd = -1, int para = -1);
    // Realistic card-reading times (find, select, reads); off: answer at once.
    void set_realistic_timing(bool on);

    Reply handle(const Bytes& request);

    std::vector<Bytes> requests() const;
    void clear_requests();
    // Sum of the busy times of all replies so far, microseconds.
    uint64_t total_busy_us() const;

private:
    Reply answer(uint8_t cmd, uint8_t para);
    Reply apply_fault(Reply reply, uint8_t cmd, uint8_t para);

    mutable std::mutex mutex_;
    CardKind card_ = CardKind::Resident;
    Fault fault_ = Fault::None;
    int fault_cmd_ = -1, fault_para_ = -1;
    bool realistic_ = false;
    bool selected_ = false;
    std::vector<Bytes> requests_;
    uint64_t total_busy_us_ = 0;
};

}  // namespace qxsim
