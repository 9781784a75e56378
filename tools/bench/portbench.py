"""One run of port_bench, read back as figures, for the scripts that compare builds
(compare-builds) and library variants (tap-cost) round by round.

Table rows become "<column> <row>" ("ours raw upload (MB/s)"), lines of the form
"name: value" their name ("peak RSS (MiB)", "library"), and the bytes it moved in all
"MB checked". port_bench checks every byte it moves; a run that fails ends the
comparison.
"""
import re
import statistics
import subprocess
import sys

TABLE_ROW = re.compile(r"^(\S.*?)\s{2,}(-?\d[^:]*)$")
NAMED = re.compile(r"^([^:]+): (\S+)$")
CHECKED = re.compile(r"; ([\d.]+) MB checked, all correct$")


def number(text):
    try:
        return float(text)
    except ValueError:
        return None


def run(bench, args, env=None, prefix=()):
    """prefix: a command that runs port_bench (valgrind ...)."""
    done = subprocess.run([*prefix, bench, *args], capture_output=True, text=True, timeout=900, env=env)
    if done.returncode != 0:
        sys.exit(f"{bench} {' '.join(args)} failed:\n{done.stdout}\n{done.stderr}")
    lines = done.stdout.splitlines()
    figures = {}
    header = None
    for i, line in enumerate(lines):
        row = TABLE_ROW.match(line)
        if row:
            if header is None:  # the column heads stand in the line above the first row
                header = re.split(r"\s{2,}", lines[i - 1].strip())
            values = [v for v in (number(t) for t in row.group(2).split()) if v is not None]
            for name, value in zip(header, values):
                figures[f"{name} {row.group(1)}"] = value
        elif checked := CHECKED.search(line):
            figures["MB checked"] = float(checked.group(1))
        elif named := NAMED.match(line):
            value = number(named.group(2))
            figures[named.group(1)] = named.group(2) if value is None else value
    return figures


def spread(ratios):
    """The median of per-round ratios and their range, as text."""
    if not ratios:
        return "-"
    return f"{statistics.median(ratios):.3f} [{min(ratios):.2f}-{max(ratios):.2f}]"
