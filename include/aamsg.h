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
 * is safe to call from several threads at once on different objects. The one thing calls share
 * is a count of the search threads at work, so that conversions running at once divide the
 * processors among them (aamsg_options_set_threads). Strings are UTF-8 on every platform, file
 * names on Windows too.
 *
 * Versions: the soname is libaamsg.so.0 (the package libaamsg0) and stays so for as long as
 * every release only adds to what an earlier one offered, as 1.1 and 1.2 did: a program built
 * against an older header runs with a newer library unchanged. The soname's number counts the
 * releases that broke that promise, none so far; it is not the version's major number.
 */
#ifndef AAMSG_H
#define AAMSG_H

#include <stddef.h>
#include <stdint.h>

#include "aamsg_version.h" /* AAMSG_VERSION_MAJOR, _MINOR, _PATCH, AAMSG_VERSION_STRING, AAMSG_VERSION_NUMBER */

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
/* The same as a number, (MAJOR << 16) | (MINOR << 8) | PATCH, to compare with AAMSG_VERSION_NUMBER:
 * a program may check that the library it loaded has what its header promised. */
AAMSG_API unsigned aamsg_version_number(void);

/* What to do. The letters are lower case, as the command line has them once it has lowered its
 * switch: 'E' is no mode. */
typedef enum aamsg_mode {
    AAMSG_MODE_ENCODE = 'e',
    AAMSG_MODE_DECODE = 'd',
    AAMSG_MODE_BEST = 'q'
} aamsg_mode;

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

/* The status in a few English words ("the input is corrupted"); never null. A report's `detail`
 * says what exactly was wrong. */
AAMSG_API const char* aamsg_status_text(aamsg_status status);

/* The command line's exit code for a status (0, 101 to 106, 201 to 205; aamsg(1) lists them),
 * for programs that stand in for the tool. */
AAMSG_API int aamsg_exit_code(aamsg_status status);

/* The command line's closing message for a status of a conversion in `mode` of the files named
 * `input` and `output`, byte for byte as it prints it, line ends included ("OK\r\n\n",
 * "greeting.wav is corrupted\r\n", "Cannot open outfile out.msg\n"); the names are put in as
 * they are, never read as formats. Written to `buffer` (`size` bytes, ended by a zero byte, cut
 * short if it does not fit; `buffer` may be null when `size` is 0); returns the length of the
 * whole message, as snprintf does. AAMSG_INVALID_ARGUMENT, for which the tool prints its usage
 * text, has an empty message. */
AAMSG_API size_t aamsg_console_message(aamsg_status status, aamsg_mode mode, const char* input, const char* output,
                                       char* buffer, size_t size);

/* The speech level 'q' brings a prompt to by default, and the levels it can be asked for, in dB
 * of full scale (the active speech level, as ITU-T P.56 measures it). */
#define AAMSG_DEFAULT_LEVEL_DB (-22.0)
#define AAMSG_MIN_LEVEL_DB (-60.0)
#define AAMSG_MAX_LEVEL_DB (-3.0)

/* How to convert: an object of the library's, so that options can be added without breaking
 * programs. A new one is 'q' with no level change, no trim, noise shaping on, and a share of the
 * processors for its search threads. */
typedef struct aamsg_options aamsg_options;

/* Never null. When memory runs out it returns an object that every setter refuses and every
 * conversion fails with, both with AAMSG_OUT_OF_MEMORY: options that could not be made never
 * pass for the defaults (a null options pointer, which the conversions take for the defaults). */
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
/* 'q': threads for the code search. 0, the default, takes a share of the processors the process may
 * run on (aamsg_processors): those that conversions running at the same time have not taken, and
 * at least one. Any other number is used as it is (and counted as taken). The codes do not
 * depend on it. */
AAMSG_API aamsg_status aamsg_options_set_threads(aamsg_options* options, unsigned threads);

/* The processors this process may run on: those of its CPU affinity, no more than its cgroup's
 * CPU quota allows (rounded up). */
AAMSG_API unsigned aamsg_processors(void);

/* Told how far a conversion has come: 0 once the input is known to be convertible, then each
 * whole percent up to 100, in order. It is called on the thread that called the conversion,
 * never on another one, and never during another call of it. A non-zero return stops the
 * conversion, which then ends with AAMSG_CANCELLED (a file output is left as it was). */
typedef int (*aamsg_progress)(void* context, int percent);

