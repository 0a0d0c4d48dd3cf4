#!/usr/bin/python3
# Fails when a relative link or image in README.md or docs/*.md is empty or names a file, folder
# or heading that isn't there, so that a moved file or a reworded heading can't leave a dead link
# behind.
# The documents are parsed, so that a link shown as code is not taken for one.
#   check-links.py REPOSITORY
import re, sys
from pathlib import Path
from urllib.parse import unquote, urlsplit

try:
    from markdown_it import MarkdownIt
except ImportError:
    sys.exit("check-links.py needs markdown-it-py, which sudo tools/install-deps.sh installs.")

root = Path(sys.argv[1]).resolve()
parse = MarkdownIt("commonmark").enable("table").parse  # GitHub renders tables, and their links


def inlines(path):  # a document's inline tokens, each with the token before it
    tokens = parse(path.read_text(encoding="utf-8"))
    return [(before, token) for before, token in zip(tokens, tokens[1:]) if token.type == "inline"]


def anchors(path):
    # GitHub's: the heading's text (code's content kept, markup dropped), lower-cased, all but
    # letters, digits, spaces, hyphens and underscores dropped, each space a hyphen; a repeated
    # one gets -1, -2, ...
    found, seen = set(), {}
    for before, inline in inlines(path):
        if before.type == "heading_open":
            text = "".join(t.content for t in inline.children if t.type in ("text", "code_inline"))
            slug = re.sub(r"[^\w\- ]", "", text.lower()).replace(" ", "-")
            seen[slug] = seen.get(slug, -1) + 1
            found.add(f"{slug}-{seen[slug]}" if seen[slug] else slug)
    return found


documents = [root / "README.md", *sorted((root / "docs").glob("*.md"))]
checked = broken = 0
for document in documents:
    for _, inline in inlines(document):
        line = inline.map[0] + 1
        for token in inline.children:
            line += token.type == "softbreak"
            if token.type not in ("link_open", "image"):
                continue
            link = token.attrGet("href" if token.type == "link_open" else "src")
            url = urlsplit(link)
            if url.scheme or url.netloc:
                continue  # one to the web, mailto: and the like
            checked += 1
            path, fragment = unquote(url.path), unquote(url.fragment)
            target = (document.parent / path).resolve() if path else document
            if not link:
                what = "is empty, and leads nowhere"
            elif not target.is_relative_to(root):
                what = "leads out of the repository"
            elif not target.exists():
                what = f"names no file {target.relative_to(root)}"
            elif fragment and target.suffix == ".md" and fragment not in anchors(target):
                what = f"names no heading #{fragment} in {target.relative_to(root)}"
            else:
                continue
            print(f"{document.relative_to(root)}:{line}: ({link}) {what}")
            broken += 1
if broken:
    sys.exit(1)
print(f"{checked} relative links in {len(documents)} documents, none broken.")
