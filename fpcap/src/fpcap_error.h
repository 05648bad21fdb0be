/* Failure codes of the plug-in, by name. The numbers are fixed: callers of
 * the sensor* entry points compare them (see qxfpcap.h).
 *
 * Two families share the small numbers with meanings of their own: the
 * sensor* entry points and the device code behind them use fpcap_error; the
 * correction and quality modules use correct_error. Not exported: the
 * plug-in's version script keeps only sensor*. */
#ifndef QXFPCAP_FPCAP_ERROR_H
#define QXFPCAP_FPCAP_ERROR_H

#ifdef __cplusplus
extern "C" {
#endif

typedef enum fpcap_error {
    FPCAP_SUCCESS = 0,
    /* The device cannot be (re)opened, its calibration not read, or it does not answer. */
    FPCAP_ERROR_DEVICE = -1,
    /* Null handle or buffer, or a value outside the allowed set. */
    FPCAP_ERROR_INVALID = -2,
    /* Buffer or length too small. */
    FPCAP_ERROR_TOO_SMALL = -3,
    /* Resolution out of range. */
    FPCAP_ERROR_RESOLUTION = -4,
    /* Unknown parameter code, or a value other than 0/1 where only those are allowed. */
    FPCAP_ERROR_PARAMETER = -5
} fpcap_error;

typedef enum correct_error {
    CORRECT_SUCCESS = 0,
    /* Missing or invalid context. */
    CORRECT_ERROR_CONTEXT = -1,
    CORRECT_ERROR_NO_MEMORY = -2,
    /* Invalid parameter, nothing to build yet, or a region that does not fit. */
    CORRECT_ERROR_INVALID = -3,
    /* Missing buffer. */
    CORRECT_ERROR_NO_BUFFER = -4
} correct_error;

/* Constant name of a code, for log lines and test messages; "FPCAP_ERROR_UNKNOWN"
 * (or "CORRECT_ERROR_UNKNOWN") for any other number. */
const char *fpcap_error_name(int code);
const char *correct_error_name(int code);

#ifdef __cplusplus
}
#endif

#endif