/* What a conversion did. Set `size` to sizeof(aamsg_report) before the call: a library newer
 * than the program fills only as much as the program knows of, and one older than the program
 * sets every field it does not know of to zero. Every conversion fills it, whatever its status
 * (unless `size` is too small to hold `size` itself: then AAMSG_INVALID_ARGUMENT). */
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
    char detail[256];           /* on a failure, what exactly was wrong, in a short English sentence
                                   ("the rate is 50 Hz; aamsg reads 100 Hz to 1536 kHz"); "" on success */
    uint32_t findings;          /* 'q': what its input's sound says, AAMSG_FINDING_* flags (below) */
} aamsg_report;

/* Converts the file `input` into the file `output` (names in UTF-8), as `options` say (null:
 * the defaults). `progress` and `report` may be null.
 *
 * The output is written to a temporary file beside it (beside the file a symbolic link leads
 * to), which replaces it, with the permissions of the file it replaces, only once the
 * conversion succeeded, or ended with AAMSG_CORRUPTED (an input cut short: what it holds is
 * converted). After any other failure, and after a cancel, the file that was there is as it
 * was, or there is none, and no temporary file is left. A device, a pipe, or a file in a
 * folder where only the file may be written is written directly, as the conversion goes. The
 * output is never created or emptied when it names the input. */
AAMSG_API aamsg_status aamsg_convert_file(const char* input, const char* output, const aamsg_options* options,
                                          aamsg_progress progress, void* context, aamsg_report* report);

/* Converts `size` bytes at `input` into a buffer of the library's, given back in `*output` and
 * `*output_size` (free it with aamsg_free; on a failure it holds what was written, maybe
 * nothing). */
AAMSG_API aamsg_status aamsg_convert_memory(const void* input, size_t size, void** output, size_t* output_size,
                                            const aamsg_options* options, aamsg_progress progress, void* context,
                                            aamsg_report* report);

/* An input the caller reads for the library: its bytes from where it stands when the conversion
 * starts (its `tell`, else 0). `read` gives up to `size` bytes, 0 at the end, -1 on an error.
 * `seek` (whence SEEK_SET, SEEK_CUR or SEEK_END) returns the new position, or -1; null when the
 * input cannot seek (a pipe), and then the library copies the whole input to a temporary file
 * first, which it removes on every path: formats that must seek (an MP4 with its index last)
 * and q's two passes work all the same. `tell` returns the position; null: counted from the
 * reads. */
typedef struct aamsg_reader {
    void* context;
    int64_t (*read)(void* context, void* buffer, size_t size);
    int64_t (*seek)(void* context, int64_t offset, int whence);
    int64_t (*tell)(void* context);
} aamsg_reader;

/* Takes `size` bytes of the output; returns 0 when it took them all, anything else to fail the
 * conversion with AAMSG_WRITE_FAILED. */
typedef int (*aamsg_writer)(void* context, const void* data, size_t size);

/* Converts what `input` reads into what `write` takes, in memory that does not grow with the
 * input. 'e' and 'd' write as they convert. 'q' may rewrite its codes at the end (see
 * `greedy_codes`), so its message is held in a temporary file (removed on every path) and
 * written once it is final: on success, and after AAMSG_CORRUPTED. The writer and the progress
 * callback are called on the calling thread; the reader's functions one at a time, on the
 * calling thread or on one of the library's ('q' reads its input on a thread of its own). */
AAMSG_API aamsg_status aamsg_convert_stream(const aamsg_reader* input, aamsg_writer write, void* write_context,
                                            const aamsg_options* options, aamsg_progress progress, void* context,
                                            aamsg_report* report);

/* Converts what `input` reads (as aamsg_convert_stream reads it) into the file `output`, which is
 * replaced as aamsg_convert_file replaces it: only by a whole message. */
AAMSG_API aamsg_status aamsg_convert_stream_to_file(const aamsg_reader* input, const char* output,
                                                    const aamsg_options* options, aamsg_progress progress, void* context,
                                                    aamsg_report* report);

/* Samples in memory, interleaved, in the host's byte order. */
typedef enum aamsg_sample_type {
    AAMSG_SAMPLES_INT16 = 1, /* signed 16-bit */
    AAMSG_SAMPLES_FLOAT = 2  /* 32-bit float, full scale 1.0 */
} aamsg_sample_type;

/* Encodes `frames` frames of `channels` samples at `rate` frames a second with 'e' or 'q' (the
 * mode of `options`; null: 'q'): the same message as from a WAVE file of those samples (int16: a
 * PCM WAVE file; float: a 32-bit float WAVE file, which 'e' refuses as not PCM). The message is
 * given back as aamsg_convert_memory gives it. A rate or channel count of 0, and more samples
 * than a WAVE file holds (4 GB), are AAMSG_INVALID_ARGUMENT. */
