/*
 * Native side of the Java class com.nolvex.QXIDCard (all methods static).
 *
 * Every byte[] the C side writes goes through a native buffer at least as
 * large as the most the C call can produce; only the array's own length is
 * copied back, so a short Java array can never be written past. Outputs of a
 * known size that do not fit, and card messages longer than the arrays given
 * for them, are reported as QXID_ESMALL.
 */
#include <jni.h>
#include <stdlib.h>
#include <string.h>

#include "qxident.h"

#define JFN(ret, name) JNIEXPORT ret JNICALL Java_com_nolvex_QXIDCard_##name

#define PAYLOAD_MAX 3000 /* largest card message the reader delivers */
#define RECORD_SIZE 256  /* text record */
#define FIELD_OUT_MAX 256 /* room for the UTF-8 text of any field */
#define CARDTYPE_OUT_MAX 8

/* A native mirror of a Java byte[] (or of null). */
typedef struct {
    jbyteArray array;
    jsize len;
    unsigned char* p; /* NULL for a null array */
} jbytes;

static int jbytes_open(JNIEnv* env, jbyteArray array, size_t room, jbytes* b)
{
    b->array = array;
    b->len = array ? (*env)->GetArrayLength(env, array) : 0;
    b->p = NULL;
    if (!array)
        return 0;
    size_t cap = (size_t)b->len > room ? (size_t)b->len : room;
    b->p = calloc(cap ? cap : 1, 1);
    if (!b->p)
        return -1;
    if (b->len > 0)
        (*env)->GetByteArrayRegion(env, array, 0, b->len, (jbyte*)b->p);
    return 0;
}

/* Copies the mirror back into the array (what the C call wrote reaches Java) and frees it. */
static void jbytes_close(JNIEnv* env, jbytes* b)
{
    if (b->p && b->len > 0)
        (*env)->SetByteArrayRegion(env, b->array, 0, b->len, (const jbyte*)b->p);
    free(b->p);
    b->p = NULL;
}

/* A null array, or one holding at least n bytes. */
static int fits(const jbytes* b, size_t n)
{
    return !b->p || (size_t)b->len >= n;
}

/* The first element of an int[] length output (or of null). */
typedef struct {
    jintArray array;
    unsigned int value;
} jlen;

static void jlen_open(JNIEnv* env, jintArray array, jlen* l)
{
    jint v = 0;
    l->array = array;
    if (array && (*env)->GetArrayLength(env, array) >= 1)
        (*env)->GetIntArrayRegion(env, array, 0, 1, &v);
    else
        l->array = NULL;
    l->value = (unsigned int)v;
}

static unsigned int* jlen_ptr(jlen* l)
{
    return l->array ? &l->value : NULL;
}

static void jlen_close(JNIEnv* env, jlen* l)
{
    if (l->array) {
        jint v = (jint)l->value;
        (*env)->SetIntArrayRegion(env, l->array, 0, 1, &v);
    }
}

/* A card message of len bytes delivered into b: does it fit the Java array? */
static int message_fits(const jbytes* b, const jlen* l)
{
    return !b->p || !l->array || l->value <= (unsigned int)b->len;
}

#ifndef QXID_ALT_BUILD
/* String -> newly allocated UTF-8 C string; NULL for null or empty. */
static char* utf8_of(JNIEnv* env, jstring s)
{
    if (!s)
        return NULL;
    jclass string_class = (*env)->FindClass(env, "java/lang/String");
    if (!string_class)
        return NULL;
    jmethodID get_bytes = (*env)->GetMethodID(env, string_class, "getBytes", "(Ljava/lang/String;)[B");
    jstring charset = (*env)->NewStringUTF(env, "utf-8");
    char* out = NULL;
    jbyteArray bytes = get_bytes && charset ? (*env)->CallObjectMethod(env, s, get_bytes, charset) : NULL;
    if ((*env)->ExceptionCheck(env))
        (*env)->ExceptionClear(env);
    else if (bytes) {
        jsize n = (*env)->GetArrayLength(env, bytes);
        if (n > 0 && (out = malloc((size_t)n + 1)) != NULL) {
            (*env)->GetByteArrayRegion(env, bytes, 0, n, (jbyte*)out);
            out[n] = '\0';
        }
    }
    if (bytes)
        (*env)->DeleteLocalRef(env, bytes);
    if (charset)
        (*env)->DeleteLocalRef(env, charset);
    (*env)->DeleteLocalRef(env, string_class);
    return out;
}

