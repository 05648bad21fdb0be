#include "qxid_error.h"

#include "qxident.h"

/* libusb error codes run from -1 to -99. */
#define LIBUSB_PASSED_UP_FIRST (-1000 - 1)
#define LIBUSB_PASSED_UP_LAST (-1000 - 99)

const char* qxid_error_name(int code)
{
    switch (code) {
    case QXID_OK: return "QXID_OK";
    case QXID_EFRAME: return "QXID_EFRAME";
    case QXID_ENOUSB: return "QXID_ENOUSB";
    case QXID_EUSBOPEN: return "QXID_EUSBOPEN";
    case QXID_ESERIAL: return "QXID_ESERIAL";
    case QXID_ENULL: return "QXID_ENULL";
    case QXID_ESMALL: return "QXID_ESMALL";
    case QXID_EUNSUPPORTED: return "QXID_EUNSUPPORTED";
    case QXID_ENODECODER: return "QXID_ENODECODER";
    case QXID_ENOENTRY: return "QXID_ENOENTRY";
    case QXID_ELENGTH: return "QXID_ELENGTH";
    case QXID_ENOMIFARE: return "QXID_ENOMIFARE";
    default: break;
    }
    if (code <= LIBUSB_PASSED_UP_FIRST && code >= LIBUSB_PASSED_UP_LAST)
        return "QXID_ELIBUSB";
    return "QXID_EUNKNOWN";
}