AAMSG_API aamsg_status aamsg_encode_samples(const void* samples, aamsg_sample_type type, size_t frames, unsigned rate,
                                            unsigned channels, void** output, size_t* output_size,
                                            const aamsg_options* options, aamsg_progress progress, void* context,
                                            aamsg_report* report);

/* Decodes the message of `size` bytes at `message` into `*count` samples (two a byte) at 8000 a
 * second: exactly the samples of the WAVE file 'd' makes of it, in a buffer of the library's
 * (free it with aamsg_free; null when there are none, and after a failure). */
AAMSG_API aamsg_status aamsg_decode_samples(const void* message, size_t size, int16_t** samples, size_t* count,
                                            aamsg_progress progress, void* context, aamsg_report* report);

AAMSG_API void aamsg_free(void* buffer);

/* The formats 'q' reads, as the command line, the page and aamsg_status_text name them. */
#define AAMSG_AUDIO_FORMATS "WAVE, AIFF, FLAC, MP3, M4A, Ogg, Opus, WebM, WMA, AMR or AC-3"

/* What a prompt's sound says, before callers hear it: aamsg_inspect_file and _memory measure a
 * recording as 'q' reads it (channels averaged; level, silences and noise at 8000 Hz; peak,
 * clipping and offset at the file's own rate), or a message as the phone plays it, and tell
 * what is wrong with it: the findings. 'q' finds the same in its input (aamsg_report.findings),
 * but for steady sound when it searches flat, which is for music and tones.
 * Levels are in dB of full scale (a square wave at full scale is 0 dB, a sine -3 dB).
 *
 * The findings, one bit each, and the thresholds they are judged by: */
#define AAMSG_FINDING_NO_SPEECH 0x001u     /* silence, or hiss too faint for the level meter */
#define AAMSG_FINDING_NOISE_ONLY 0x002u    /* steady sound without the pauses of speech */
#define AAMSG_FINDING_TOO_QUIET 0x004u     /* active speech level under AAMSG_TOO_QUIET_DB */
#define AAMSG_FINDING_TOO_LOUD 0x008u      /* over AAMSG_TOO_LOUD_DB */
#define AAMSG_FINDING_CLIPPED 0x010u       /* runs of AAMSG_CLIP_RUN_SAMPLES or more flat at full scale */
#define AAMSG_FINDING_SILENCE_START 0x020u /* more than AAMSG_LONG_SILENCE_SECONDS before the speech */
#define AAMSG_FINDING_SILENCE_END 0x040u   /* and after it */
#define AAMSG_FINDING_NOISY 0x080u         /* noise floor less than AAMSG_NOISY_SNR_DB under the speech */
#define AAMSG_FINDING_DC_OFFSET 0x100u     /* mean sample farther than AAMSG_DC_OFFSET_LIMIT from zero */
#define AAMSG_FINDING_LARGE_GAIN 0x200u    /* 'q' only: its level raised the speech more than AAMSG_LARGE_GAIN_DB */
/* The findings that spoil a message, which the command line warns of after 'q'. */
#define AAMSG_WARNING_FINDINGS \
    (AAMSG_FINDING_NO_SPEECH | AAMSG_FINDING_NOISE_ONLY | AAMSG_FINDING_CLIPPED | AAMSG_FINDING_LARGE_GAIN)

#define AAMSG_TOO_QUIET_DB (-28.0)        /* the telephone level, AAMSG_DEFAULT_LEVEL_DB, less 6 dB */
#define AAMSG_TOO_LOUD_DB (-16.0)         /* and plus 6 dB */
#define AAMSG_NOISE_ONLY_SNR_DB (6.0)     /* speech to noise */
#define AAMSG_NOISY_SNR_DB (15.9)
#define AAMSG_LONG_SILENCE_SECONDS (1.0)
#define AAMSG_CLIP_RUN_SAMPLES 3
#define AAMSG_DC_OFFSET_LIMIT (0.01)      /* a share of full scale */
#define AAMSG_LARGE_GAIN_DB (20.0)
/* A level of nothing at all: digital silence. */
#define AAMSG_SILENCE_DB (-200.0)

#define AAMSG_PICTURE_COLUMNS 1024

/* A file's measures. Set `size` to sizeof(aamsg_inspection) before the call, as for the report.
 * Text is UTF-8 and always terminated. */
