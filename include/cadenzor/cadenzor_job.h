/*
 * Cadenzor conversion jobs: the library's own C interface (libcadenzor_job).
 *
 * A job converts one input (a file, or bytes in memory) to one output (a
 * file, or bytes the library allocates) in any format the library writes,
 * optionally with the chip's resource binary and its byte-array header. It
 * can resample, choose between the best sound and the exported functions'
 * bytes, take codec settings, report progress (and be cancelled from the
 * progress callback), measure what it made, and say why it failed with a
 * code from one table and a text naming the file and the reason.
 *
 *     cz_job* job = cz_job_create();
 *     cz_job_set_input_path(job, "hello.wav");
 *     cz_job_set_output_path(job, "hello.apm");
 *     cz_job_set_rate(job, 8000);
 *     cz_job_set_binary_path(job, "hello.bin");
 *     if (cz_job_run(job) != CZ_OK)
 *         fprintf(stderr, "%s\n", cz_job_error_text(job));
 *     cz_job_destroy(job);
 *
 * Rules that hold for every function:
 * - C11, no C++ types: handles are opaque, strings are zero-terminated UTF-8
 *   (on Windows: the system's 8-bit code page, as the 29 exports take them),
 *   sizes are size_t, rates are Hz.
 * - Nothing here throws or aborts on bad arguments: a null handle or pointer
 *   gives CZ_ERR_INVALID_ARGUMENT (or 0 / NULL / -1 from a query).
 * - Separate jobs may run at the same time on separate threads. One job is
 *   used by one thread at a time.
 * - Strings returned by a job stay valid until the job is changed, run again
 *   or destroyed; strings returned for formats and codes are static.
 * - Outputs are made in a private temporary folder and put in place together
 *   at the end of a successful run, or not at all: a failed or cancelled job
 *   leaves no output and never damages an existing file.
 *
 * Versions: CADENZOR_JOB_API_VERSION is the version this header describes;
 * cz_job_api_version() the version of the library loaded. A library of a
 * higher version keeps every function and code of the lower ones.
 */
#ifndef CADENZOR_CADENZOR_JOB_H
#define CADENZOR_CADENZOR_JOB_H

#include <stddef.h>
#include <stdint.h>

#define CADENZOR_JOB_API_VERSION 1

#if defined(_WIN32)
#if defined(CADENZOR_JOB_BUILDING)
#define CZ_JOB_API __declspec(dllexport)
#else
#define CZ_JOB_API __declspec(dllimport)
#endif
#else
#if defined(CADENZOR_JOB_BUILDING)
#define CZ_JOB_API __attribute__((visibility("default")))
#else
#define CZ_JOB_API
#endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- versions ------------------------------------------------------------ */

/* CADENZOR_JOB_API_VERSION of the library loaded. */
CZ_JOB_API int cz_job_api_version(void);
/* The library's release ("0.1.0"). */
CZ_JOB_API const char* cz_library_version(void);

/* ---- result codes: one table for every function ------------------------- */

typedef enum cz_status {
    CZ_OK = 0,
    CZ_ERR_INVALID_ARGUMENT = 1, /* a null handle or pointer, a value out of range */
    CZ_ERR_NO_INPUT = 2,         /* the job has no input (or no output) set */
    CZ_ERR_INPUT = 3,            /* the input cannot be read or is not a sound the library knows */
    CZ_ERR_FORMAT = 4,           /* the output format is unknown or not written by this build */
    CZ_ERR_OPTION = 5,           /* a setting does not apply to the output format */
    CZ_ERR_OUTPUT_EXISTS = 6,    /* an output exists and overwriting was not asked for */
    CZ_ERR_REFUSED = 7,          /* the job cannot be done as asked (outputs that are one file, ...) */
    CZ_ERR_CONVERSION = 8,       /* the conversion failed; the text says where and why */
    CZ_ERR_WRITE = 9,            /* an output could not be written or put in place */
    CZ_ERR_CANCELLED = 10,       /* the progress callback asked to stop */
    CZ_ERR_NO_MEMORY = 11,       /* memory ran out */
    CZ_ERR_NOT_RUN = 12,         /* a result was asked for before a successful run */
    CZ_ERR_INTERNAL = 13         /* a fault of the library: please report it */
} cz_status;

