/*
 * libqxident: identity-card reader library, public C interface.
 *
 * Results are int: 0 success, negative failure (see QXID_E* below).
 * Port numbers for QXID_OpenPort: 0..15 USB readers in enumeration order,
 * 17..111 /dev/ttyS<n>, 112..119 /dev/ttyAMA0..7, 128..140 /dev/ttyUSB0..12;
 * every other number (16 included) is refused with -1.
 * Port handles: 0..15 while a USB port of that number is open, otherwise a
 * serial file descriptor. The bIfOpen/iIfOpen arguments are ignored.
 * Calls on one port come from one thread at a time; USB transfers are
 * serialised inside the library.
 */
#ifndef QXIDENT_H
#define QXIDENT_H

#ifdef __cplusplus
extern "C" {
#endif

/* Result codes. A libusb error is passed up as its code minus 1000. */
#define QXID_OK 0
#define QXID_EFRAME (-1)          /* exchange or frame failure */
#define QXID_ENOUSB (-2)          /* no USB reader at QXID_Init */
#define QXID_EUSBOPEN (-3)        /* USB open failed */
#define QXID_ESERIAL (-4)         /* serial open failed / negative handle */
#define QXID_ENULL (-5)           /* null buffer */
#define QXID_ESMALL (-6)          /* buffer too small */
#define QXID_EUNSUPPORTED (-9)    /* operation not supported */
#define QXID_ENODECODER (-10)     /* photo decoder library not loadable */
#define QXID_ENOENTRY (-11)       /* decoder entry point missing */
#define QXID_ELENGTH (-1001)      /* length fields of a card message inconsistent */
#define QXID_ENOMIFARE (-1002)    /* Mifare reader not answering */

/* Capacities the caller's buffers must have. A reply announcing a longer
 * block than these is refused with QXID_ELENGTH. */
#define QXID_TEXT_MAX 256u        /* text record of the base message */
#define QXID_PHOTO_MAX 1024u      /* compressed photo */
#define QXID_FP_MAX 1024u         /* fingerprint block */
#define QXID_APPMSG_MAX 3000u     /* additional message (largest payload) */
#define QXID_SAMID_LEN 16
#define QXID_SAMID_TEXT_MAX 38    /* 37 characters and the terminator */
#define QXID_IIN_LEN 4
#define QXID_SN_LEN 8
#define QXID_MSGSN_LEN 28
#define QXID_BMP_SIZE 38862
#define QXID_BGR_SIZE 38556

/* ---- Opening and closing ---- */
int QXID_Init(void);
int QXID_OpenPort(int iPort);
int QXID_OpenPortEx(const char* dev);
int QXID_ClosePort(int iPort);
void QXID_Free(void);
int QXID_GetCOMBaud(int iPort, unsigned int* puiBaud);
int QXID_SetCOMBaud(int iPort, unsigned int uiCurrBaud, unsigned int uiSetBaud);
int QXID_SetMaxRFByte(int iPort, unsigned char ucByte, int bIfOpen);

/* ---- SAM and card commands ---- */
int QXID_GetSAMStatus(int iPort, int bIfOpen);
int QXID_ResetSAM(int iPort, int bIfOpen);
int QXID_GetSAMID(int iPort, unsigned char* pucSAMID, int iIfOpen);
int QXID_GetSAMIDToStr(int iPort, char* pcSAMID, int iIfOpen);
int QXID_StartFindIDCard(int iPort, unsigned char* pucIIN, int bIfOpen);
int QXID_SelectIDCard(int iPort, unsigned char* pucSN, int bIfOpen);
int QXID_ReadBaseMsg(int iPort, unsigned char* pucCHMsg, unsigned int* puiCHMsgLen,
                     unsigned char* pucPHMsg, unsigned int* puiPHMsgLen, int bIfOpen);
int QXID_ReadBaseFPMsg(int iPort, unsigned char* pucCHMsg, unsigned int* puiCHMsgLen,
                       unsigned char* pucPHMsg, unsigned int* puiPHMsgLen,
                       unsigned char* pucFPMsg, unsigned int* puiFPMsgLen, int bIfOpen);
int QXID_ReadNewAppMsg(int iPort, unsigned char* pucAppMsg, unsigned int* puiAppMsgLen, int iIfOpen);
int QXID_ReadCardMsgSN(int iPort, unsigned char* pucMsgSN, int iIfOpen);

/* ---- Photo ---- */
int QXID_Wlt2bmpBuffer(unsigned char* wltData, unsigned char* imageData, int cbImageData);
int QXID_PHunpack(char* wltData, char* bgr, int cbBgr);

/* ---- Logging ---- */
/* Levels: 2 verbose, 3 debug, 4 info (default), 5 warn, 6 error, 7 silent. */
enum { QXID_LOG_VERBOSE = 2, QXID_LOG_DEBUG = 3, QXID_LOG_INFO = 4,
       QXID_LOG_WARN = 5, QXID_LOG_ERROR = 6, QXID_LOG_ASSERT = 7 };
/* Destinations: standard output, or lines appended to a file
 * (default "qxidreader.log" in the working directory). */
enum { LOG_TERMINE = 0, LOG_FILE = 1 };
/* A path of 512 bytes or more is refused: the call then changes nothing. */
void QXID_SetLogType(int logType, char* logFilePath);
void QXID_SetLogLevel(int logLevel);

/* ---- Text records (UTF-16LE, space padded) ---- */
typedef struct {
    unsigned char name[30];
    unsigned char gender[2];
    unsigned char national[4];
    unsigned char birthday[16];
    unsigned char address[70];
    unsigned char id[36];
    unsigned char maker[30];
    unsigned char start_date[16];
    unsigned char end_date[16];
    unsigned char reserved[36];
} Tidentify_info;

typedef struct {
    unsigned char englishName[120];
    unsigned char gender[2];
    unsigned char id[30];
    unsigned char areaCode[6];
    unsigned char chineseName[30];
    unsigned char start_date[16];
    unsigned char end_date[16];
    unsigned char birthday[16];
    unsigned char versionNumber[4];
    unsigned char officeNumber[8];
    unsigned char cardType[2];
    unsigned char reserved[36];
} Treside_info;

typedef struct {
    unsigned char name[30];
    unsigned char gender[2];
    unsigned char reserved1[4];
    unsigned char birthday[16];
    unsigned char address[70];
    unsigned char id[36];
    unsigned char maker[30];
    unsigned char start_date[16];
    unsigned char end_date[16];
    unsigned char passNumber[18];
    unsigned char lssueTimes[4];
    unsigned char reserved2[6];
    unsigned char cardType[2];
    unsigned char reserved3[6];
} Tgangaotai_info;

/* One UTF-8 byte for the card kind: 'I', 'J' or (resident card) ' '. */
void GetCardType(unsigned char* buffer, char* CardType);

/* Output buffers must be zeroed by the caller and large enough
 * (three bytes per UTF-16 unit of the field, plus one). */
void getIDName(Tidentify_info info, char* out);
void getIDGender(Tidentify_info info, char* out);
void getIDNational(Tidentify_info info, char* out);
void getIDBirthday(Tidentify_info info, char* out);
void getIDAddress(Tidentify_info info, char* out);
void getIDCardNumber(Tidentify_info info, char* out);
void getIDMaker(Tidentify_info info, char* out);
void getIDStartDate(Tidentify_info info, char* out);
void getIDEndDate(Tidentify_info info, char* out);

void getResideEnglishName(Treside_info info, char* out);
void getResideGender(Treside_info info, char* out);
void getResideId(Treside_info info, char* out);
void getResideAreaCode(Treside_info info, char* out);
void getResideChineseName(Treside_info info, char* out);
void getResideStartDate(Treside_info info, char* out);
void getResideEndDate(Treside_info info, char* out);
void getResideBirthday(Treside_info info, char* out);
void getResideVersionNumber(Treside_info info, char* out);
void getResideOfficeNumber(Treside_info info, char* out);
void getResideCardType(Treside_info info, char* out);
void getResideReserved(Treside_info info, char* out);

void getGATName(Tgangaotai_info info, char* out);
void getGATGender(Tgangaotai_info info, char* out);
void getGATReserved1(Tgangaotai_info info, char* out);
void getGATBirthday(Tgangaotai_info info, char* out);
void getGATAddress(Tgangaotai_info info, char* out);
void getGATCardNumber(Tgangaotai_info info, char* out);
void getGATMaker(Tgangaotai_info info, char* out);
void getGATStartDate(Tgangaotai_info info, char* out);
void getGATEndDate(Tgangaotai_info info, char* out);
void getGATPassNumber(Tgangaotai_info info, char* out);
void getGATLssueTimes(Tgangaotai_info info, char* out);
void getGATReserved2(Tgangaotai_info info, char* out);
void getGATCardType(Tgangaotai_info info, char* out);
void getGATReserved3(Tgangaotai_info info, char* out);

/* mifare begin */
/* ---- Serial Mifare (ISO 14443 A) reader module ----
 * iPort is the serial descriptor from QXID_OpenPort / QXID_OpenPortEx.
 * Card operations return 0; for a module failure its error code (129..255,
 * see QXID_Mifare_Perror); another module status as received; -2 for a block
 * address of 64 or more, a protected sector trailer, or a reply that is late,
 * badly framed, fails its checksum or is too short/long for what it carries;
 * -4 for a negative iPort; -5 for a null buffer. Calls must not overlap.
 * A card session: REQA, anticollision, select, reads/writes, halt. */
#define QXID_MIFARE_SNR_MAX 16  /* room a card serial-number buffer must have */

/* Discards pending input and reads the module serial number (one retry after
 * 200 ms): 0, or QXID_ENOMIFARE. */
int QXID_MFInit(int iPort);
int QXID_Mifare_REQA(int iPort, unsigned char mode);
int QXID_Mifare_AnticollA(int iPort, unsigned int* CardNumber);
int QXID_Mifare_SelectA(int iPort, unsigned int uid);
int QXID_Mifare_HaltA(int iPort);
/* Up to `blocks` 16-byte blocks from `addr`, never past the end of its
 * sector; buf needs 16 bytes per block; key is 6 bytes; uid may be null. */
int QXID_Mifare_Read(int iPort, unsigned char addr, unsigned char blocks, unsigned char* key,
                     unsigned char auth, unsigned char mode, unsigned char* buf, unsigned int* uid);
/* As reading; with bit 0 of `protect` set, a range touching the sector
 * trailer is refused (-2) before anything is sent. */
int QXID_Mifare_Write(int iPort, unsigned char addr, unsigned char blocks, unsigned char* key,
                      unsigned char auth, unsigned char mode, unsigned char* buf, unsigned int* uid,
                      int protect);
/* Card / identity-card serial number into a buffer of QXID_MIFARE_SNR_MAX
 * bytes; bit 0 of `halt` halts the card afterwards. */
int QXID_Mifare_Get_SNR(int iPort, unsigned char mode, unsigned char halt, unsigned char* serialnumber);
int QXID_Mifare_Get_SNR_SFZ(int iPort, unsigned char mode, unsigned char halt, unsigned char* serialnumber);
/* The module's own 8-byte serial number. */
int QXID_Mifare_GetSerNum(int iPort, unsigned char* SerNum);
int QXID_Mifare_SetSerNum(int iPort, unsigned char* SerNum);
/* Changes the module's rate (B19200..B115200 of termios; others select the
 * module's default); the host port keeps its rate. */
int QXID_SetBaudRate(int iPort, unsigned int baud);
/* Logs the status and prints the module error text to standard output. */
void QXID_Mifare_Perror(int status);
/* mifare end */

#ifdef __cplusplus
}
#endif

#endif
