#!/usr/bin/python3
# Fails when a relative link or image in README.md or a .md under docs/ is empty or names a file,
# folder or heading that isn't there, so that a moved file or a reworded heading can't leave a dead
# link behind.
# The documents are parsed, so that a link shown as code is not taken for one.
#   check-links.py REPOSITORY
import re, sys
from pathlib import Path
from urllib.parse import unquote, urlsplit

try:
    from markdown_it import MarkdownIt, rules_inline
except ImportError:
    sys.exit("check-links.py needs markdown-it-py, which sudo tools/install-deps.sh installs.")

if len(sys.argv) != 2:
    sys.exit("usage: check-links.py REPOSITORY")
root = Path(sys.argv[1]).resolve()
if not (root / "README.md").is_file():
    sys.exit(f"check-links.py: {root} has no README.md: is it the repository?")
markdown = MarkdownIt("commonmark").enable("table")  # GitHub renders tables, and their links


def noting_line(rule):
    # Notes on each link and image how many lines into its paragraph it starts: counting the line
    # breaks before it would miss those inside a code span, an image's text or inline HTML.
    def rule_noting_line(state, silent):
        start, first = state.pos, len(state.tokens)
        found = rule(state, silent)
        if found and not silent:  # text pending before the link may be pushed ahead of it
            opening = next(t for t in state.tokens[first:] if t.type in ("link_open", "image"))
            opening.meta["line"] = state.src.count("\n", 0, start)
        return found
    return rule_noting_line


markdown.inline.ruler.at("link", noting_line(rules_inline.link))
markdown.inline.ruler.at("image", noting_line(rules_inline.image))


def inlines(path):  # a document's inline tokens, each with the token before it
    tokens = markdown.parse(path.read_text(encoding="utf-8"))
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


documents = [root / "README.md", *sorted((root / "docs").rglob("*.md"))]  # docs/ and its folders
checked = broken = 0
for document in documents:
    for _, inline in inlines(document):
        for token in inline.children:
            if token.type not in ("link_open", "image"):
                continue
            link = token.attrGet("href" if token.type == "link_open" else "src")
            url = urlsplit(link)
            if url.scheme or url.netloc:
                continue  # one to the web, mailto: and the like
            checked += 1
            path, fragment = unquote(url.path), unquote(url.fragment)
            base = root if path.startswith("/") else document.parent  # GitHub: /x from the top
            target = (base / path.lstrip("/")).resolve() if path else document
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
            line = inline.map[0] + 1 + token.meta["line"]
            print(f"{document.relative_to(root)}:{line}: ({link}) {what}", flush=True)
            broken += 1
if broken:
    sys.exit(f"{broken} of {checked} relative links in {len(documents)} documents broken.")
if not checked:  # documents read wrong, or every link taken for one to the web
    sys.exit(f"No relative link in {len(documents)} documents: nothing was checked.")
print(f"{checked} relative links in {len(documents)} documents, none broken.")
