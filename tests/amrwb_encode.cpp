// Writes an AMR-WB file ("#!AMR-WB\n" and storage-format frames at 23.85 kbit/s) of raw 16 kHz
// 16-bit mono samples, with VisualOn's encoder: the end-to-end tests' AMR-WB files, which no
// tool Debian ships writes. Usage: amrwb_encode IN.raw OUT.awb
#include <vo-amrwbenc/enc_if.h>

#include <cstdint>
#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    std::FILE* in = std::fopen(argv[1], "rb");
    std::FILE* out = std::fopen(argv[2], "wb");
    void* encoder = E_IF_init();
    if (in == nullptr || out == nullptr || encoder == nullptr) return 1;
    std::fputs("#!AMR-WB\n", out);
    constexpr int kMode = 8;  // 23.85 kbit/s
    short samples[320] = {};
    unsigned char frame[64];
    for (std::size_t got; (got = std::fread(samples, sizeof samples[0], 320, in)) > 0;) {
        for (std::size_t i = got; i < 320; ++i) samples[i] = 0;
        const int bytes = E_IF_encode(encoder, kMode, samples, frame, 0);
        if (bytes < 0 || std::fwrite(frame, 1, static_cast<std::size_t>(bytes), out) != static_cast<std::size_t>(bytes)) return 1;
    }
    E_IF_exit(encoder);
    std::fclose(in);
    return std::fclose(out) == 0 ? 0 : 1;
}