/* A short text for a code: "cancelled", "the input cannot be read", ...
 * Never NULL; "unknown result code" for a number outside the table. */
CZ_JOB_API const char* cz_status_text(int status);

/* ---- format facts --------------------------------------------------------- */

/* The formats the library knows, one row per format class. */
CZ_JOB_API size_t cz_format_count(void);
/* The short name ("APM"), the extension with its dot (".apm"), the long name
 * ("APM, 4-bit chip ADPCM"), the format id of the files, whether a chip
 * resource binary can be made from the format and whether the library writes
 * it. NULL, 0 or -1 for an index past the end. */
CZ_JOB_API const char* cz_format_name(size_t index);
CZ_JOB_API const char* cz_format_extension(size_t index);
CZ_JOB_API const char* cz_format_long_name(size_t index);
CZ_JOB_API int32_t cz_format_id(size_t index);
CZ_JOB_API int cz_format_makes_binary(size_t index);
CZ_JOB_API int cz_format_writes(size_t index);

/* ---- jobs ----------------------------------------------------------------- */

typedef struct cz_job cz_job;

typedef enum cz_profile {
    CZ_PROFILE_BEST = 0,      /* the best sound the format carries (the default) */
    CZ_PROFILE_COMPATIBLE = 1 /* exactly the bytes the 29 exported functions write */
} cz_profile;

typedef enum cz_header_style {
    CZ_HEADER_PLAIN = 0,   /* the byte-array header the exported functions write */
    CZ_HEADER_FIRMWARE = 1 /* include guard, length constant, static const array */
} cz_header_style;

/* Called with the percent done (0 to 100), on the thread that runs the job
 * or on a worker thread of the library, never on two threads at once.
 * Returning nonzero cancels the job: it stops at the next point it can and
 * fails with CZ_ERR_CANCELLED, leaving no output. */
typedef int (*cz_progress_fn)(void* user, int percent);

/* A new job with the defaults: best profile, the input's rate, plain header,
 * no overwriting. NULL when memory runs out. */
CZ_JOB_API cz_job* cz_job_create(void);
/* Frees a job and everything it returned; NULL is allowed. */
CZ_JOB_API void cz_job_destroy(cz_job* job);

/* The input: a file, or size bytes copied from data. name (may be NULL) is
 * what messages call the input; its extension is kept for formats the library
 * knows by name. */
CZ_JOB_API cz_status cz_job_set_input_path(cz_job* job, const char* path);
CZ_JOB_API cz_status cz_job_set_input_buffer(cz_job* job, const void* data, size_t size, const char* name);

/* The output: a file, or memory (read it with cz_job_take_output). The
 * format comes from the path's extension unless cz_job_set_format names it;
 * an output in memory needs cz_job_set_format. */
CZ_JOB_API cz_status cz_job_set_output_path(cz_job* job, const char* path);
CZ_JOB_API cz_status cz_job_set_output_buffer(cz_job* job);
/* The output format by name ("APM", "mdm") or extension (".apm"), as in
 * cz_format_name and cz_format_extension, without regard to case. NULL
 * returns to the output path's extension. CZ_ERR_FORMAT for a format that
 * is unknown or not written. */
CZ_JOB_API cz_status cz_job_set_format(cz_job* job, const char* name);

/* The output's sample rate; 0 (the default) keeps the input's. */
CZ_JOB_API cz_status cz_job_set_rate(cz_job* job, uint32_t hz);
CZ_JOB_API cz_status cz_job_set_profile(cz_job* job, cz_profile profile);