JFN(void, SetLogType)(JNIEnv* env, jclass cls, jint logType, jstring logFilePath)
{
    char* path = utf8_of(env, logFilePath);
    QXID_SetLogType(logType, path);
    free(path);
}

JFN(void, SetLogLevel)(JNIEnv* env, jclass cls, jint logLevel)
{
    QXID_SetLogLevel(logLevel);
}
#endif

JFN(jint, Init)(JNIEnv* env, jclass cls)
{
    return QXID_Init();
}

JFN(jint, OpenPort)(JNIEnv* env, jclass cls, jint iPort)
{
    return QXID_OpenPort(iPort);
}

/* The path ends at its first zero byte, or at the end of the array. */
JFN(jint, OpenPortEx)(JNIEnv* env, jclass cls, jbyteArray dev)
{
    jbytes path;
    if (!dev)
        return QXID_ESERIAL;
    if (jbytes_open(env, dev, (size_t)(*env)->GetArrayLength(env, dev) + 1, &path) != 0)
        return QXID_ESERIAL;
    int ret = QXID_OpenPortEx((const char*)path.p);
    free(path.p);
    return ret;
}

JFN(jint, ClosePort)(JNIEnv* env, jclass cls, jint iPort)
{
    return QXID_ClosePort(iPort);
}

JFN(jint, GetSAMStatus)(JNIEnv* env, jclass cls, jint iPort, jint bIfOpen)
{
    return QXID_GetSAMStatus(iPort, bIfOpen);
}

JFN(jint, ResetSAM)(JNIEnv* env, jclass cls, jint iPort, jint bIfOpen)
{
    return QXID_ResetSAM(iPort, bIfOpen);
}

/* Runs call(iPort, buffer, flag) for an output of exactly n bytes. */
typedef int (*fixed_out_call)(int, unsigned char*, int);

static jint fixed_output(JNIEnv* env, fixed_out_call call, jint iPort, jbyteArray out, size_t n, jint flag)
{
    jbytes b;
    if (jbytes_open(env, out, n, &b) != 0)
        return QXID_ENULL;
    int ret = fits(&b, n) ? call(iPort, b.p, flag) : QXID_ESMALL;
    jbytes_close(env, &b);
    return ret;
}

JFN(jint, GetSAMID)(JNIEnv* env, jclass cls, jint iPort, jbyteArray pucSAMID, jint bIfOpen)
{
    return fixed_output(env, QXID_GetSAMID, iPort, pucSAMID, QXID_SAMID_LEN, bIfOpen);
}

JFN(jint, StartFindIDCard)(JNIEnv* env, jclass cls, jint iPort, jbyteArray pucIIN, jint bIfOpen)
{
    return fixed_output(env, QXID_StartFindIDCard, iPort, pucIIN, QXID_IIN_LEN, bIfOpen);
}

JFN(jint, SelectIDCard)(JNIEnv* env, jclass cls, jint iPort, jbyteArray pucSN, jint bIfOpen)
{
    return fixed_output(env, QXID_SelectIDCard, iPort, pucSN, QXID_SN_LEN, bIfOpen);
}

JFN(jint, ReadCardMsgSN)(JNIEnv* env, jclass cls, jint iPort, jbyteArray pucMsgSN, jint bIfOpen)
{
    return fixed_output(env, QXID_ReadCardMsgSN, iPort, pucMsgSN, QXID_MSGSN_LEN, bIfOpen);
}

JFN(jint, ReadBaseMsg)(JNIEnv* env, jclass cls, jint iPort, jbyteArray pucCHMsg, jintArray puiCHMsgLen,
                       jbyteArray pucPHMsg, jintArray puiPHMsgLen, jint bIfOpen)
{
    jbytes ch = {0}, ph = {0};
    jlen chlen, phlen;
    int ret = QXID_ENULL;
    jlen_open(env, puiCHMsgLen, &chlen);
    jlen_open(env, puiPHMsgLen, &phlen);
    if (jbytes_open(env, pucCHMsg, PAYLOAD_MAX, &ch) == 0 && jbytes_open(env, pucPHMsg, PAYLOAD_MAX, &ph) == 0) {
        ret = QXID_ReadBaseMsg(iPort, ch.p, jlen_ptr(&chlen), ph.p, jlen_ptr(&phlen), bIfOpen);
        if (ret == 0 && !(message_fits(&ch, &chlen) && message_fits(&ph, &phlen)))
            ret = QXID_ESMALL;
    }
    jbytes_close(env, &ch);
    jbytes_close(env, &ph);
    jlen_close(env, &chlen);
    jlen_close(env, &phlen);
    return ret;
}

