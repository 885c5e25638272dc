/* aamsg: conversions between audio files and auto-attendant message files.
 *
 * A message file is what a telephone system's automated attendant plays: a bare run of 4-bit
 * IMA ADPCM codes, 8000 samples a second, mono, two codes a byte, the earlier sample in the high
 * four bits, no header. Three conversions:
 *
 *   AAMSG_MODE_ENCODE  'e'  a PCM WAVE file to a message, exactly as the format's historical
 *                           encoder made it (channels added, rate converted by interpolation);
 *   AAMSG_MODE_DECODE  'd'  a message to a 16-bit mono 8000 Hz WAVE file, exactly;
 *   AAMSG_MODE_BEST    'q'  any audio file the library reads to the message that sounds best:
 *                           the codes are searched for, the noise shaped under the speech, and
 *                           optionally the speech brought to a level and its silences trimmed.
 *
 * Plain C, for C and C++ programs and for bindings (Python's ctypes among them). Every function
 * is safe to call from several threads at once on different objects: the library keeps no
 * global state. Strings are UTF-8 on every platform, file names on Windows too.
 */
#ifndef AAMSG_H
#define AAMSG_H

#include <stddef.h>
#include <stdint.h>

#include "aamsg_version.h" /* AAMSG_VERSION_MAJOR, _MINOR, _PATCH and AAMSG_VERSION_STRING */

#if defined(_WIN32) && defined(AAMSG_BUILDING_SHARED)
#define AAMSG_API __declspec(dllexport)
#elif defined(_WIN32) && defined(AAMSG_SHARED)
#define AAMSG_API __declspec(dllimport)
#elif defined(__GNUC__) && defined(AAMSG_BUILDING_SHARED)
#define AAMSG_API __attribute__((visibility("default")))
#else
#define AAMSG_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The library's version, "MAJOR.MINOR.PATCH": that of the library loaded, which a program
 * built against an older header may differ from. */
AAMSG_API const char* aamsg_version(void);

/* What a conversion came to. The command line maps each to its exit code and its message. */
typedef enum aamsg_status {
    AAMSG_OK = 0,
    AAMSG_CANNOT_OPEN_INPUT = 1,   /* the input file does not exist, or cannot be read */
    AAMSG_CANNOT_OPEN_OUTPUT = 2,  /* the output file cannot be created */
    AAMSG_OUTPUT_IS_INPUT = 3,     /* the output names the input file: nothing was written */
    AAMSG_WRITE_FAILED = 4,        /* writing the output failed (a full disk): it is incomplete */
    AAMSG_READ_FAILED = 5,         /* reading the input failed part way */
    AAMSG_NOT_AUDIO = 6,           /* 'e': not a RIFF WAVE file; 'q': no audio file the library reads */
    AAMSG_NOT_PCM_WAVE = 7,        /* 'e': a WAVE file, but not of PCM samples */
    AAMSG_CORRUPTED = 8,           /* the input is cut short or damaged; what came before is converted */
    AAMSG_TOO_LONG = 9,            /* 'd': the message is too long for a WAVE file */
    AAMSG_OUT_OF_MEMORY = 10,
    AAMSG_INTERNAL = 11,           /* a failure the library did not foresee */
    AAMSG_CANCELLED = 12,          /* the progress callback asked to stop */
    AAMSG_INVALID_ARGUMENT = 13,   /* a null pointer, an unknown mode, a level out of range */
    AAMSG_NO_AUDIO_STREAM = 14     /* 'q': the file is a container with no audio stream (a video alone) */
} aamsg_status;

/* The status in a few English words ("the input is corrupted"); never null. */
AAMSG_API const char* aamsg_status_text(aamsg_status status);

typedef enum aamsg_mode {
    AAMSG_MODE_ENCODE = 'e',
    AAMSG_MODE_DECODE = 'd',
    AAMSG_MODE_BEST = 'q'
} aamsg_mode;

/* The speech level 'q' brings a prompt to by default, and the levels it can be asked for, in dB
 * of full scale (the active speech level, as ITU-T P.56 measures it). */
#define AAMSG_DEFAULT_LEVEL_DB (-22.0)
#define AAMSG_MIN_LEVEL_DB (-60.0)
#define AAMSG_MAX_LEVEL_DB (-3.0)

