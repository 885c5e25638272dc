#!/usr/bin/env python3
"""One conversion through the aamsg module, with the tool's arguments: prints the report and the status.

    python3 convert.py q --level --trim greeting.wav greeting.msg

Exits with the status's number: 0 when the conversion succeeded.
"""
import dataclasses
import sys

import aamsg


def usage():
    print("usage: convert.py e|d|q [--level[=DB]] [--trim] [--flat] INFILE OUTFILE", file=sys.stderr)
    return aamsg.Status.INVALID_ARGUMENT


def parse(args):
    """The keyword arguments of aamsg.convert and the two file names; None if they do not parse."""
    options, files = {}, []
    for arg in args:
        if arg in ("--trim", "--flat"):
            options[arg[2:]] = True
        elif arg == "--level":
            options["level"] = True
        elif arg.startswith("--level="):
            try:
                options["level"] = float(arg[len("--level="):])
            except ValueError:
                return None
        elif not arg.startswith("--") and len(files) < 2:
            files.append(arg)
        else:
            return None
    return (options, files) if len(files) == 2 else None


def print_report(report):
    for field in dataclasses.fields(report):
        value = getattr(report, field.name)
        if field.name == "findings":
            print("findings:" + "".join(" " + finding.name for finding in value))
        elif field.type is float:
            digits = 3 if field.name.startswith("trimmed") else 2
            print(f"{field.name}: {value:.{digits}f}")
        elif field.type is str:
            print(f"{field.name}: {value}")
        else:
            print(f"{field.name}: {int(value)}")


def main(argv):
    if len(argv) < 4 or len(argv[1]) != 1:
        return usage()
    parsed = parse(argv[2:])
    if parsed is None:
        return usage()
    options, (infile, outfile) = parsed
    try:
        report = aamsg.convert(infile, outfile, mode=argv[1], **options)
        status, text = aamsg.Status.OK, aamsg.status_text(aamsg.Status.OK)
    except ValueError:  # a mode that is none
        return usage()
    except aamsg.Error as error:
        if error.report is None:  # the options were refused before anything was converted
            return usage()
        report, status, text = error.report, error.status, error.text
    print(f"aamsg {aamsg.version()}")
    print_report(report)
    print(f"status: {int(status)} ({text})")
    return int(status)


if __name__ == "__main__":
    sys.exit(main(sys.argv))
