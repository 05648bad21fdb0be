/* Public Mifare functions: argument checks, the "===>" trace line, then the
 * card operation of mifare.c. */
#include <stdio.h>
#include <unistd.h>

#include "logPrintf.h"
#include "mifare.h"
#include "qxident.h"
#include "uart.h"

#define NEGATIVE_PORT (-4)
#define MFINIT_RETRY_DELAY_US 200000

/* Module serial number read by QXID_MFInit. */
static unsigned char g_module_sernum[MF_MODULE_SN_LEN];

#define ENTER(name, port)                   \
    do {                                    \
        QXLOG(VERBOSE, "===>" name "\n");   \
        if ((port) < 0)                     \
            return NEGATIVE_PORT;           \
    } while (0)

int QXID_MFInit(int iPort)
{
    ENTER("QXID_MFInit", iPort);
    serial_flush_input(iPort);
    if (Mifare_GetSerNum(iPort, g_module_sernum) == 0)
        return 0;
    usleep(MFINIT_RETRY_DELAY_US);
    serial_flush_input(iPort);
    if (Mifare_GetSerNum(iPort, g_module_sernum) == 0)
        return 0;
    return QXID_ENOMIFARE;
}

int QXID_Mifare_REQA(int iPort, unsigned char mode)
{
    ENTER("QXID_Mifare_REQA", iPort);
    return Mifare_REQA(iPort, mode);
}

int QXID_Mifare_AnticollA(int iPort, unsigned int* CardNumber)
{
    ENTER("QXID_Mifare_AnticollA", iPort);
    return Mifare_AnticollA(iPort, CardNumber);
}

int QXID_Mifare_SelectA(int iPort, unsigned int uid)
{
    ENTER("QXID_Mifare_SelectA", iPort);
    return Mifare_SelectA(iPort, uid);
}

int QXID_Mifare_HaltA(int iPort)
{
    ENTER("QXID_Mifare_HaltA", iPort);
    return Mifare_HaltA(iPort);
}

int QXID_Mifare_Read(int iPort, unsigned char addr, unsigned char blocks, unsigned char* key,
                     unsigned char auth, unsigned char mode, unsigned char* buf, unsigned int* uid)
{
    ENTER("QXID_Mifare_Read", iPort);
    return Mifare_Read(iPort, addr, blocks, key, auth, mode, buf, uid);
}

int QXID_Mifare_Write(int iPort, unsigned char addr, unsigned char blocks, unsigned char* key,
                      unsigned char auth, unsigned char mode, unsigned char* buf, unsigned int* uid,
                      int protect)
{
    ENTER("QXID_Mifare_Write", iPort);
    return Mifare_Write(iPort, addr, blocks, key, auth, mode, buf, uid, protect);
}

int QXID_Mifare_Get_SNR(int iPort, unsigned char mode, unsigned char halt, unsigned char* serialnumber)
{
    ENTER("QXID_Mifare_Get_SNR", iPort);
    return Mifare_Get_SNR(iPort, mode, halt, serialnumber);
}

int QXID_Mifare_Get_SNR_SFZ(int iPort, unsigned char mode, unsigned char halt,
                            unsigned char* serialnumber)
{
    ENTER("Mifare_Get_SNR_SFZ", iPort);
    return Mifare_Get_SNR_SFZ(iPort, mode, halt, serialnumber);
}

int QXID_Mifare_GetSerNum(int iPort, unsigned char* SerNum)
{
    ENTER("QXID_Mifare_GetSerNum", iPort);
    return Mifare_GetSerNum(iPort, SerNum);
}

int QXID_Mifare_SetSerNum(int iPort, unsigned char* SerNum)
{
    ENTER("QXID_Mifare_SetSerNum", iPort);
    return Mifare_SetSerNum(iPort, SerNum);
}

int QXID_SetBaudRate(int iPort, unsigned int baud)
{
    ENTER("QXID_SetBaudRate", iPort);
    return Mifare_SetBaudRate(iPort, baud);
}

static const char* mifare_error_text(int status)
{
    switch (status) {
    case 129: return "Parameter Setting Failed!";
    case 130: return "Timeout!";
    case 131: return "Card NOT found or Auth Failed!";
    case 132: return "Read data from card failed !";
    case 133: return "Parameters Error!";
    case 135: return "Unkown Error!";
    case 143: return "Command Error!";
    case 255: return "communication Failed!";
    default: return NULL;
    }
}

void QXID_Mifare_Perror(int status)
{
    QXLOG(VERBOSE, "===>QXID_Mifare_Perror\n");
    QXLOG(ERROR, "Mifare Reader return status:%d\n", status);
    const char* text = mifare_error_text(status);
    if (text) {
        printf("%s\n", text);
        fflush(stdout);
    }
}
