// Test double of the fingerprint algorithm library, for the dialog tests:
// its templates are a sampled patch of the image centre, compared by
// correlation, and the tests can force the answers the dialog must handle.
// It is not a fingerprint matcher.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

// Score every verify returns; -1 computes it from the templates again.
void qxfpstub_force_verify_score(int score);
// Length of the enrolment templates made from now on (padded); 0 = natural.
void qxfpstub_set_enrol_length(int length);
// Code the next enrolment template generation fails with; 0 = succeed.
void qxfpstub_set_gen_error(int code);
// Code the database add fails with; 0 = succeed.
void qxfpstub_set_add_error(int code);
// Templates in the database of the newest live handle; -1 without one.
int qxfpstub_db_size(void);
// Copies the stored template of `id`; its length, or -1 when absent.
int qxfpstub_db_template(int id, unsigned char *out, int capacity);
// Algorithm handles not yet closed.
int qxfpstub_live_handles(void);
// Puts every knob back.
void qxfpstub_reset(void);

#ifdef __cplusplus
}
#endif