/* Codec settings, checked against the output format at the run (a setting the
 * format has no use for fails with CZ_ERR_OPTION):
 * mode for APM, AP6, WAM, SAM, MCP, MVC, WLP; bit rate (bit/s) for ESB (100
 * to 6553500) and SBD (1 to 65535); quality (0 to 32767) for ESB. A negative
 * value leaves a setting unset (the default). */
CZ_JOB_API cz_status cz_job_set_codec(cz_job* job, int32_t mode, int32_t bitrate, int32_t quality);

/* The chip's resource binary and its byte-array header (path + ".h"); NULL
 * for none (the default). cz_job_set_binary_buffer makes it in memory
 * (cz_job_take_binary); the header is then not made. */
CZ_JOB_API cz_status cz_job_set_binary_path(cz_job* job, const char* path);
CZ_JOB_API cz_status cz_job_set_binary_buffer(cz_job* job, int on);
CZ_JOB_API cz_status cz_job_set_header_style(cz_job* job, cz_header_style style);

/* Nonzero: existing output files are replaced. */
CZ_JOB_API cz_status cz_job_set_overwrite(cz_job* job, int on);
/* Nonzero: the run also measures how the chip's rendition compares with the
 * source at the output rate (cz_job_snr); it costs a second decoding. */
CZ_JOB_API cz_status cz_job_set_measure_quality(cz_job* job, int on);
CZ_JOB_API cz_status cz_job_set_progress(cz_job* job, cz_progress_fn callback, void* user);

/* Runs the job. CZ_OK, or a code with the text in cz_job_error_text. A job
 * may be changed and run again. */
CZ_JOB_API cz_status cz_job_run(cz_job* job);

/* ---- the result of the last run ------------------------------------------- */

/* The code of the last run (CZ_ERR_NOT_RUN before one). */
CZ_JOB_API cz_status cz_job_status(const cz_job* job);
/* "hello.wav: cannot open the file: No such file or directory": the file
 * and the reason; "" after a successful run. */
CZ_JOB_API const char* cz_job_error_text(const cz_job* job);
/* The file the failure is about ("" when none); the reason alone. */
CZ_JOB_API const char* cz_job_error_file(const cz_job* job);
CZ_JOB_API const char* cz_job_error_reason(const cz_job* job);

/* What the output format leaves out ("markers are not kept"), one text each. */
CZ_JOB_API size_t cz_job_warning_count(const cz_job* job);
CZ_JOB_API const char* cz_job_warning(const cz_job* job, size_t index);

/* Sizes in bytes of the input, the output and the binary; -1 when there is
 * none or before a successful run. */
CZ_JOB_API int64_t cz_job_input_bytes(const cz_job* job);
CZ_JOB_API int64_t cz_job_output_bytes(const cz_job* job);
CZ_JOB_API int64_t cz_job_binary_bytes(const cz_job* job);
/* The output's sound: duration in seconds, rate, channels (0 when unknown). */
CZ_JOB_API double cz_job_duration(const cz_job* job);
CZ_JOB_API uint32_t cz_job_output_rate(const cz_job* job);
CZ_JOB_API uint32_t cz_job_output_channels(const cz_job* job);
/* With quality measured: the signal-to-noise ratio in dB of what the chip
 * plays against the source at the output rate, and the segmental SNR (mean of
 * 20 ms stretches, each held to -10..35 dB). CZ_ERR_NOT_RUN when not
 * measured. */
CZ_JOB_API cz_status cz_job_snr(const cz_job* job, double* snr_db, double* segmental_snr_db);

/* An output made in memory: hands the bytes over to the caller, who frees
 * them with cz_free. CZ_ERR_NOT_RUN when there are none (taken already, or
 * the output went to a file). An empty output gives a valid pointer and 0. */
CZ_JOB_API cz_status cz_job_take_output(cz_job* job, void** data, size_t* size);
CZ_JOB_API cz_status cz_job_take_binary(cz_job* job, void** data, size_t* size);
CZ_JOB_API void cz_free(void* data);

#ifdef __cplusplus
}
#endif

#endif
