/* An algorithm library of the right name without its initialisation. */
__attribute__((visibility("default"))) int VERIDO_CLOSE(void *handle)
{
    (void)handle;
    return 0;
}
