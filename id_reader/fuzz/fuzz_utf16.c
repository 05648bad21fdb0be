/* UTF-16 text of any content through the converters and the field accessors. */
#include "qxident.h"
#include "utf.h"

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include <stdio.h>

int LLVMFuzzerInitialize(int* argc, char*** argv);
int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

/* The converter reports a full target on standard output; keep the run quiet. */
int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    if (!freopen("/dev/null", "w", stdout))
        return 0;
    return 0;
}

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    size_t capacity = data[0];
    const unsigned char* text = data + 1;
    size_t text_size = size - 1;
    unsigned char out[256];
    size_t written = 0;
    Utf16_To_Utf8(text, text_size, out, capacity, &written, strictConversion);
    Utf16_To_Utf8(text, text_size, out, capacity, &written, lenientConversion);
    char terminated[256];
    utf_str_16_8(text, text_size, terminated, capacity ? capacity : 1);

    /* A text record built from the input, through every accessor. */
    unsigned char record[sizeof(Treside_info)];
    memset(record, 0x20, sizeof record);
    memcpy(record, text, text_size < sizeof record ? text_size : sizeof record);
    Tidentify_info id;
    Treside_info res;
    Tgangaotai_info gat;
    memcpy(&id, record, sizeof id);
    memcpy(&res, record, sizeof res);
    memcpy(&gat, record, sizeof gat);
    char field[256];
    void (*id_fns[])(Tidentify_info, char*) = {getIDName, getIDGender, getIDNational, getIDBirthday, getIDAddress,
                                               getIDCardNumber, getIDMaker, getIDStartDate, getIDEndDate};
    for (size_t i = 0; i < sizeof id_fns / sizeof id_fns[0]; i++) {
        memset(field, 0, sizeof field);
        id_fns[i](id, field);
    }
    void (*res_fns[])(Treside_info, char*) = {getResideEnglishName, getResideGender, getResideId, getResideAreaCode,
                                              getResideChineseName, getResideStartDate, getResideEndDate,
                                              getResideBirthday, getResideVersionNumber, getResideOfficeNumber,
                                              getResideCardType, getResideReserved};
    for (size_t i = 0; i < sizeof res_fns / sizeof res_fns[0]; i++) {
        memset(field, 0, sizeof field);
        res_fns[i](res, field);
    }
    void (*gat_fns[])(Tgangaotai_info, char*) = {getGATName, getGATGender, getGATReserved1, getGATBirthday,
                                                 getGATAddress, getGATCardNumber, getGATMaker, getGATStartDate,
                                                 getGATEndDate, getGATPassNumber, getGATLssueTimes, getGATReserved2,
                                                 getGATCardType, getGATReserved3};
    for (size_t i = 0; i < sizeof gat_fns / sizeof gat_fns[0]; i++) {
        memset(field, 0, sizeof field);
        gat_fns[i](gat, field);
    }
    char kind[4] = {0};
    GetCardType(record, kind);
    return 0;
}
