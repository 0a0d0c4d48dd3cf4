#!/usr/bin/python3
# Reads a release folder for tools/fresh-root.sh --rebuild, which trusts it no more than any
# download: its BUILD-INFO.txt and SHA256SUMS, and the zip where the folder holds one. Each is
# opened without following a link, and read, once and bounded in size, only if what was opened is
# a regular file: a link, a FIFO or a device is refused unread.
#   read-release.py RELEASE_DIR
# Where the folder is a release, prints what the rebuild needs, one "KEY VALUE" a line, all of it
# printable ASCII: "zip NAME", "commit SHA", "debian VERSION", "published NAME SHA256" for each of
# the zip and Narvelox.exe, "held SHA256" of the zip in the folder, if any, and "info LINE" for
# each line of BUILD-INFO.txt. Else prints why not, a reason a line, naming no text of the files
# but their names and line numbers, and exits 1.
import hashlib, os, re, stat, sys

if len(sys.argv) != 2:
    sys.exit("usage: read-release.py RELEASE_DIR")
folder = sys.argv[1]
wrong = []


class Refused(Exception):
    pass


def read(name, limit):  # the file's bytes, or None where there is no such file
    path = os.path.join(folder, name)
    try:
        fd = os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK | os.O_NOCTTY)
    except FileNotFoundError:
        return None
    except OSError as error:
        raise Refused(f"{name} is a link" if os.path.islink(path) else f"{name} can't be opened: {error.strerror}")
    if not stat.S_ISREG(os.fstat(fd).st_mode):
        os.close(fd)
        raise Refused(f"{name} is no regular file (a folder, a FIFO or a device, say)")
    with os.fdopen(fd, "rb") as file:
        data = file.read(limit + 1)
    if len(data) > limit:
        raise Refused(f"{name} is larger than the {limit} bytes a release's is")
    return data


def lines(name):  # the text's lines, or None, having said why, unless it is all printable ASCII
    try:
        data = read(name, 64 * 1024)
    except Refused as refused:
        return wrong.append(str(refused))
    if data is None:
        return wrong.append(f"there is no {name}")
    text = re.sub(rb"\r(\n|$)", b"\n", data).split(b"\n")  # CRLF line ends read as LF
    for number, line in enumerate(text, 1):
        if not re.fullmatch(rb"[ -~]*", line):
            return wrong.append(f"line {number} of {name} holds a control character or a byte outside printable ASCII")
    return [line.decode() for line in (text[:-1] if text[-1] == b"" else text)]


info, sums = lines("BUILD-INFO.txt"), lines("SHA256SUMS")
zip_name = info[0] if info else ""  # unknown, and no name SHA256SUMS may give, where ""
if info is not None and not re.fullmatch(r"Narvelox-[0-9]+(\.[0-9]+)*-win32\.zip", zip_name):
    wrong.append("BUILD-INFO.txt names no Narvelox-VERSION-win32.zip on its first line")
    zip_name = ""
fields = {}
for number, line in enumerate((info or [])[1:], 2):
    key, colon, value = line.partition(": ")
    if not line:
        continue
    if not colon or not re.fullmatch(r"[A-Za-z][A-Za-z_ ]*", key):
        wrong.append(f'line {number} of BUILD-INFO.txt is not "NAME: value"')
    elif key in fields:
        wrong.append(f"line {number} of BUILD-INFO.txt gives a field that an earlier line gives")
    else:
        fields[key] = value
if info is not None:
    commit = fields.get("commit", "")
    if re.fullmatch(r"[0-9a-f]{40} with uncommitted changes", commit):
        wrong.append("BUILD-INFO.txt names a commit with uncommitted changes, which no clone holds")
    elif not re.fullmatch(r"[0-9a-f]{40}", commit):
        wrong.append('BUILD-INFO.txt names no commit ("commit: " and 40 hex digits)')
    if not re.fullmatch(r"[0-9]+ \(.*\)", fields.get("SOURCE_DATE_EPOCH", "")):
        wrong.append("BUILD-INFO.txt gives no SOURCE_DATE_EPOCH (its number of seconds)")
    if not re.fullmatch(r"1[23](\.[0-9]+)*", fields.get("Debian", "")):
        wrong.append("BUILD-INFO.txt names no Debian 12 or 13, the releases a root can be of")

published = {}
for number, line in enumerate(sums or [], 1):
    match = re.fullmatch(r"([0-9a-fA-F]{64}) [ *](.+)", line)
    if not line:
        continue
    if not match:
        wrong.append(f"line {number} of SHA256SUMS is not a SHA-256 and a file name")
    elif match[2] != "Narvelox.exe" and zip_name and match[2] != zip_name:
        wrong.append(f"line {number} of SHA256SUMS names a file that the release does not hold")
    elif match[2] in published:
        wrong.append(f"line {number} of SHA256SUMS names a file that an earlier line names")
    else:
        published[match[2]] = match[1].lower()
for name in (zip_name, "Narvelox.exe"):
    if name and sums is not None and name not in published:
        wrong.append(f"SHA256SUMS gives no SHA-256 of {name}")

held = None
try:
    held = read(zip_name, 16 * 1024 * 1024) if zip_name else None
except Refused as refused:
    wrong.append(str(refused))
if wrong:
    print(*wrong, sep="\n")
    sys.exit(1)
print("zip", zip_name)
print("commit", fields["commit"])
print("debian", fields["Debian"])
for name, sha in published.items():
    print("published", name, sha)
if held is not None:
    print("held", hashlib.sha256(held).hexdigest())
for line in info:
    print("info", line)
