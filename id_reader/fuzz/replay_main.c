/* Replays fuzz inputs (corpus and regressions) through a harness without
 * libFuzzer, so every build, the sanitizer one included, runs them. */
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
int LLVMFuzzerInitialize(int* argc, char*** argv) __attribute__((weak));

static int replay(const char* path)
{
    FILE* f = fopen(path, "rb");
    if (!f) {
        perror(path);
        return 1;
    }
    static uint8_t buf[1 << 16];
    size_t n = fread(buf, 1, sizeof buf, f);
    fclose(f);
    uint8_t* exact = malloc(n ? n : 1);
    for (size_t i = 0; i < n; i++)
        exact[i] = buf[i];
    LLVMFuzzerTestOneInput(exact, n);
    free(exact);
    return 0;
}

int main(int argc, char** argv)
{
    if (LLVMFuzzerInitialize)
        LLVMFuzzerInitialize(&argc, &argv);
    int failures = 0;
    for (int i = 1; i < argc; i++)
        failures += replay(argv[i]);
    fprintf(stderr, "replayed %d inputs\n", argc - 1);
    return failures ? 1 : 0;
}