/* How to convert: an object of the library's, so that options can be added without breaking
 * programs. A new one is 'q' with no level change, no trim, noise shaping on, and as many
 * search threads as the machine has processors. */
typedef struct aamsg_options aamsg_options;

/* Null when out of memory. */
AAMSG_API aamsg_options* aamsg_options_new(void);
AAMSG_API void aamsg_options_free(aamsg_options* options); /* null is fine */
AAMSG_API aamsg_status aamsg_options_set_mode(aamsg_options* options, aamsg_mode mode);
/* 'q': bring the active speech to `level_db` (AAMSG_MIN_LEVEL_DB to AAMSG_MAX_LEVEL_DB), or, with
 * `enabled` 0, leave the level as it is. */
AAMSG_API aamsg_status aamsg_options_set_level(aamsg_options* options, int enabled, double level_db);
/* 'q': remove the silence before and after the speech. */
AAMSG_API aamsg_status aamsg_options_set_trim(aamsg_options* options, int enabled);
/* 'q': the codes of least plain error, without shaping the noise (for music on hold). */
AAMSG_API aamsg_status aamsg_options_set_flat(aamsg_options* options, int enabled);
/* 'q': threads for the code search, 0 for one a processor. The codes do not depend on it. */
AAMSG_API aamsg_status aamsg_options_set_threads(aamsg_options* options, unsigned threads);

/* Told how far a conversion has come: 0 once the input is known to be convertible, then each
 * whole percent up to 100, in order. A non-zero return stops the conversion, which then ends
 * with AAMSG_CANCELLED (the output file is left incomplete). */
typedef int (*aamsg_progress)(void* context, int percent);

/* What a conversion did. Set `size` to sizeof(aamsg_report) before the call: a library newer
 * than the program fills only as much as the program knows of. */
typedef struct aamsg_report {
    size_t size;
    int finished;               /* the conversion reached the end of its input */
    uint32_t seconds;           /* the length converted, in whole seconds */
    uint64_t samples;           /* 'q': 8000 Hz samples encoded */
    uint64_t clipped;           /* 'q': of them, louder than the format holds, so clipped */
    uint64_t not_numbers;       /* 'q': float samples that were NaN (made silent) or infinite (full scale) */
    int level_measured;         /* 'q': the input was measured for a level or a trim */
    int speech_found;           /* 'q': it holds active speech (if not, it is left as it is) */
    double level_before_db;     /* 'q': its active speech level, dB of full scale */
    double level_after_db;      /* 'q': of the samples encoded */
    double gain_db;
    double trimmed_start_seconds;
    double trimmed_end_seconds;
    int greedy_codes;           /* 'q': the plain quantiser's codes were written, being no worse */
} aamsg_report;

/* Converts the file `input` into the file `output` (names in UTF-8), as `options` say (null:
 * the defaults). The output is never created or emptied when it names the input. `progress` and
 * `report` may be null. */
AAMSG_API aamsg_status aamsg_convert_file(const char* input, const char* output, const aamsg_options* options,
                                          aamsg_progress progress, void* context, aamsg_report* report);

/* Converts `size` bytes at `input` into a buffer of the library's, given back in `*output` and
 * `*output_size` (free it with aamsg_free; on a failure it holds what was written, maybe
 * nothing). */
AAMSG_API aamsg_status aamsg_convert_memory(const void* input, size_t size, void** output, size_t* output_size,
                                            const aamsg_options* options, aamsg_progress progress, void* context,
                                            aamsg_report* report);

AAMSG_API void aamsg_free(void* buffer);

/* The formats 'q' reads, as the command line, the page and aamsg_status_text name them. */
#define AAMSG_AUDIO_FORMATS "WAVE, AIFF, FLAC, MP3, M4A, Ogg, Opus, WebM, WMA, AMR or AC-3"

/* What the library reads for 'q' beyond WAVE, AIFF, CAF, FLAC, Ogg Vorbis and Opus. Every build
 * reads MP3 now (and M4A, WebM, WMA, AMR and AC-3): the flag stays set for programs that ask. */
#define AAMSG_READS_MP3 1u
AAMSG_API unsigned aamsg_features(void);

#ifdef __cplusplus
}
#endif

#endif /* AAMSG_H */
