/* The job interface as a C11 program uses it (built with -std=c11 -Wall
 * -Werror -pedantic): a conversion with progress, results and a binary;
 * outputs in memory; cancelling from the callback at several points; and the
 * failures' codes and texts.
 * usage: test_c_api_job WORK_FOLDER */
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "cadenzor/cadenzor_job.h"

static int failures = 0;

#define CHECK(cond, ...)                                 \
    do {                                                 \
        if (!(cond)) {                                   \
            fprintf(stderr, "FAIL line %d: ", __LINE__); \
            fprintf(stderr, __VA_ARGS__);                \
            fprintf(stderr, "\n");                       \
            ++failures;                                  \
        }                                                \
    } while (0)

static char work[1024];

/* A path in the work folder; the result lives until the eighth call after. */
static const char* In(const char* name) {
    static char paths[8][1200];
    static int next = 0;
    char* p = paths[next++ % 8];
    snprintf(p, sizeof paths[0], "%s/%s", work, name);
    return p;
}

static int Exists(const char* path) {
    FILE* f = fopen(path, "rb");
    if (f) fclose(f);
    return f != NULL;
}

static void Put32(unsigned char* p, unsigned long v) {
    p[0] = (unsigned char)(v & 0xFF);
    p[1] = (unsigned char)((v >> 8) & 0xFF);
    p[2] = (unsigned char)((v >> 16) & 0xFF);
    p[3] = (unsigned char)((v >> 24) & 0xFF);
}

/* A mono 16-bit WAV of a 440 Hz tone, seconds long at rate. */
static unsigned char* ToneWav(unsigned long rate, double seconds, size_t* size) {
    const unsigned long frames = (unsigned long)(rate * seconds);
    const unsigned long data = frames * 2;
    unsigned char* b = malloc(44 + data);
    unsigned long i;
    if (!b) return NULL;
    memcpy(b, "RIFF", 4);
    Put32(b + 4, 36 + data);
    memcpy(b + 8, "WAVEfmt ", 8);
    Put32(b + 16, 16);
    b[20] = 1, b[21] = 0, b[22] = 1, b[23] = 0;
    Put32(b + 24, rate);
    Put32(b + 28, rate * 2);
    b[32] = 2, b[33] = 0, b[34] = 16, b[35] = 0;
    memcpy(b + 36, "data", 4);
    Put32(b + 40, data);
    for (i = 0; i < frames; ++i) {
        const int v = (int)(9000.0 * sin(6.283185307179586 * 440.0 * (double)i / (double)rate));
        b[44 + 2 * i] = (unsigned char)(v & 0xFF);
        b[45 + 2 * i] = (unsigned char)((v >> 8) & 0xFF);
    }
    *size = 44 + data;
    return b;
}

static int WriteFile(const char* path, const unsigned char* data, size_t size) {
    FILE* f = fopen(path, "wb");
    int ok;
    if (!f) return 0;
    ok = fwrite(data, 1, size, f) == size;
    return fclose(f) == 0 && ok;
}

struct Progress {
    int calls;
    int last;
    int monotonic;
    int cancelAt; /* percent at which to ask to stop; -1 never */
};

static int OnProgress(void* user, int percent) {
    struct Progress* p = user;
    if (percent < p->last || percent < 0 || percent > 100) p->monotonic = 0;
    p->last = percent;
    ++p->calls;
    return p->cancelAt >= 0 && percent >= p->cancelAt;
}

