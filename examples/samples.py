#!/usr/bin/env python3
"""Samples to a message and back through the aamsg module and numpy arrays: what a program that
records or synthesises speech does.

    python3 samples.py q greeting.raw 16000 1 greeting.msg   # interleaved little-endian int16, q's defaults
    python3 samples.py d greeting.msg greeting.raw           # the message's samples, 8000 a second

Exits with 0, or with the status's number, its text and what was wrong on standard error.
"""
import sys

import numpy

import aamsg


def main(argv):
    try:
        if len(argv) == 6 and argv[1] == "q":
            channels = int(argv[4])
            samples = numpy.fromfile(argv[2], dtype="<i2").astype(numpy.int16).reshape(-1, channels)
            message, _ = aamsg.encode_samples(samples, rate=int(argv[3]))
            with open(argv[5], "wb") as out:
                out.write(message)
            return 0
        if len(argv) == 4 and argv[1] == "d":
            with open(argv[2], "rb") as message:
                samples, _ = aamsg.decode_samples(message.read())
            samples.astype("<i2").tofile(argv[3])
            return 0
    except aamsg.Error as error:
        print(f"samples.py: {error.text}: {error.detail}", file=sys.stderr)
        return int(error.status)
    print("usage: samples.py q RAW RATE CHANNELS OUT.msg\n       samples.py d IN.msg OUT.raw", file=sys.stderr)
    return int(aamsg.Status.INVALID_ARGUMENT)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
