/* Samples in memory to a message and back, through libaamsg's samples calls: what a program
 * that records or synthesises speech does.
 *
 *   cc samples.c $(pkg-config --cflags --libs aamsg) -o samples
 *   ./samples q greeting.raw 16000 1 greeting.msg   # interleaved little-endian int16 samples, q's defaults
 *   ./samples d greeting.msg greeting.raw           # the message's samples, 8000 a second
 *
 * Exits with 0, or with the status's number, its text and what was wrong on standard error.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <aamsg.h>

/* The whole file at `name`, or null. */
static unsigned char* read_file(const char* name, size_t* size) {
    FILE* file = fopen(name, "rb");
    unsigned char* bytes = NULL;
    size_t capacity = 0;
    *size = 0;
    if (file == NULL) return NULL;
    for (;;) {
        size_t got;
        if (*size == capacity) {
            unsigned char* grown = realloc(bytes, capacity = capacity * 2 + 65536);
            if (grown == NULL) break;
            bytes = grown;
        }
        got = fread(bytes + *size, 1, capacity - *size, file);
        *size += got;
        if (got == 0) break;
    }
    if (ferror(file) || *size == capacity) {
        free(bytes);
        bytes = NULL;
    }
    fclose(file);
    return bytes != NULL ? bytes : malloc(1);
}

static int write_file(const char* name, const void* bytes, size_t size) {
    FILE* file = fopen(name, "wb");
    int ok = file != NULL && fwrite(bytes, 1, size, file) == size;
    if (file != NULL && fclose(file) != 0) ok = 0;
    return ok;
}

static int failed(aamsg_status status, const aamsg_report* report) {
    fprintf(stderr, "samples: %s: %s\n", aamsg_status_text(status), report->detail);
    return (int)status;
}

/* Little-endian int16 samples from the file into the host's order, encoded with q. */
static int encode(const char* raw, unsigned rate, unsigned channels, const char* out) {
    aamsg_report report;
    size_t size = 0;
    size_t i;
    unsigned char* bytes = read_file(raw, &size);
    int16_t* samples = bytes != NULL ? malloc(size / 2 * sizeof *samples + 1) : NULL;
    void* message = NULL;
    size_t message_size = 0;
    aamsg_status status;
    memset(&report, 0, sizeof report);
    report.size = sizeof report;
    if (samples == NULL) {
        free(bytes);
        fprintf(stderr, "samples: cannot read %s\n", raw);
        return AAMSG_CANNOT_OPEN_INPUT;
    }
    for (i = 0; i < size / 2; ++i) samples[i] = (int16_t)(bytes[2 * i] | bytes[2 * i + 1] << 8);
    free(bytes);
    /* Null options: q's defaults. */
    status = aamsg_encode_samples(samples, AAMSG_SAMPLES_INT16, channels > 0 ? size / 2 / channels : 0, rate, channels, &message,
                                  &message_size, NULL, NULL, NULL, &report);
    free(samples);
    if (status == AAMSG_OK && !write_file(out, message, message_size)) status = AAMSG_WRITE_FAILED;
    aamsg_free(message);
    return status == AAMSG_OK ? 0 : failed(status, &report);
}

/* The message's samples, written little-endian. */
static int decode(const char* in, const char* raw) {
    aamsg_report report;
    size_t size = 0;
    size_t i;
    unsigned char* message = read_file(in, &size);
    int16_t* samples = NULL;
    size_t count = 0;
    aamsg_status status;
    memset(&report, 0, sizeof report);
    report.size = sizeof report;
    if (message == NULL) {
        fprintf(stderr, "samples: cannot read %s\n", in);
        return AAMSG_CANNOT_OPEN_INPUT;
    }
    status = aamsg_decode_samples(message, size, &samples, &count, NULL, NULL, &report);
    free(message);
    if (status == AAMSG_OK) {
        unsigned char* bytes = malloc(2 * count + 1);
        if (bytes == NULL) {
            status = AAMSG_OUT_OF_MEMORY;
        } else {
            for (i = 0; i < count; ++i) {
                bytes[2 * i] = (unsigned char)((unsigned)samples[i] & 0xFF);
                bytes[2 * i + 1] = (unsigned char)((unsigned)samples[i] >> 8 & 0xFF);
            }
            if (!write_file(raw, bytes, 2 * count)) status = AAMSG_WRITE_FAILED;
            free(bytes);
        }
    }
    aamsg_free(samples);
    return status == AAMSG_OK ? 0 : failed(status, &report);
}

int main(int argc, char** argv) {
    if (argc == 6 && strcmp(argv[1], "q") == 0) {
        return encode(argv[2], (unsigned)strtoul(argv[3], NULL, 10), (unsigned)strtoul(argv[4], NULL, 10), argv[5]);
    }
    if (argc == 4 && strcmp(argv[1], "d") == 0) return decode(argv[2], argv[3]);
    fputs("usage: samples q RAW RATE CHANNELS OUT.msg\n       samples d IN.msg OUT.raw\n", stderr);
    return AAMSG_INVALID_ARGUMENT;
}
