/* One conversion through libaamsg, with the tool's arguments: prints the report and the status.
 *
 *   cc convert.c $(pkg-config --cflags --libs aamsg) -o convert
 *   ./convert q --level --trim greeting.wav greeting.msg
 *
 * Exits with the status's number: 0 when the conversion succeeded.
 */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <aamsg.h>

static int usage(void) {
    fputs("usage: convert e|d|q [--level[=DB]] [--trim] [--flat] INFILE OUTFILE\n", stderr);
    return AAMSG_INVALID_ARGUMENT;
}

/* The options after the mode; the two file names are left in files[]. */
static aamsg_status parse(int argc, char** argv, aamsg_options* options, const char* files[2]) {
    aamsg_status status = AAMSG_OK;
    int named = 0;
    for (int i = 2; i < argc && status == AAMSG_OK; ++i) {
        const char* arg = argv[i];
        if (strcmp(arg, "--trim") == 0) {
            status = aamsg_options_set_trim(options, 1);
        } else if (strcmp(arg, "--flat") == 0) {
            status = aamsg_options_set_flat(options, 1);
        } else if (strcmp(arg, "--level") == 0) {
            status = aamsg_options_set_level(options, 1, AAMSG_DEFAULT_LEVEL_DB);
        } else if (strncmp(arg, "--level=", 8) == 0) {
            char* end = NULL;
            const double level = strtod(arg + 8, &end);
            /* The library checks the range; a number that is not one is ours to refuse. */
            status = end == arg + 8 || *end != '\0' ? AAMSG_INVALID_ARGUMENT : aamsg_options_set_level(options, 1, level);
        } else if (strncmp(arg, "--", 2) != 0 && named < 2) {
            files[named++] = arg;
        } else {
            status = AAMSG_INVALID_ARGUMENT;
        }
    }
    return status == AAMSG_OK && named < 2 ? AAMSG_INVALID_ARGUMENT : status;
}

static void print_report(const aamsg_report* report) {
    printf("finished: %d\n", report->finished);
    printf("seconds: %u\n", (unsigned)report->seconds);
    printf("samples: %llu\n", (unsigned long long)report->samples);
    printf("clipped: %llu\n", (unsigned long long)report->clipped);
    printf("not_numbers: %llu\n", (unsigned long long)report->not_numbers);
    printf("level_measured: %d\n", report->level_measured);
    printf("speech_found: %d\n", report->speech_found);
    printf("level_before_db: %.2f\n", report->level_before_db);
    printf("level_after_db: %.2f\n", report->level_after_db);
    printf("gain_db: %.2f\n", report->gain_db);
    printf("trimmed_start_seconds: %.3f\n", report->trimmed_start_seconds);
    printf("trimmed_end_seconds: %.3f\n", report->trimmed_end_seconds);
    printf("greedy_codes: %d\n", report->greedy_codes);
    printf("detail: %s\n", report->detail);
    printf("findings:");
    for (uint32_t bit = 1; bit != 0; bit <<= 1) {
        if ((report->findings & bit) != 0) printf(" %s", aamsg_finding_name(bit));
    }
    printf("\n");
}

int main(int argc, char** argv) {
    if (argc < 4 || strlen(argv[1]) != 1) return usage();
    aamsg_options* options = aamsg_options_new();
    if (options == NULL) {
        fputs("out of memory\n", stderr);
        return AAMSG_OUT_OF_MEMORY;
    }
    const char* files[2] = {NULL, NULL};
    /* The tool takes the mode in either case; the library wants it in lower case. */
    const char letter = argv[1][0] >= 'A' && argv[1][0] <= 'Z' ? (char)(argv[1][0] - 'A' + 'a') : argv[1][0];
    aamsg_status status = aamsg_options_set_mode(options, (aamsg_mode)letter);
    if (status == AAMSG_OK) status = parse(argc, argv, options, files);
    if (status != AAMSG_OK) {
        aamsg_options_free(options);
        return usage();
    }

    aamsg_report report;
    memset(&report, 0, sizeof report);
    report.size = sizeof report;
    status = aamsg_convert_file(files[0], files[1], options, NULL, NULL, &report);
    aamsg_options_free(options);

    printf("aamsg %s\n", aamsg_version());
    print_report(&report);
    printf("status: %d (%s)\n", (int)status, aamsg_status_text(status));
    return (int)status;
}
