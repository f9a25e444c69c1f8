"""python3 -m tessel: the tessel command's usual mode through the binding.

    python3 -m tessel [-f CFG] [-r] [--json] [--] [FILE | -]

filters FILE (standard input when absent or -) to standard output and
writes the findings to standard error, as the command does; without -f
the configuration is $TESSEL_CFG, else the first tessel.cfg found in the
current directory, $HOME and /etc. Exit status 0, or 1 on failure.
"""
import json
import os
import re
import sys

from . import Policy, PolicyError

USAGE = "Usage: python3 -m tessel [-f CFG] [-r] [--json] [FILE]\n"
STDIN_NAME = "(standard input)"


def find_configuration():
    named = os.environ.get("TESSEL_CFG")
    if named is not None:
        return named
    candidates = ["tessel.cfg"]
    if "HOME" in os.environ:
        candidates.append(os.environ["HOME"] + "/tessel.cfg")
    candidates.append("/etc/tessel.cfg")
    for candidate in candidates:
        if os.path.isfile(candidate):
            return candidate
    return None


def escape_controls(text):
    return re.sub(r"[\x00-\x1f\x7f]", lambda m: "\\x%02X" % ord(m.group()), text)


def usual_line(finding):
    # Warnings of tags and comments keep the form they always had.
    if finding.kind == "warning" and finding.rule in ("tag-warned", "comment-warned"):
        return f"Warning: {escape_controls(finding.message)} on line {finding.line}\n"
    return f"line {finding.line}: {escape_controls(finding.message)}\n"


def json_line(name, finding):
    record = {"file": name, "line": finding.line}
    if finding.column is not None:
        record["column"] = finding.column
    record["kind"] = finding.kind
    record["rule"] = finding.rule
    for key in ("tag", "attribute"):
        if getattr(finding, key) is not None:
            record[key] = getattr(finding, key)
    if finding.rule == "region-removed":
        record["end_line"] = finding.end_line or None
    elif finding.end_column is not None:
        record["end_line"] = finding.end_line
        record["end_column"] = finding.end_column
    record["message"] = finding.message
    text = json.dumps(record, ensure_ascii=False, separators=(",", ":"))
    # As the command writes them: DEL escaped, and each byte that is not
    # UTF-8 (a lone surrogate here) as \udcXX.
    return re.sub("[\x7f\udc80-\udcff]", lambda m: "\\u%04x" % ord(m.group()), text) + "\n"


def parse_arguments(argv):
    options = {"cfg": None, "report": False, "json": False, "input": None}
    args = list(argv)
    while args and args[0].startswith("-") and args[0] != "-":
        arg = args.pop(0)
        if arg == "--":
            break
        if arg in ("-h", "--help"):
            sys.stdout.write(USAGE)
            sys.exit(0)
        if arg in ("-r", "--report"):
            options["report"] = True
        elif arg == "--json":
            options["json"] = True
        elif arg.startswith("-f"):
            if options["cfg"] is not None:
                raise SystemExit("Option -f may occur only once")
            value = arg[2:] or (args.pop(0) if args and args[0] and not args[0].startswith("-") else None)
            if value is None:
                raise SystemExit("No argument for -f option")
            options["cfg"] = value
        else:
            raise SystemExit(f"Unrecognized option {arg[1]} on command line")
    if args:
        options["input"] = args.pop(0)
    if args and args[0]:
        raise SystemExit("Extra argument(s) on command line")
    return options


def main(argv=None):
    options = parse_arguments(sys.argv[1:] if argv is None else argv)
    cfg = options["cfg"] or find_configuration()
    if cfg is None:
        sys.stderr.write("Unable to open a configuration file\n")
        return 1
    try:
        policy = Policy.from_file(cfg)
    except PolicyError as error:
        sys.stderr.write(error.message)
        return 1
    name = options["input"]
    try:
        if name is None or name == "-":
            data = sys.stdin.buffer.read()
        else:
            with open(name, "rb") as f:
                data = f.read()
    except OSError as error:
        sys.stderr.write(f"Unable to open input file {name}\n{name}: {error.strerror}\n")
        return 1
    findings = policy.check(data, options["report"])
    output = policy.clean(data, options["report"])
    shown = name if name not in (None, "-") else STDIN_NAME
    err = sys.stderr.buffer
    for finding in findings:
        line = json_line(shown, finding) if options["json"] else usual_line(finding)
        err.write(line.encode("utf-8", "surrogateescape"))
    err.flush()
    try:
        sys.stdout.buffer.write(output)
        sys.stdout.buffer.flush()
    except OSError as error:
        sys.stderr.write(f"Unable to write HTML: {error.strerror}\n")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
