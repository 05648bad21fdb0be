#include "fpcap_error.h"

const char *fpcap_error_name(int code)
{
    switch (code) {
    case FPCAP_SUCCESS: return "FPCAP_SUCCESS";
    case FPCAP_ERROR_DEVICE: return "FPCAP_ERROR_DEVICE";
    case FPCAP_ERROR_INVALID: return "FPCAP_ERROR_INVALID";
    case FPCAP_ERROR_TOO_SMALL: return "FPCAP_ERROR_TOO_SMALL";
    case FPCAP_ERROR_RESOLUTION: return "FPCAP_ERROR_RESOLUTION";
    case FPCAP_ERROR_PARAMETER: return "FPCAP_ERROR_PARAMETER";
    default: return "FPCAP_ERROR_UNKNOWN";
    }
}

const char *correct_error_name(int code)
{
    switch (code) {
    case CORRECT_SUCCESS: return "CORRECT_SUCCESS";
    case CORRECT_ERROR_CONTEXT: return "CORRECT_ERROR_CONTEXT";
    case CORRECT_ERROR_NO_MEMORY: return "CORRECT_ERROR_NO_MEMORY";
    case CORRECT_ERROR_INVALID: return "CORRECT_ERROR_INVALID";
    case CORRECT_ERROR_NO_BUFFER: return "CORRECT_ERROR_NO_BUFFER";
    default: return "CORRECT_ERROR_UNKNOWN";
    }
}
