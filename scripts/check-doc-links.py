#!/usr/bin/env python3
"""Follows every relative link and picture of the Markdown files below a
folder (the installed documentation, or the source tree's): the file must be
there, and a #fragment must name a heading of the Markdown file it points
into. Links to web addresses are left alone. Prints each link it followed
that is broken and exits with 1 when there is one.

Usage: check-doc-links.py FOLDER
"""

import re
import sys
from pathlib import Path
from urllib.parse import unquote

LINK = re.compile(r"!?\[(?:[^\]\\]|\\.)*\]\(\s*<?([^)\s>]+)>?(?:\s+\"[^\"]*\")?\s*\)")
HEADING = re.compile(r"^#{1,6}\s+(.*?)\s*#*\s*$")


def prose_lines(text):
    """The lines outside fenced and indented code, inline code taken out."""
    fenced = False
    for number, line in enumerate(text.splitlines(), 1):
        if line.lstrip().startswith("```"):
            fenced = not fenced
            continue
        if fenced or line.startswith("    ") or line.startswith("\t"):
            continue
        yield number, re.sub(r"`[^`]*`", "", line)


def anchors(path):
    """The fragments a Markdown file's headings answer to, as a web page of
    it names them: lower case, punctuation dropped, blanks made hyphens."""
    found = set()
    for _, line in prose_lines(path.read_text(encoding="utf-8")):
        m = HEADING.match(line)
        if m:
            slug = re.sub(r"[^\w\- ]", "", m.group(1).lower()).replace(" ", "-")
            found.add(slug)
    return found


def main():
    if len(sys.argv) != 2 or not Path(sys.argv[1]).is_dir():
        print(__doc__.strip().splitlines()[-1], file=sys.stderr)
        return 2
    root = Path(sys.argv[1])
    followed = broken = 0
    for page in sorted(root.rglob("*.md")):
        for number, line in prose_lines(page.read_text(encoding="utf-8")):
            for target in LINK.findall(line):
                if re.match(r"^[a-z][a-z0-9+.-]*:", target, re.I):
                    continue  # a web address, mailto:, ...
                followed += 1
                name, _, fragment = unquote(target).partition("#")
                dest = (page.parent / name).resolve() if name else page.resolve()
                problem = None
                if not dest.exists():
                    problem = "no such file"
                elif fragment and dest.suffix == ".md" and fragment not in anchors(dest):
                    problem = "no heading #" + fragment
                if problem:
                    broken += 1
                    print(f"{page.relative_to(root)}:{number}: {target}: {problem}")
    print(f"{followed} links followed below {root}, {broken} broken")
    return 1 if broken else 0


if __name__ == "__main__":
    sys.exit(main())
