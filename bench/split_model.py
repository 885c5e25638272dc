#!/usr/bin/env python3
"""The split search's schedule (src/search/split_search.cpp) played frame by frame over measured
convergence figures: the speed-up it would reach with T threads on cores of their own, and how
many runs it abandons, for each layout. On a shared machine wall times scatter; this does not.

    aamsg_split_convergence --step 800 speech.wav > conv.txt
    bench/split_model.py conv.txt THREADS [--seconds S] SEGMENT:WARMUP:SPACING:CHECKPOINTS...

Sizes in samples, multiples of the convergence step (a run's start must be one of the starts
measured). A frame of searching is one tick for every thread that searches in it; waiting costs
ticks too. The lock, the output thread and the input thread are left out.
"""
import sys

FRAME = 160


def read_convergence(path):
    """{start: frames until equal, or None}, and the signal's length in whole frames' samples."""
    starts = {}
    for line in open(path):
        _, start, frames = line.split()
        starts[int(start)] = None if int(frames) < 0 else int(frames)
    return starts


class Run:
    def __init__(self, index, start, boundary):
        self.index, self.start, self.boundary = index, start, boundary
        self.position = start
        self.certified = index == 0
        self.recorded = 0
        self.live = True
        self.waiting = False


def simulate(convergence, length, threads, segment, warm_up, spacing, checkpoints):
    def equal_from(run):
        frames = convergence.get(run.start)
        return None if frames is None else run.start + frames * FRAME

    def checkpoint_of(run, position):
        if run.index == 0 or position < run.boundary or (position - run.boundary) % spacing:
            return -1
        number = (position - run.boundary) // spacing
        return number if number < checkpoints else -1

    workers = [None] * threads
    workers[0] = Run(0, 0, 0)
    certified = workers[0]
    next_index = 1
    started = joined = abandoned = 0
    ticks = 0
    while True:
        for w in range(threads):
            if workers[w] is not None:
                continue
            while True:
                start = next_index * segment - warm_up
                if next_index * segment > length:
                    start = None
                    break
                if certified.position + segment // 4 < start:
                    break
                next_index += 1
            if start is not None:
                workers[w] = Run(next_index, start, next_index * segment)
                next_index += 1
                started += 1
        ticks += 1
        for run in workers:
            if run is not None and not run.waiting and run.position < length:
                run.position += FRAME
        for run in workers:
            if run is None or run.certified:
                continue
            number = checkpoint_of(run, run.position)
            if number >= 0:
                run.recorded = number + 1
            run.waiting = run.position >= run.boundary + segment or run.position >= length
        run = certified
        run.waiting = False
        if run.position >= length:
            return length / FRAME / ticks, started, joined, abandoned
        successors = [r for r in workers if r is not None and not r.certified and r.index > run.index]
        if successors:
            nxt = min(successors, key=lambda r: r.index)
            number = checkpoint_of(nxt, run.position)
            if number >= 0:
                if nxt.recorded <= number:
                    run.waiting = True
                elif equal_from(nxt) is not None and equal_from(nxt) <= run.position:
                    nxt.certified = True
                    nxt.waiting = False
                    certified = nxt
                    workers[workers.index(run)] = None
                    joined += 1
                    if nxt.position >= length:
                        return length / FRAME / ticks, started, joined, abandoned
                elif number + 1 == checkpoints:
                    workers[workers.index(nxt)] = None
                    abandoned += 1


def main():
    convergence = read_convergence(sys.argv[1])
    length = (max(convergence) + FRAME) // FRAME * FRAME
    threads = int(sys.argv[2])
    layouts = sys.argv[3:]
    if layouts[0] == "--seconds":  # the signal's first S seconds only
        length = min(length, int(float(layouts[1]) * 8000) // FRAME * FRAME)
        layouts = layouts[2:]
    for layout in layouts:
        segment, warm_up, spacing, checkpoints = (int(v) for v in layout.split(":"))
        checkpoints = min(checkpoints, (segment - 1) // spacing + 1)  # as the split makes them usable
        speedup, started, joined, abandoned = simulate(convergence, length, threads, segment, warm_up, spacing, checkpoints)
        print(f"{layout}: speed-up {speedup:.2f}, started {started}, joined {joined}, abandoned {abandoned}")


if __name__ == "__main__":
    main()