JFN(jint, ReadBaseFPMsg)(JNIEnv* env, jclass cls, jint iPort, jbyteArray pucCHMsg, jintArray puiCHMsgLen,
                         jbyteArray pucPHMsg, jintArray puiPHMsgLen, jbyteArray pucFPMsg,
                         jintArray puiFPMsgLen, jint bIfOpen)
{
    jbytes ch = {0}, ph = {0}, fp = {0};
    jlen chlen, phlen, fplen;
    int ret = QXID_ENULL;
    jlen_open(env, puiCHMsgLen, &chlen);
    jlen_open(env, puiPHMsgLen, &phlen);
    jlen_open(env, puiFPMsgLen, &fplen);
    if (jbytes_open(env, pucCHMsg, PAYLOAD_MAX, &ch) == 0 && jbytes_open(env, pucPHMsg, PAYLOAD_MAX, &ph) == 0 &&
        jbytes_open(env, pucFPMsg, PAYLOAD_MAX, &fp) == 0) {
        ret = QXID_ReadBaseFPMsg(iPort, ch.p, jlen_ptr(&chlen), ph.p, jlen_ptr(&phlen), fp.p,
                                 jlen_ptr(&fplen), bIfOpen);
        if (ret == 0 &&
            !(message_fits(&ch, &chlen) && message_fits(&ph, &phlen) && message_fits(&fp, &fplen)))
            ret = QXID_ESMALL;
    }
    jbytes_close(env, &ch);
    jbytes_close(env, &ph);
    jbytes_close(env, &fp);
    jlen_close(env, &chlen);
    jlen_close(env, &phlen);
    jlen_close(env, &fplen);
    return ret;
}

JFN(jint, ReadNewAppMsg)(JNIEnv* env, jclass cls, jint iPort, jbyteArray pucAppMsg, jintArray puiAppMsgLen,
                         jint bIfOpen)
{
    jbytes app = {0};
    jlen applen;
    int ret = QXID_ENULL;
    jlen_open(env, puiAppMsgLen, &applen);
    if (jbytes_open(env, pucAppMsg, PAYLOAD_MAX, &app) == 0) {
        ret = QXID_ReadNewAppMsg(iPort, app.p, jlen_ptr(&applen), bIfOpen);
        if (ret == 0 && !message_fits(&app, &applen))
            ret = QXID_ESMALL;
    }
    jbytes_close(env, &app);
    jlen_close(env, &applen);
    return ret;
}

/* Photo calls: the compressed photo must hold QXID_PHOTO_MAX bytes, and the
 * output capacity handed to the C side never exceeds the Java array. */
typedef int (*photo_call)(unsigned char* wlt, unsigned char* out, int cb);

static int call_wlt2bmp(unsigned char* wlt, unsigned char* out, int cb)
{
    return QXID_Wlt2bmpBuffer(wlt, out, cb);
}

static int call_phunpack(unsigned char* wlt, unsigned char* out, int cb)
{
    return QXID_PHunpack((char*)wlt, (char*)out, cb);
}

static jint photo(JNIEnv* env, photo_call call, jbyteArray wltData, jbyteArray out, jint cb, size_t out_size)
{
    jbytes wlt = {0}, img = {0};
    int ret = QXID_ENULL;
    if (jbytes_open(env, wltData, QXID_PHOTO_MAX, &wlt) == 0 && jbytes_open(env, out, out_size, &img) == 0) {
        if (!fits(&wlt, QXID_PHOTO_MAX))
            ret = QXID_ESMALL;
        else
            ret = call(wlt.p, img.p, img.p && cb > img.len ? img.len : cb);
    }
    free(wlt.p);
    jbytes_close(env, &img);
    return ret;
}

