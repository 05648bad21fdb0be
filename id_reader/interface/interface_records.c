/* Text records: card kind, field accessors, nationality names. */
#include "qxident.h"

#include "utf.h"

#include <stdlib.h>
#include <string.h>

#define CARD_TYPE_OFFSET 248

static const char* const national_names[56] = {
    "汉",     "蒙古",   "回",     "藏",     "维吾尔", "苗",     "彝",   "壮",   "布依",     "朝鲜",
    "满",     "侗",     "瑶",     "白",     "土家",   "哈尼",   "哈萨克", "傣", "黎",       "傈僳",
    "佤",     "畲",     "高山",   "拉祜",   "水",     "东乡",   "纳西", "景颇", "柯尔克孜", "土",
    "达斡尔", "仫佬",   "羌",     "布朗",   "撒拉",   "毛南",   "仡佬", "锡伯", "阿昌",     "普米",
    "塔吉克", "怒",     "乌孜别克", "俄罗斯", "鄂温克", "德昂", "保安", "裕固", "京",       "塔塔尔",
    "独龙",   "鄂伦春", "赫哲",   "门巴",   "珞巴",   "基诺",
};

int GetNational(int nationCode, unsigned char* national);

int GetNational(int nationCode, unsigned char* national)
{
    if (nationCode < 1 || nationCode > 56 || !national)
        return QXID_EFRAME;
    const char* name = national_names[nationCode - 1];
    size_t len = strlen(name);
    memcpy(national, name, len);
    return (int)len;
}

void GetCardType(unsigned char* buffer, char* CardType)
{
    if (!buffer || !CardType)
        return;
    size_t written = 0;
    Utf16_To_Utf8(buffer + CARD_TYPE_OFFSET, 2, (unsigned char*)CardType, 1, &written, strictConversion);
}

/* Used bytes of a padded field: up to the first space unit (20 00). Only
 * unit-aligned positions count, so a character whose high byte is 0x20
 * followed by one whose low byte is 0 does not cut the text. */
static size_t getInfoLenth(const unsigned char* field, size_t width)
{
    for (size_t i = 0; i + 1 < width; i += 2) {
        if (field[i] == 0x20 && field[i + 1] == 0x00)
            return i;
    }
    return width;
}

/* Trimmed, terminated UTF-8 of a resident-card field. */
static void trimmed_field(const unsigned char* field, size_t width, char* out)
{
    if (!out)
        return;
    unsigned char copy[128];
    memset(copy, 0, sizeof copy);
    size_t used = getInfoLenth(field, width);
    memcpy(copy, field, used);
    utf_str_16_8(copy, used + 2, out, width / 2 * 3 + 1);
}

static int field_number(const unsigned char* field, size_t width)
{
    char text[16];
    memset(text, 0, sizeof text);
    trimmed_field(field, width, text);
    return atoi(text);
}

static void write_gender(int code, char* out)
{
    if (out)
        memcpy(out, code == 1 ? "男" : "女", 3);
}

void getIDName(Tidentify_info info, char* out) { trimmed_field(info.name, sizeof info.name, out); }
void getIDGender(Tidentify_info info, char* out) { write_gender(field_number(info.gender, sizeof info.gender), out); }
void getIDNational(Tidentify_info info, char* out)
{
    if (out)
        GetNational(field_number(info.national, sizeof info.national), (unsigned char*)out);
}
void getIDBirthday(Tidentify_info info, char* out) { trimmed_field(info.birthday, sizeof info.birthday, out); }
void getIDAddress(Tidentify_info info, char* out) { trimmed_field(info.address, sizeof info.address, out); }
void getIDCardNumber(Tidentify_info info, char* out) { trimmed_field(info.id, sizeof info.id, out); }
void getIDMaker(Tidentify_info info, char* out) { trimmed_field(info.maker, sizeof info.maker, out); }
void getIDStartDate(Tidentify_info info, char* out) { trimmed_field(info.start_date, sizeof info.start_date, out); }
void getIDEndDate(Tidentify_info info, char* out) { trimmed_field(info.end_date, sizeof info.end_date, out); }

/* Whole field, padding included, up to a fixed output capacity; no terminator. */
static void padded_field(const unsigned char* field, size_t width, char* out, size_t capacity)
{
    if (!out)
        return;
    unsigned char copy[128];
    memset(copy, 0, sizeof copy);
    memcpy(copy, field, width);
    size_t written = 0;
    Utf16_To_Utf8(copy, width + 2, (unsigned char*)out, capacity, &written, strictConversion);
}

static void padded_gender(const unsigned char* field, char* out)
{
    char text[4];
    memset(text, 0, sizeof text);
    padded_field(field, 2, text, 1);
    write_gender(atoi(text), out);
}

#define PADDED(fn, type, member, cap) \
    void fn(type info, char* out) { padded_field(info.member, sizeof info.member, out, cap); }

PADDED(getResideEnglishName, Treside_info, englishName, 60)
PADDED(getResideId, Treside_info, id, 15)
PADDED(getResideAreaCode, Treside_info, areaCode, 3)
PADDED(getResideChineseName, Treside_info, chineseName, 90)
PADDED(getResideStartDate, Treside_info, start_date, 8)
PADDED(getResideEndDate, Treside_info, end_date, 8)
PADDED(getResideBirthday, Treside_info, birthday, 8)
PADDED(getResideVersionNumber, Treside_info, versionNumber, 2)
PADDED(getResideOfficeNumber, Treside_info, officeNumber, 4)
PADDED(getResideCardType, Treside_info, cardType, 1)
void getResideGender(Treside_info info, char* out) { padded_gender(info.gender, out); }
void getResideReserved(Treside_info info, char* out) {}

PADDED(getGATName, Tgangaotai_info, name, 15)
PADDED(getGATBirthday, Tgangaotai_info, birthday, 8)
PADDED(getGATAddress, Tgangaotai_info, address, 210)
PADDED(getGATCardNumber, Tgangaotai_info, id, 18)
PADDED(getGATMaker, Tgangaotai_info, maker, 90)
PADDED(getGATStartDate, Tgangaotai_info, start_date, 8)
PADDED(getGATEndDate, Tgangaotai_info, end_date, 8)
PADDED(getGATPassNumber, Tgangaotai_info, passNumber, 9)
PADDED(getGATLssueTimes, Tgangaotai_info, lssueTimes, 2)
PADDED(getGATCardType, Tgangaotai_info, cardType, 1)
void getGATGender(Tgangaotai_info info, char* out) { padded_gender(info.gender, out); }
void getGATReserved1(Tgangaotai_info info, char* out) {}
void getGATReserved2(Tgangaotai_info info, char* out) {}
void getGATReserved3(Tgangaotai_info info, char* out) {}