typedef struct aamsg_inspection {
    size_t size;
    int is_message;                /* no audio file: read as a message, which any bytes make */
    char format[64];               /* for people: "WAVE 16-bit PCM", "Ogg Opus", "MP3", "message" */
    uint32_t rate;                 /* samples a second (8000 for a message) */
    uint32_t channels;             /* (1 for a message) */
    double seconds;                /* its length */
    int speech_found;              /* the level meter found active speech (ITU-T P.56) */
    double level_db;               /* its active speech level; AAMSG_SILENCE_DB without speech */
    double activity;               /* the share of the time it is active, 0 to 1 */
    double peak_db;                /* the largest sample; AAMSG_SILENCE_DB when all are zero */
    uint64_t clipped_samples;      /* samples in runs flat at full scale */
    uint64_t clipped_places;       /* the runs */
    double silence_start_seconds;  /* before the speech, as 'q --trim' finds it (0 without speech) */
    double silence_end_seconds;    /* after it */
    double noise_floor_db;         /* what the quietest tenth of the sound stays under; AAMSG_SILENCE_DB:
                                      digital silence */
    double speech_to_noise_db;     /* level_db over noise_floor_db (taken as -100 dB at the lowest);
                                      0 without speech */
    double dc_offset;              /* the mean sample, a share of full scale (-1 to 1) */
    double gain_db;                /* what --level would apply for the telephone level; 0 without speech */
    uint32_t findings;             /* AAMSG_FINDING_* */
    /* A picture of the sound, for drawing its waveform: the samples the peak is measured on, in
     * `picture_columns` runs of `picture_run` samples (the last may be shorter). A sound of up to
     * AAMSG_PICTURE_COLUMNS samples has a column a sample; a longer one from half as many columns
     * to all of them. Each column's lowest and highest sample, a share of full scale (-1 to 1,
     * louder samples at the limit), and 1 in `picture_clipped` where a clipped place ends. */
    uint32_t picture_columns;
    uint64_t picture_run;
    float picture_low[AAMSG_PICTURE_COLUMNS];
    float picture_high[AAMSG_PICTURE_COLUMNS];
    uint8_t picture_clipped[AAMSG_PICTURE_COLUMNS];
} aamsg_inspection;

/* Measures the file `input` (a UTF-8 name), or `size` bytes at `input`, into `result`. Progress
 * as for a conversion. AAMSG_OK; AAMSG_CORRUPTED for an audio file cut short or damaged, which
 * is measured as far as it goes; AAMSG_CANNOT_OPEN_INPUT, AAMSG_READ_FAILED, AAMSG_CANCELLED,
 * AAMSG_OUT_OF_MEMORY, AAMSG_INTERNAL, AAMSG_INVALID_ARGUMENT. A file that is no audio is a
 * message, never a failure. On other failures `result` is zeroed but for `size`. */
AAMSG_API aamsg_status aamsg_inspect_file(const char* input, aamsg_inspection* result, aamsg_progress progress,
                                          void* context);
AAMSG_API aamsg_status aamsg_inspect_memory(const void* input, size_t size, aamsg_inspection* result,
                                            aamsg_progress progress, void* context);

/* A finding (one AAMSG_FINDING_* flag) for programs: its name ("too_quiet"), null for anything
 * else; and its threshold in its own unit (dB, seconds, samples, a share of full scale), NaN
 * when it has none (no speech: the level meter decides). */
AAMSG_API const char* aamsg_finding_name(uint32_t finding);
AAMSG_API double aamsg_finding_threshold(uint32_t finding);

/* A finding in words: what is wrong and what to do about it, in English sentences without a
 * line end, with the numbers of `inspection` (null, or one whose size ends before `findings`:
 * without them, as after a conversion). Into
 * `buffer` of `size` bytes, terminated (when size > 0) and cut short if need be; returns the
 * length of the whole text, as snprintf does, or 0 for anything but one known flag. */
AAMSG_API size_t aamsg_finding_text(uint32_t finding, const aamsg_inspection* inspection, char* buffer, size_t size);

/* What the library reads for 'q' beyond WAVE, AIFF, CAF, FLAC, Ogg Vorbis and Opus. Every build
 * reads MP3 now (and M4A, WebM, WMA, AMR and AC-3): the flag stays set for programs that ask. */
#define AAMSG_READS_MP3 1u
AAMSG_API unsigned aamsg_features(void);

#ifdef __cplusplus
}
#endif

#endif /* AAMSG_H */