static void ConvertWithProgress(const char* wav) {
    cz_job* job = cz_job_create();
    struct Progress p = {0, 0, 1, -1};
    double snr = 0, seg = 0;
    CHECK(job != NULL, "no job");
    remove(In("tone.apm"));
    remove(In("tone.bin"));
    remove(In("tone.bin.h"));
    cz_job_set_input_path(job, wav);
    cz_job_set_output_path(job, In("tone.apm"));
    cz_job_set_rate(job, 8000);
    cz_job_set_binary_path(job, In("tone.bin"));
    cz_job_set_measure_quality(job, 1);
    cz_job_set_progress(job, OnProgress, &p);
    CHECK(cz_job_status(job) == CZ_ERR_NOT_RUN, "status before a run");
    CHECK(cz_job_run(job) == CZ_OK, "run: %s", cz_job_error_text(job));
    CHECK(p.calls >= 2 && p.monotonic && p.last == 100, "progress: %d calls, last %d", p.calls, p.last);
    CHECK(Exists(In("tone.apm")) && Exists(In("tone.bin")) && Exists(In("tone.bin.h")), "outputs in place");
    CHECK(cz_job_output_bytes(job) > 0 && cz_job_binary_bytes(job) > 0, "sizes");
    CHECK(cz_job_binary_bytes(job) < cz_job_input_bytes(job) / 6, "the chip stores 4 bits a sample at 8 kHz");
    CHECK(fabs(cz_job_duration(job) - 1.0) < 0.01, "duration %f", cz_job_duration(job));
    CHECK(cz_job_output_rate(job) == 8000, "rate %u", (unsigned)cz_job_output_rate(job));
    CHECK(cz_job_snr(job, &snr, &seg) == CZ_OK && snr > 10.0 && seg > 10.0, "quality %f %f", snr, seg);
    CHECK(strcmp(cz_job_error_text(job), "") == 0, "no error text after success");

    /* Run again: the outputs exist now and overwriting was not asked for. */
    CHECK(cz_job_run(job) == CZ_ERR_OUTPUT_EXISTS, "second run refused");
    CHECK(strstr(cz_job_error_text(job), "tone.apm") != NULL, "names the file: %s", cz_job_error_text(job));
    CHECK(cz_job_output_bytes(job) == -1, "no sizes after a failed run");
    cz_job_set_overwrite(job, 1);
    CHECK(cz_job_run(job) == CZ_OK, "overwrite: %s", cz_job_error_text(job));
    cz_job_destroy(job);
}

static void InMemory(const unsigned char* wav, size_t size) {
    cz_job* job = cz_job_create();
    void* out = NULL;
    void* bin = NULL;
    size_t outSize = 0, binSize = 0;
    cz_job_set_input_buffer(job, wav, size, "memory.wav");
    cz_job_set_output_buffer(job);
    CHECK(cz_job_run(job) == CZ_ERR_FORMAT, "memory output without a format");
    CHECK(cz_job_set_format(job, "xyz") == CZ_ERR_FORMAT, "unknown format name");
    CHECK(cz_job_set_format(job, ".MDM") == CZ_OK, "format by extension");
    CHECK(cz_job_set_format(job, "apm") == CZ_OK, "format by name");
    cz_job_set_binary_buffer(job, 1);
    CHECK(cz_job_run(job) == CZ_OK, "memory run: %s", cz_job_error_text(job));
    CHECK(cz_job_take_output(job, &out, &outSize) == CZ_OK && out && (int64_t)outSize == cz_job_output_bytes(job),
          "output bytes");
    {
        void* again = &outSize;
        CHECK(cz_job_take_output(job, &again, &outSize) == CZ_ERR_NOT_RUN && again == NULL, "taken once only");
    }
    CHECK(cz_job_take_binary(job, &bin, &binSize) == CZ_OK && (int64_t)binSize == cz_job_binary_bytes(job),
          "binary bytes");
    cz_job_destroy(job);
    cz_free(out);
    cz_free(bin);
}

/* Cancelling: at the first report, half way through a streamed conversion,
 * and half way through a resampling of the exported functions' kind. */
static void Cancel(const char* wav) {
    static const struct {
        int cancelAt;
        cz_profile profile;
        uint32_t rate;
    } cases[] = {{0, CZ_PROFILE_BEST, 0}, {50, CZ_PROFILE_BEST, 8000}, {30, CZ_PROFILE_COMPATIBLE, 11025}};
    size_t i;
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        cz_job* job = cz_job_create();
        struct Progress p = {0, 0, 1, cases[i].cancelAt};
        remove(In("cancel.mdm"));
        remove(In("cancel.bin"));
        remove(In("cancel.bin.h"));
        cz_job_set_input_path(job, wav);
        cz_job_set_output_path(job, In("cancel.mdm"));
        cz_job_set_binary_path(job, In("cancel.bin"));
        cz_job_set_rate(job, cases[i].rate);
        cz_job_set_profile(job, cases[i].profile);
        cz_job_set_progress(job, OnProgress, &p);
        CHECK(cz_job_run(job) == CZ_ERR_CANCELLED, "case %u: %s (%d reports, last %d)", (unsigned)i,
              cz_job_error_text(job), p.calls, p.last);
        CHECK(strcmp(cz_status_text(cz_job_status(job)), "cancelled") == 0, "case %u: code text", (unsigned)i);
        CHECK(!Exists(In("cancel.mdm")) && !Exists(In("cancel.bin")) && !Exists(In("cancel.bin.h")),
              "case %u: no output left", (unsigned)i);
        cz_job_destroy(job);
    }
}

