// Contents of the three simulated cards.
#include "sam_sim.h"

#include "qxwlt_format.h"

#include <string>

namespace qxsim {
namespace {

void put_field(Bytes& rec, size_t offset, size_t width, const std::u16string& text)
{
    for (size_t i = 0; i < width / 2; i++) {
        char16_t unit = i < text.size() ? text[i] : u' ';
        rec[offset + 2 * i] = static_cast<uint8_t>(unit & 0xFF);
        rec[offset + 2 * i + 1] = static_cast<uint8_t>(unit >> 8);
    }
}

// Identity number with its ISO 7064 MOD 11-2 check character.
std::u16string with_check_digit(const std::u16string& first17)
{
    static const int weights[17] = {7, 9, 10, 5, 8, 4, 2, 1, 6, 3, 7, 9, 10, 5, 8, 4, 2};
    static const char16_t checks[] = u"10X98765432";
    int sum = 0;
    for (int i = 0; i < 17; i++)
        sum += (first17[i] - u'0') * weights[i];
    return first17 + checks[sum % 11];
}

Bytes resident_record()
{
    Bytes rec(256, 0);
    put_field(rec, 0, 30, u"张伟民");
    put_field(rec, 30, 2, u"1");
    put_field(rec, 32, 4, u"01");
    put_field(rec, 36, 16, u"19850312");
    put_field(rec, 52, 70, u"北京市东城区景山前街4号院3号楼2单元501室");
    put_field(rec, 122, 36, with_check_digit(u"11010119850312401"));
    put_field(rec, 158, 30, u"北京市公安局东城分局");
    put_field(rec, 188, 16, u"20150620");
    put_field(rec, 204, 16, u"20350620");
    put_field(rec, 220, 36, u"");
    return rec;
}

Bytes permanent_record()
{
    Bytes rec(256, 0);
    put_field(rec, 0, 120, u"SMITH, JOHN ANDREW");
    put_field(rec, 120, 2, u"1");
    put_field(rec, 122, 30, u"USA110085031534");
    put_field(rec, 152, 6, u"USA");
    put_field(rec, 158, 30, u"史密斯");
    put_field(rec, 188, 16, u"20190815");
    put_field(rec, 204, 16, u"20290815");
    put_field(rec, 220, 16, u"19850315");
    put_field(rec, 236, 4, u"02");
    put_field(rec, 240, 8, u"1100");
    put_field(rec, 248, 2, u"I");
    put_field(rec, 250, 6, u"");
    return rec;
}

Bytes permit_record()
{
    Bytes rec(256, 0);
    put_field(rec, 0, 30, u"陈家明");
    put_field(rec, 30, 2, u"2");
    put_field(rec, 32, 4, u"");
    put_field(rec, 36, 16, u"19920315");
    put_field(rec, 52, 70, u"广东省深圳市福田区福华三路88号");
    put_field(rec, 122, 36, with_check_digit(u"81000019920315452"));
    put_field(rec, 158, 30, u"深圳市公安局");
    put_field(rec, 188, 16, u"20200101");
    put_field(rec, 204, 16, u"20250101");
    put_field(rec, 220, 18, u"H60123456");
    put_field(rec, 238, 4, u"01");
    put_field(rec, 242, 6, u"");
    put_field(rec, 248, 2, u"J");
    put_field(rec, 250, 6, u"");
    return rec;
}

int photo_variant(CardKind kind)
{
    switch (kind) {
    case CardKind::Permanent: return 1;
    case CardKind::Permit: return 2;
    default: return 0;
    }
}

// Deterministic filler bytes.
Bytes pattern(size_t n, uint32_t seed)
{
    Bytes out(n);
    for (size_t i = 0; i < n; i++) {
        seed = seed * 1103515245u + 12345u;
        out[i] = static_cast<uint8_t>(seed >> 16);
    }
    return out;
}

}  // namespace

Bytes card_text_record(CardKind kind)
{
    switch (kind) {
    case CardKind::Resident: return resident_record();
    case CardKind::Permanent: return permanent_record();
    case CardKind::Permit: return permit_record();
    default: return {};
    }
}

Bytes card_photo(CardKind kind)
{
    unsigned char indices[QXWLT_GRID_H][QXWLT_GRID_W];
    unsigned char palette[12];
    qxwlt_portrait(photo_variant(kind), indices, palette);
    Bytes block(QXWLT_BLOCK);
    qxwlt_encode(indices, palette, block.data());
    return block;
}

Bytes card_fingerprints(CardKind kind)
{
    Bytes fp = pattern(1024, 0xF1u + static_cast<uint32_t>(kind));
    fp[0] = 0x43;  // two 512-byte templates, each with a small head
    fp[1] = 0x01;
    fp[512] = 0x43;
    fp[513] = 0x02;
    return fp;
}

Bytes card_app_message(CardKind kind)
{
    if (kind != CardKind::Resident)
        return {};
    Bytes block(70, 0);
    put_field(block, 0, 70, u"北京市海淀区中关村大街27号");
    return block;
}

Bytes sam_identity()
{
    return {0x01, 0x05, 0x00, 0x02, 0x8C, 0xB3, 0x34, 0x01, 0x87, 0xD6, 0x12, 0x00, 0x55, 0xAA, 0x55, 0xAA};
}

Bytes find_payload() { return {0x27, 0x10, 0x00, 0x01}; }

Bytes select_payload() { return {0x7C, 0x1A, 0x92, 0x4E, 0x08, 0x00, 0x00, 0x00}; }

Bytes msg_sn_payload() { return pattern(28, 0x5A5Au); }

}  // namespace qxsim
