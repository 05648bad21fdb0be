/* A decoder library without the expected entry point, for the library's
 * "entry point missing" path. */
__attribute__((visibility("default"))) int qxwlt_other_entry(char* block, char* pixels, int flag);

int qxwlt_other_entry(char* block, char* pixels, int flag) { return 0; }
