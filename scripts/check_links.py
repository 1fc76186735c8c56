#!/usr/bin/env python3
"""Checks the links of a folder's pages.

Every relative link and picture of DIR/README.md and DIR/docs/*.md names a
file inside DIR, and a link to a heading of a page names one that page has
(as GitHub makes heading anchors). Code, fenced and inline, is skipped.
Prints each broken link on standard error and exits 1 if there is one.

usage: check_links.py DIR
"""
import glob
import os
import re
import sys


def without_code(text):
    text = re.sub(r"^ *```.*?^ *```", "", text, flags=re.S | re.M)
    return re.sub(r"`[^`\n]*`", "", text)


def anchors(path):
    found = set()
    for line in open(path, encoding="utf-8"):
        heading = re.match(r"#+\s+(.*?)\s*$", line)
        if heading:
            words = re.sub(r"[^\w\- ]", "", heading.group(1).lower())
            found.add(words.replace(" ", "-"))
    return found


def broken_links(root):
    """The broken links of root's pages, as "page: target (why)"."""
    pages = [os.path.join(root, "README.md")] + sorted(glob.glob(os.path.join(root, "docs", "*.md")))
    bad = []
    for page in pages:
        text = without_code(open(page, encoding="utf-8").read())
        for target in re.findall(r"\]\(([^)\s]+)\)", text):
            if re.match(r"[a-z][a-z0-9+.-]*:", target):
                continue
            name, _, anchor = target.partition("#")
            path = os.path.realpath(os.path.join(os.path.dirname(page), name)) if name else page
            where = os.path.relpath(page, root) + ": " + target
            if not (path == root or path.startswith(root + os.sep)):
                bad.append(where + " (outside the folder)")
            elif not os.path.exists(path):
                bad.append(where + " (no such file)")
            elif anchor and path.endswith(".md") and anchor not in anchors(path):
                bad.append(where + " (no such heading)")
    return bad


def main():
    bad = broken_links(os.path.realpath(sys.argv[1]))
    for line in bad:
        print("broken link in " + line, file=sys.stderr)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
