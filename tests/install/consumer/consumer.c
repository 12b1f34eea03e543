/* A program built against the installed library: says whether a file is a
   sound the library reads, through one export. */
#include <stdio.h>

#include <cadenzor/cadenzor.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    int32_t ok = CheckSupportWavFile(argv[1]);
    printf("%s: %s\n", argv[1], ok ? "supported" : "not supported");
    return ok ? 0 : 1;
}
