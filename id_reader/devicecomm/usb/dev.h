/* Index-based layer over the USB table (internal). */
#ifndef QX_DEV_H
#define QX_DEV_H

#ifdef __cplusplus
extern "C" {
#endif

int dev_init(void);
int dev_open(int index);
int dev_sendcommand(int index, char* command, int size, char* cmdbuf, int retsize, int timeout);
/* As dev_sendcommand, also reporting the reply bytes received. */
int dev_exchange(int index, char* command, int size, char* cmdbuf, int retsize, int timeout, int* received);
int dev_close(int index);
void dev_free(void);

#ifdef __cplusplus
}
#endif

#endif