JFN(jint, PHunpack)(JNIEnv* env, jclass cls, jbyteArray wltData, jbyteArray bgr, jint cbBgr)
{
    return photo(env, call_phunpack, wltData, bgr, cbBgr, QXID_BGR_SIZE);
}

JFN(jint, Wlt2bmpBuffer)(JNIEnv* env, jclass cls, jbyteArray wltData, jbyteArray imageData, jint cbImageData)
{
    return photo(env, call_wlt2bmp, wltData, imageData, cbImageData, QXID_BMP_SIZE);
}

JFN(jint, GetCardType)(JNIEnv* env, jclass cls, jbyteArray buffer, jbyteArray CardType)
{
    jbytes rec = {0}, out = {0};
    if (buffer && CardType && jbytes_open(env, buffer, RECORD_SIZE, &rec) == 0) {
        if (jbytes_open(env, CardType, CARDTYPE_OUT_MAX, &out) == 0)
            GetCardType(rec.p, (char*)out.p);
        free(rec.p);
        jbytes_close(env, &out);
    }
    return 1;
}

/* Resident-card accessors: the record is a 256-byte copy of info (zero-filled
 * past a short array). */
typedef void (*id_accessor)(Tidentify_info, char*);

static jint id_field(JNIEnv* env, id_accessor get, jbyteArray info, jbyteArray out)
{
    Tidentify_info rec;
    jbytes o = {0};
    if (!info || !out)
        return 1;
    memset(&rec, 0, sizeof rec);
    jsize n = (*env)->GetArrayLength(env, info);
    (*env)->GetByteArrayRegion(env, info, 0, n < (jsize)sizeof rec ? n : (jsize)sizeof rec, (jbyte*)&rec);
    if (jbytes_open(env, out, FIELD_OUT_MAX, &o) == 0) {
        get(rec, (char*)o.p);
        jbytes_close(env, &o);
    }
    return 1;
}

#define ID_FIELD(name)                                                                   \
    JFN(jint, name)(JNIEnv * env, jclass cls, jbyteArray info, jbyteArray out)         \
    {                                                                                    \
        return id_field(env, name, info, out);                                           \
    }

ID_FIELD(getIDName)
ID_FIELD(getIDGender)
ID_FIELD(getIDNational)
ID_FIELD(getIDBirthday)
ID_FIELD(getIDAddress)
ID_FIELD(getIDCardNumber)
ID_FIELD(getIDMaker)
ID_FIELD(getIDStartDate)
ID_FIELD(getIDEndDate)

/* Java programs read permanent-residence and residence-permit fields from the
 * text record themselves: these methods leave the output alone. */
#define UNTOUCHED_FIELD(name)                                                            \
    JFN(jint, name)(JNIEnv * env, jclass cls, jbyteArray info, jbyteArray out)         \
    {                                                                                    \
        return 1;                                                                        \
    }

UNTOUCHED_FIELD(getResideEnglishName)
UNTOUCHED_FIELD(getResideGender)
UNTOUCHED_FIELD(getResideId)
UNTOUCHED_FIELD(getResideAreaCode)
UNTOUCHED_FIELD(getResideChineseName)
UNTOUCHED_FIELD(getResideStartDate)
UNTOUCHED_FIELD(getResideEndDate)
UNTOUCHED_FIELD(getResideBirthday)
UNTOUCHED_FIELD(getResideVersionNumber)
UNTOUCHED_FIELD(getResideOfficeNumber)
UNTOUCHED_FIELD(getResideCardType)
UNTOUCHED_FIELD(getResideReserved)

UNTOUCHED_FIELD(getGATName)
UNTOUCHED_FIELD(getGATGender)
UNTOUCHED_FIELD(getGATReserved1)
UNTOUCHED_FIELD(getGATBirthday)
UNTOUCHED_FIELD(getGATAddress)
UNTOUCHED_FIELD(getGATCardNumber)
UNTOUCHED_FIELD(getGATMaker)
UNTOUCHED_FIELD(getGATStartDate)
UNTOUCHED_FIELD(getGATEndDate)
UNTOUCHED_FIELD(getGATPassNumber)
UNTOUCHED_FIELD(getGATLssueTimes)
UNTOUCHED_FIELD(getGATReserved2)
UNTOUCHED_FIELD(getGATCardType)
UNTOUCHED_FIELD(getGATReserved3)
