/* Standard input to standard output through libaamsg's stream callbacks, in memory that does not
 * grow with the input: a pipe works, and so does a file of any size.
 *
 *   cc stream.c $(pkg-config --cflags --libs aamsg) -o stream
 *   ffmpeg -v error -i talk.mkv -f wav - | ./stream q > talk.msg
 *   ./stream d < talk.msg > talk.wav
 *
 * Exits with 0, or with the status's number, its text and what was wrong on standard error.
 */
#if !defined(_WIN32) && !defined(_POSIX_C_SOURCE)
#define _POSIX_C_SOURCE 200809L /* fseeko and ftello */
#endif
#include <stdio.h>
#include <string.h>

#include <aamsg.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define fseeko _fseeki64
#define ftello _ftelli64
#endif

static int64_t read_input(void* context, void* buffer, size_t size) {
    size_t got = fread(buffer, 1, size, (FILE*)context);
    return got == 0 && ferror((FILE*)context) ? -1 : (int64_t)got;
}

/* A pipe cannot seek: the library then copies what it reads to a temporary file. */
static int64_t seek_input(void* context, int64_t offset, int whence) {
    return fseeko((FILE*)context, offset, whence) == 0 ? (int64_t)ftello((FILE*)context) : -1;
}

static int64_t tell_input(void* context) { return (int64_t)ftello((FILE*)context); }

static int write_output(void* context, const void* data, size_t size) {
    return fwrite(data, 1, size, (FILE*)context) == size ? 0 : 1;
}

int main(int argc, char** argv) {
    aamsg_options* options = aamsg_options_new();
    aamsg_reader reader;
    aamsg_report report;
    aamsg_status status;
    if (argc != 2 || strlen(argv[1]) != 1) {
        fputs("usage: stream q|e|d < INPUT > OUTPUT\n", stderr);
        aamsg_options_free(options);
        return AAMSG_INVALID_ARGUMENT;
    }
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    status = aamsg_options_set_mode(options, (aamsg_mode)argv[1][0]);
    reader.context = stdin;
    reader.read = read_input;
    reader.seek = seek_input;
    reader.tell = tell_input;
    memset(&report, 0, sizeof report);
    report.size = sizeof report;
    if (status == AAMSG_OK) status = aamsg_convert_stream(&reader, write_output, stdout, options, NULL, NULL, &report);
    aamsg_options_free(options);
    if (status == AAMSG_OK && fflush(stdout) != 0) status = AAMSG_WRITE_FAILED;
    if (status != AAMSG_OK) fprintf(stderr, "stream: %s: %s\n", aamsg_status_text(status), report.detail);
    return (int)status;
}
