#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Doxygen's input filter for the public headers: their plain // comments become the reference.

- A file's first comment block describes the file.
- A comment block before declarations documents them; when it stands before several declarations in a
  row (a getter and its setter, a family of constants) it documents each of them.
- A comment after a declaration on the same line documents that declaration.
- Section rulers ("// ---- Links ----") stay plain comments.
The lines keep their numbers, so warnings point at the header as it is.
"""
import re
import sys

RULER = re.compile(r"^\s*// -{2,}")
COMMENT = re.compile(r"^(\s*)//(?: (.*)|$)")
TRAILING = re.compile(r"^(\s*[^/\s].*?[;,{)}])\s*// (.*)$")
ACCESS = re.compile(r"^\s*(public|protected|private)\s*:")


def escape(text):
    return (text or "").replace("\\", "\\\\").replace("@", "\\@")


def indent_of(line):
    return len(line) - len(line.lstrip())


def is_code(line):
    s = line.strip()
    return bool(s) and not s.startswith("//") and not s.startswith("#") and not ACCESS.match(line)


NAME = re.compile(r"([A-Za-z_][A-Za-z_0-9]*)\s*(?:\(|=|\{|;|,|\[)")


def name_of(decl):
    m = NAME.search(decl)
    return m.group(1) if m else ""


def kind_of(decl):
    for kind in ("inline constexpr", "static constexpr", "using ", "enum ", "constexpr "):
        if decl.startswith(kind):
            return kind
    return None


def belongs(previous, decl, first):
    a, b = name_of(previous), name_of(decl)
    stem = lambda name: name[3:] if name.startswith(("Set", "Get")) and name[3:4].isupper() else name
    if stem(a) == stem(b):
        return True
    return kind_of(first) is not None and kind_of(decl) == kind_of(first) and not decl.startswith("enum ")


def main(path):
    lines = open(path, encoding="utf-8").read().split("\n")
    out = list(lines)
    seen_code = False
    i = 0
    n = len(lines)
    while i < n:
        line = lines[i]
        m = COMMENT.match(line)
        if m and not RULER.match(line):
            start = i
            while i < n and COMMENT.match(lines[i]) and not RULER.match(lines[i]):
                i += 1
            block = range(start, i)
            if not seen_code:
                # The file's own description.
                for k in block:
                    mm = COMMENT.match(lines[k])
                    prefix = "/** @file */ /// " if k == start else "/// "
                    out[k] = mm.group(1) + prefix + escape(mm.group(2))
                continue
            # The declarations that follow without a blank line between them.
            j = i
            depth = 0
            ends = []
            while j < n:
                s = lines[j]
                if depth == 0 and (not is_code(s) or s.strip().startswith("}")):
                    break
                depth += s.count("{") - s.count("}")
                j += 1
                continued = (s.rstrip().endswith(",") and j < n and
                             indent_of(lines[j]) > indent_of(lines[i]))  # a declaration that goes on
                if depth == 0 and s.rstrip().endswith((";", "}", ",")) and not continued:
                    ends.append(j)
            for k in block:
                mm = COMMENT.match(lines[k])
                out[k] = mm.group(1) + "/// " + escape(mm.group(2))
            # Only what the comment speaks of: a getter with its setter, or a run of declarations of
            # one kind (constants, type aliases, overloads of one name).
            decls = []
            at = i
            for end in ends:
                decls.append(" ".join(x.strip() for x in lines[at:end]))
                at = end
            count = 1
            while count < len(decls) and belongs(decls[count - 1], decls[count], decls[0]):
                count += 1
            if ends:
                last = ends[count - 1] - 1
                indent = COMMENT.match(lines[start]).group(1)
                out[start] = indent + "///@{ " + out[start].lstrip()
                out[last] = out[last] + " ///@}"
            continue
        if is_code(line):
            seen_code = seen_code or not line.strip().startswith("#")
            t = TRAILING.match(line)
            if t and not RULER.match(line):
                out[i] = t.group(1) + " ///< " + escape(t.group(2))
            if re.search(r"\bfriend bool operator==\(.*\) = default;", line):
                out[i] = line + " ///< Member-wise equality."
        i += 1
    sys.stdout.write("\n".join(out))


if __name__ == "__main__":
    main(sys.argv[1])
