"""What the bench scripts share: their figures, the machine they ran on, and
the sections of docs/performance.md they write."""

import argparse
import datetime
import os
import pathlib
import platform
import re

PERFORMANCE = pathlib.Path(__file__).resolve().parent.parent / "docs" / "performance.md"
README = PERFORMANCE.parent.parent / "README.md"


def number(value):
    """A measured figure with three significant digits (whole ns from 100 on),
    so that no small figure prints as zero."""
    return f"{value:.0f}" if value >= 100 else f"{value:.3g}"


def cpu_model():
    try:
        with open("/proc/cpuinfo", encoding="utf-8") as info:
            for line in info:
                if line.startswith("model name"):
                    return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or platform.machine()


def measured_on(*more):
    """The line that says when and on what the figures were measured."""
    parts = [f"Python {platform.python_version()}", *more, f"{cpu_model()} ({os.cpu_count()} cores)"]
    return f"Measured {datetime.date.today().isoformat()}: " + ", ".join(parts) + "."


def options(description, section, *arguments):
    """The command line of a bench script: `arguments` are (flags, settings)
    pairs of its own, then where its section goes."""
    parser = argparse.ArgumentParser(description=description)
    for flags, settings in arguments:
        parser.add_argument(*flags, **settings)
    parser.add_argument(
        "--markdown",
        type=pathlib.Path,
        default=PERFORMANCE,
        help=f"the Markdown file whose {section} section gets the tables (default: %(default)s)",
    )
    parser.add_argument(
        "--no-markdown", dest="markdown", action="store_const", const=None, help="print the tables only"
    )
    return parser.parse_args()


def publish(text, path, section, script, quiet=False):
    """Print `text` (unless `quiet`) and put it between the markers of
    `section` in the Markdown file at `path` (None: print only), in place of
    what was there; a file or section not there yet is created (the section
    at the end)."""
    if not quiet:
        print(text)
    if path is None:
        return
    begin = f"<!-- begin {section}: written by benchmarks/{script}, do not edit -->"
    end = f"<!-- end {section} -->"
    block = f"{begin}\n{text}\n{end}"
    old = path.read_text(encoding="utf-8") if path.exists() else ""
    pattern = re.compile(rf"<!-- begin {re.escape(section)}:.*?-->.*?{re.escape(end)}", re.DOTALL)
    new, found = pattern.subn(lambda _: block, old)
    if not found:
        new = f"{old.rstrip()}\n\n{block}\n" if old.strip() else f"{block}\n"
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_text(new, encoding="utf-8")
    print(f"\nwrote the {section} section of {path}")
