#!/usr/bin/env python3
"""Writes golden ADPCM vectors with Python's audioop, an independent IMA ADPCM implementation.

The input signal is made with integers only (a triangle, square bursts and LCG noise) so that
the C++ test can rebuild it exactly; see goldenSignal() in codec_test.cpp. Its amplitude stays
well inside the 16-bit range, where audioop's clamp (-32768) and the message format's
(-32767) agree. Run with Python 3.11 or older (audioop was removed in 3.13):
    python3 tests/data/make_golden.py > tests/data/golden_codes.hex
"""
import audioop
import struct


def golden_signal(count=4000):
    x = 12345
    out = []
    for n in range(count):
        x = (x * 1103515245 + 12345) % (1 << 31)
        noise = (x >> 16) % 2001 - 1000
        phase = n % 64
        tri = (phase * 1000 - 16000) if phase < 32 else (48000 - phase * 1000)
        burst = 0
        if (n // 500) % 2 == 1:
            burst = 9000 if (n // 25) % 2 == 0 else -9000
        out.append(tri + burst + noise)
    return out


samples = golden_signal()
assert all(-32767 < s < 32767 for s in samples)
pcm = struct.pack('<%dh' % len(samples), *samples)
codes, _ = audioop.lin2adpcm(pcm, 2, None)
decoded, _ = audioop.adpcm2lin(codes, 2, None)
assert min(struct.unpack('<%dh' % len(samples), decoded)) > -32767
for i in range(0, len(codes), 32):
    print(codes[i:i + 32].hex())
