// Text records, card kinds, nationality and gender, and the photo functions.
#include "qxident.h"
#include "qxwlt_format.h"
#include "sam_sim.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using qxsim::Bytes;
using qxsim::CardKind;

namespace {

template <typename Record>
Record record_of(CardKind kind)
{
    Record r;
    std::memset(&r, 0, sizeof r);
    Bytes text = qxsim::card_text_record(kind);
    std::memcpy(&r, text.data(), std::min(sizeof r, text.size()));
    return r;
}

void put_utf16(unsigned char* field, size_t width, const std::u16string& s)
{
    for (size_t i = 0; i < width / 2; i++) {
        char16_t u = i < s.size() ? s[i] : u' ';
        field[2 * i] = static_cast<unsigned char>(u & 0xFF);
        field[2 * i + 1] = static_cast<unsigned char>(u >> 8);
    }
}

template <typename Record, typename Fn>
std::string call(Fn fn, const Record& r, size_t* length = nullptr)
{
    char out[256];
    std::memset(out, 0, sizeof out);
    fn(r, out);
    size_t n = sizeof out;
    while (n > 0 && out[n - 1] == 0)
        n--;
    if (length)
        *length = n;
    return std::string(out, n);
}

TEST(Records, ResidentFieldsAreTrimmedAndTerminated)
{
    auto r = record_of<Tidentify_info>(CardKind::Resident);
    struct Case {
        void (*fn)(Tidentify_info, char*);
        const char* expected;
    };
    const std::vector<Case> cases = {
        {getIDName, "张伟民"},
        {getIDGender, "男"},
        {getIDNational, "汉"},
        {getIDBirthday, "19850312"},
        {getIDAddress, "北京市东城区景山前街4号院3号楼2单元501室"},
        {getIDCardNumber, "110101198503124018"},
        {getIDMaker, "北京市公安局东城分局"},
        {getIDStartDate, "20150620"},
        {getIDEndDate, "20350620"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(call(c.fn, r), c.expected);

    char name[64];
    std::memset(name, 0x7F, sizeof name);
    put_utf16(r.name, sizeof r.name, u"王芳");
    getIDName(r, name);
    EXPECT_EQ(std::string(name, 7), std::string("王芳") + '\0');
}

TEST(Records, GenderAndNationalityCodes)
{
    auto r = record_of<Tidentify_info>(CardKind::Resident);
    struct Case {
        std::u16string gender;
        const char* expected;
    };
    for (const Case& c : std::vector<Case>{{u"1", "男"}, {u"2", "女"}, {u"", "女"}, {u"9", "女"}}) {
        put_utf16(r.gender, sizeof r.gender, c.gender);
        EXPECT_EQ(call(getIDGender, r), c.expected);
    }
    struct National {
        std::u16string code;
        const char* expected;
    };
    for (const National& n : std::vector<National>{{u"01", "汉"},
                                                   {u"02", "蒙古"},
                                                   {u"05", "维吾尔"},
                                                   {u"29", "柯尔克孜"},
                                                   {u"43", "乌孜别克"},
                                                   {u"56", "基诺"},
                                                   {u"97", ""},
                                                   {u"00", ""}}) {
        put_utf16(r.national, sizeof r.national, n.code);
        size_t length = 0;
        EXPECT_EQ(call(getIDNational, r, &length), n.expected);
        EXPECT_EQ(length, std::strlen(n.expected));
    }
}

TEST(Records, PaddedFieldsKeepTheirPaddingUpToCapacity)
{
    auto gat = record_of<Tgangaotai_info>(CardKind::Permit);
    char out[256];
    std::memset(out, 0x7F, sizeof out);
    getGATName(gat, out);
    EXPECT_EQ(std::string(out, 16), std::string("陈家明      ") + '\x7F');  // 15 bytes, no terminator

    auto res = record_of<Treside_info>(CardKind::Permanent);
    EXPECT_EQ(call(getResideChineseName, res), "史密斯            ");  // 9 bytes + 12 spaces
    EXPECT_EQ(call(getResideEnglishName, res), "SMITH, JOHN ANDREW" + std::string(42, ' '));
    EXPECT_EQ(call(getResideId, res), "USA110085031534");
    EXPECT_EQ(call(getResideAreaCode, res), "USA");
    EXPECT_EQ(call(getResideStartDate, res), "20190815");
    EXPECT_EQ(call(getResideEndDate, res), "20290815");
    EXPECT_EQ(call(getResideBirthday, res), "19850315");
    EXPECT_EQ(call(getResideVersionNumber, res), "02");
    EXPECT_EQ(call(getResideOfficeNumber, res), "1100");
    EXPECT_EQ(call(getResideCardType, res), "I");
    EXPECT_EQ(call(getResideGender, res), "男");
    EXPECT_EQ(call(getResideReserved, res), "");

    EXPECT_EQ(call(getGATGender, gat), "女");
    EXPECT_EQ(call(getGATBirthday, gat), "19920315");
    EXPECT_EQ(call(getGATAddress, gat), "广东省深圳市福田区福华三路88号" + std::string(70 / 2 - 16, ' '));
    EXPECT_EQ(call(getGATCardNumber, gat), "810000199203154520");
    EXPECT_EQ(call(getGATMaker, gat), "深圳市公安局" + std::string(9, ' '));
    EXPECT_EQ(call(getGATPassNumber, gat), "H60123456");
    EXPECT_EQ(call(getGATLssueTimes, gat), "01");
    EXPECT_EQ(call(getGATCardType, gat), "J");
    EXPECT_EQ(call(getGATReserved1, gat), "");
    EXPECT_EQ(call(getGATReserved2, gat), "");
    EXPECT_EQ(call(getGATReserved3, gat), "");
}

TEST(Records, CardKindFromOffset248)
{
    struct Case {
        CardKind kind;
        char expected;
    };
    for (const Case& c : std::vector<Case>{{CardKind::Resident, ' '}, {CardKind::Permanent, 'I'}, {CardKind::Permit, 'J'}}) {
        Bytes text = qxsim::card_text_record(c.kind);
        char kind[2] = {0x7F, 0x7F};
        GetCardType(text.data(), kind);
        EXPECT_EQ(kind[0], c.expected);
        EXPECT_EQ(kind[1], 0x7F);
    }
    Bytes zero(256, 0);
    char kind = 0x7F;
    GetCardType(zero.data(), &kind);
    EXPECT_EQ(kind, 0x7F);
}

TEST(Records, SurrogatePairsAndLoneSurrogates)
{
    auto r = record_of<Tidentify_info>(CardKind::Resident);
    put_utf16(r.name, sizeof r.name, u"李\U00020BB7明");  // a character outside the BMP
    EXPECT_EQ(call(getIDName, r), "李\U00020BB7明");
    put_utf16(r.name, sizeof r.name, std::u16string(u"李") + char16_t(0xDC00) + u"明");
    EXPECT_EQ(call(getIDName, r), "李");
}

class Photo : public ::testing::Test {
protected:
    Bytes block = qxsim::card_photo(CardKind::Resident);
};

TEST_F(Photo, BmpHeaderAndRows)
{
    std::vector<unsigned char> bmp(QXID_BMP_SIZE, 0);
    ASSERT_EQ(QXID_Wlt2bmpBuffer(block.data(), bmp.data(), static_cast<int>(bmp.size())), 0);
    const unsigned char header[54] = {0x42, 0x4D, 0xCE, 0x97, 0x00, 0x00, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
                                      102,  0,    0,    0,    126,  0,    0, 0, 1, 0, 24, 0};
    EXPECT_EQ(std::vector<unsigned char>(bmp.begin(), bmp.begin() + 54), std::vector<unsigned char>(header, header + 54));

    std::vector<unsigned char> pixels(QXWLT_PIXELS_BYTES);
    ASSERT_EQ(qxwlt_decode(block.data(), pixels.data()), 1);
    for (int row = 0; row < 126; row++) {
        const unsigned char* line = bmp.data() + 54 + row * 308;
        for (int col = 0; col < 102; col++) {
            const unsigned char* px = pixels.data() + (row * 102 + col) * 3;
            ASSERT_EQ(line[col * 3], px[2]);
            ASSERT_EQ(line[col * 3 + 1], px[1]);
            ASSERT_EQ(line[col * 3 + 2], px[0]);
        }
        ASSERT_EQ(line[306], 0xFF);
        ASSERT_EQ(line[307], 0xFF);
    }
}

TEST_F(Photo, ThePortraitIsUprightInTheBmp)
{
    std::vector<unsigned char> bmp(QXID_BMP_SIZE + 10, 0);
    ASSERT_EQ(QXID_Wlt2bmpBuffer(block.data(), bmp.data(), static_cast<int>(bmp.size())), 0);
    auto bgr_at = [&](int x, int y_from_top) {
        const unsigned char* p = bmp.data() + 54 + (125 - y_from_top) * 308 + x * 3;
        return std::vector<int>{p[0], p[1], p[2]};
    };
    EXPECT_EQ(bgr_at(2, 2), (std::vector<int>{250, 246, 245}));     // background, top corner
    EXPECT_EQ(bgr_at(51, 66), (std::vector<int>{160, 190, 232}));   // cheek, middle of the face
    EXPECT_EQ(bgr_at(51, 122), (std::vector<int>{110, 50, 30}));    // clothing at the bottom
}

TEST_F(Photo, ArgumentChecks)
{
    std::vector<unsigned char> bmp(QXID_BMP_SIZE, 0xAB);
    EXPECT_EQ(QXID_Wlt2bmpBuffer(block.data(), bmp.data(), QXID_BMP_SIZE - 1), QXID_ESMALL);
    EXPECT_EQ(QXID_Wlt2bmpBuffer(nullptr, bmp.data(), QXID_BMP_SIZE), QXID_ENULL);
    EXPECT_EQ(QXID_Wlt2bmpBuffer(block.data(), nullptr, QXID_BMP_SIZE), QXID_ENULL);
    std::vector<char> bgr(QXID_BGR_SIZE, 0);
    EXPECT_EQ(QXID_PHunpack(reinterpret_cast<char*>(block.data()), bgr.data(), QXID_BGR_SIZE - 1), QXID_ESMALL);
    EXPECT_EQ(QXID_PHunpack(nullptr, bgr.data(), QXID_BGR_SIZE), QXID_ENULL);

    Bytes broken = block;
    broken[0] ^= 0xFF;
    EXPECT_EQ(QXID_Wlt2bmpBuffer(broken.data(), bmp.data(), QXID_BMP_SIZE), -1);  // the decoder's own result
    EXPECT_EQ(bmp, std::vector<unsigned char>(QXID_BMP_SIZE, 0xAB));
    EXPECT_EQ(QXID_PHunpack(reinterpret_cast<char*>(broken.data()), bgr.data(), QXID_BGR_SIZE), -1);
}

TEST_F(Photo, RawPixelsInTheDecodersOrder)
{
    std::vector<char> bgr(QXID_BGR_SIZE, 0);
    ASSERT_EQ(QXID_PHunpack(reinterpret_cast<char*>(block.data()), bgr.data(), QXID_BGR_SIZE), 0);
    std::vector<unsigned char> pixels(QXWLT_PIXELS_BYTES);
    ASSERT_EQ(qxwlt_decode(block.data(), pixels.data()), 1);
    EXPECT_EQ(0, std::memcmp(bgr.data(), pixels.data(), pixels.size()));
}

// Registered as a test of its own without the stand-in on the search path.
TEST(NoDecoder, BothPhotoFunctionsReportIt)
{
    Bytes block = qxsim::card_photo(CardKind::Resident);
    std::vector<unsigned char> bmp(QXID_BMP_SIZE, 0xAB);
    EXPECT_EQ(QXID_Wlt2bmpBuffer(block.data(), bmp.data(), QXID_BMP_SIZE), QXID_ENODECODER);
    EXPECT_EQ(bmp, std::vector<unsigned char>(QXID_BMP_SIZE, 0xAB));
    std::vector<char> bgr(QXID_BGR_SIZE, 0);
    EXPECT_EQ(QXID_PHunpack(reinterpret_cast<char*>(block.data()), bgr.data(), QXID_BGR_SIZE), QXID_ENODECODER);
}

}  // namespace

namespace {

// Registered with a decoder library that lacks the entry point.
TEST(NoEntryPoint, BothPhotoFunctionsReportIt)
{
    Bytes block = qxsim::card_photo(CardKind::Resident);
    std::vector<unsigned char> bmp(QXID_BMP_SIZE, 0xAB);
    EXPECT_EQ(QXID_Wlt2bmpBuffer(block.data(), bmp.data(), QXID_BMP_SIZE), QXID_ENOENTRY);
    EXPECT_EQ(bmp, std::vector<unsigned char>(QXID_BMP_SIZE, 0xAB));
    std::vector<char> bgr(QXID_BGR_SIZE, 0);
    EXPECT_EQ(QXID_PHunpack(reinterpret_cast<char*>(block.data()), bgr.data(), QXID_BGR_SIZE), QXID_ENOENTRY);
}

}  // namespace

namespace {

// Registered with a decoder library whose failure result is 0.
TEST(ZeroForFailure, AFailedDecodeIsAFailure)
{
    Bytes block = qxsim::card_photo(CardKind::Resident);
    Bytes broken = block;
    broken[QXWLT_BLOCK - 1] ^= 0x5A;  // check byte no longer matches
    std::vector<unsigned char> bmp(QXID_BMP_SIZE, 0xAB);
    EXPECT_LT(QXID_Wlt2bmpBuffer(broken.data(), bmp.data(), QXID_BMP_SIZE), 0);
    EXPECT_EQ(bmp, std::vector<unsigned char>(QXID_BMP_SIZE, 0xAB)) << "no picture for a failed decode";
    std::vector<char> bgr(QXID_BGR_SIZE, 0x11);
    EXPECT_LT(QXID_PHunpack(reinterpret_cast<char*>(broken.data()), bgr.data(), QXID_BGR_SIZE), 0);

    // Its success value still gives the picture.
    ASSERT_EQ(QXID_Wlt2bmpBuffer(block.data(), bmp.data(), QXID_BMP_SIZE), 0);
    EXPECT_EQ(bmp[0], 0x42);
    EXPECT_EQ(bmp[1], 0x4D);
    std::vector<unsigned char> pixels(QXWLT_PIXELS_BYTES);
    ASSERT_EQ(qxwlt_decode(block.data(), pixels.data()), 1);
    EXPECT_EQ(bmp[54], pixels[2]);
    EXPECT_EQ(QXID_PHunpack(reinterpret_cast<char*>(block.data()), bgr.data(), QXID_BGR_SIZE), 0);
}

}  // namespace
