/* Names of the library's result codes (QXID_* in qxident.h), for log lines
 * and test messages. Internal: the version script exports QXID_* and the
 * record getters only, so this lower-case name stays inside. */
#ifndef QXID_ERROR_H
#define QXID_ERROR_H

#ifdef __cplusplus
extern "C" {
#endif

/* "QXID_EFRAME" for -1 and so on; a passed-up libusb error (code minus 1000)
 * that has no name of its own reads "QXID_ELIBUSB"; anything else
 * "QXID_EUNKNOWN". -1001 and -1002 are QXID_ELENGTH and QXID_ENOMIFARE even
 * though a libusb error could produce the same numbers. */
const char* qxid_error_name(int code);

#ifdef __cplusplus
}
#endif

#endif