static void Failures(const char* wav) {
    static const struct {
        const char* input;
        const char* output;
        int32_t mode, bitrate;
        cz_status code;
        const char* named; /* in the error text */
    } cases[] = {
        {"missing.wav", "m.apm", -1, -1, CZ_ERR_INPUT, "missing.wav"},
        {NULL, "m.xyz", -1, -1, CZ_ERR_FORMAT, "m.xyz"},
        {NULL, "m.mdm", -1, 16000, CZ_ERR_OPTION, "bit rate"},
        {NULL, "m.esb", 2, -1, CZ_ERR_OPTION, "ESB"},
        {"garbage.wav", "m.apm", -1, -1, CZ_ERR_INPUT, "garbage.wav"},
        {NULL, "no-folder/m.apm", -1, -1, CZ_ERR_WRITE, "no-folder/m.apm"},
    };
    size_t i;
    WriteFile(In("garbage.wav"), (const unsigned char*)"RIFF\4\0\0\0WAVEjunk", 16);
    for (i = 0; i < sizeof cases / sizeof cases[0]; ++i) {
        cz_job* job = cz_job_create();
        cz_status got;
        cz_job_set_input_path(job, cases[i].input ? In(cases[i].input) : wav);
        cz_job_set_output_path(job, In(cases[i].output));
        cz_job_set_codec(job, cases[i].mode, cases[i].bitrate, -1);
        got = cz_job_run(job);
        CHECK(got == cases[i].code, "case %u: code %d (%s), text %s", (unsigned)i, (int)got, cz_status_text(got),
              cz_job_error_text(job));
        CHECK(strstr(cz_job_error_text(job), cases[i].named) != NULL, "case %u: text %s", (unsigned)i,
              cz_job_error_text(job));
        CHECK(!Exists(In(cases[i].output)), "case %u: no output", (unsigned)i);
        cz_job_destroy(job);
    }
    CHECK(cz_job_run(NULL) == CZ_ERR_INVALID_ARGUMENT, "null job");
    CHECK(strcmp(cz_status_text(999), "unknown result code") == 0, "code outside the table");
}

static void Formats(void) {
    size_t i, n = cz_format_count();
    int apm = 0, wav = 0;
    CHECK(n >= 30, "%u format rows", (unsigned)n);
    for (i = 0; i < n; ++i) {
        CHECK(cz_format_name(i) && cz_format_extension(i) && cz_format_long_name(i), "row %u has names", (unsigned)i);
        if (strcmp(cz_format_name(i), "APM") == 0 && cz_format_writes(i)) apm = cz_format_makes_binary(i) == 1;
        if (strcmp(cz_format_extension(i), ".wav") == 0 && cz_format_writes(i)) wav = cz_format_makes_binary(i) == 0;
    }
    CHECK(apm && wav, "APM makes a binary, WAV does not");
    CHECK(cz_format_name(n) == NULL && cz_format_writes(n) == -1, "past the end");
}

int main(int argc, char** argv) {
    static char tone[1200], longer[1200];
    size_t size = 0;
    unsigned char* wav;
    if (argc < 2) {
        fprintf(stderr, "usage: %s WORK_FOLDER\n", argv[0]);
        return 2;
    }
    snprintf(work, sizeof work, "%s", argv[1]);
    CHECK(cz_job_api_version() == CADENZOR_JOB_API_VERSION, "version %d", cz_job_api_version());
    wav = ToneWav(16000, 1.0, &size);
    if (!wav || !WriteFile(In("tone.wav"), wav, size)) {
        fprintf(stderr, "cannot write the test sound in %s\n", work);
        return 2;
    }
    snprintf(tone, sizeof tone, "%s", In("tone.wav"));
    snprintf(longer, sizeof longer, "%s", In("long.wav"));
    ConvertWithProgress(tone);
    InMemory(wav, size);
    free(wav);
    wav = ToneWav(16000, 6.0, &size);
    if (!wav || !WriteFile(longer, wav, size)) return 2;
    Cancel(longer);
    free(wav);
    Failures(tone);
    Formats();
    printf("job interface: %d failures\n", failures);
    return failures == 0 ? 0 : 1;
}
