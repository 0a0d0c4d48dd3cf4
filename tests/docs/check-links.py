#!/usr/bin/python3
# Fails when a relative link or image in README.md or docs/*.md names a file, folder or heading
# that isn't there, so that a moved file or a reworded heading can't leave a dead link behind.
# Links are read from the parsed documents, so one shown in code is not taken for a link.
#   check-links.py REPOSITORY
import re
import sys
from pathlib import Path
from urllib.parse import unquote, urlsplit

try:
    from markdown_it import MarkdownIt
except ImportError:
    sys.exit("check-links.py reads Markdown with markdown-it-py, which sudo tools/install-deps.sh"
             " installs.")

root = Path(sys.argv[1]).resolve()
parser = MarkdownIt("commonmark").enable("table")  # GitHub renders tables, and links in them
anchors = {}  # a Markdown file: the anchors of its headings


def headings(path):
    # GitHub's anchor: the heading's text without its markup (code's content kept), lower-cased,
    # all but letters, digits, spaces, hyphens and underscores dropped, each space a hyphen; a
    # repeated one gets -1, -2, ...
    if path not in anchors:
        anchors[path] = set()
        tokens = parser.parse(path.read_text(encoding="utf-8"))
        for opening, inline in zip(tokens, tokens[1:]):
            if opening.type == "heading_open":
                kept = [t.content for t in inline.children if t.type in ("text", "code_inline")]
                anchor = base = re.sub(r"[^\w\- ]", "", "".join(kept).lower()).replace(" ", "-")
                n = 0
                while anchor in anchors[path]:
                    n += 1
                    anchor = f"{base}-{n}"
                anchors[path].add(anchor)
    return anchors[path]


def missing(document, path, fragment):
    # What a link in DOCUMENT to PATH#FRAGMENT names that isn't there, if anything.
    top = root if path.startswith("/") else document.parent  # GitHub takes /x from the top
    target = (top / path.lstrip("/")).resolve() if path else document
    if not target.is_relative_to(root):
        return "a place outside the repository"
    name = target.relative_to(root)
    if not target.exists():
        return f"no file {name}"
    if fragment and name.suffix == ".md" and target.is_file() and fragment not in headings(target):
        return f"no heading #{fragment} in {name}"
    return None


documents = [root / "README.md", *sorted((root / "docs").glob("*.md"))]
links = []  # each link and image: its document, the line it starts on, where it leads
for document in documents:
    for block in parser.parse(document.read_text(encoding="utf-8")):
        if block.type != "inline":
            continue
        line = block.map[0] + 1
        for token in block.children:
            if token.type in ("link_open", "image"):
                where = token.attrGet("href" if token.type == "link_open" else "src")
                links.append((document, line, where))
            # An image's description may run over lines too.
            inner = token.children or []
            line += sum(t.type in ("softbreak", "hardbreak") for t in [token, *inner])
checked = broken = 0
for document, line, link in links:
    url = urlsplit(link)
    if url.scheme or url.netloc:  # http:, mailto: and the like
        continue
    checked += 1
    what = missing(document, unquote(url.path), unquote(url.fragment))
    if what:
        print(f"{document.relative_to(root)}:{line}: {link}: {what}")
        broken += 1
if broken:
    sys.exit(1)
print(f"{checked} relative links in {len(documents)} documents, none broken.")
