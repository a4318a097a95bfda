"""Doxygen input filter: reads the contract comments of the public headers as documentation.

The headers are written for people: a file comment giving the library's overview, and above each
declaration a `//` comment headed by the operation's name. This filter turns them into what
Doxygen reads, leaving the headers as they are:
- the first comment block of the file becomes the file's documentation;
- a comment block directly above a declaration (no blank line between) becomes that
  declaration's documentation; the declarations right behind it share it when it speaks of them
  (an unheaded comment, or one headed "MapFind:" above MapFind and MapFindInteger);
- a comment at the end of a field's or constant's line documents that field or constant;
- comment blocks followed by a blank line (section headings) stay plain comments.
The line count never changes, so Doxygen's line numbers still point into the real header.

usage: contract_filter.py HEADER  (writes the filtered header to standard output)
"""
import re
import sys

TRAILING = re.compile(r"^(\s*[^/\s].*?[;,{}])(\s+)//(?!/)\s?(.*)$")
COMMENT = re.compile(r"^(\s*)//(?!/)( ?)(.*)$")


def is_comment(line):
    return COMMENT.match(line) is not None


# A comment headed by the names it documents: "MapFind:", "GadgetX, GadgetY:", "A and B:". A
# head of one plain word ("Iteration:") names no declaration.
IDENTIFIER = r"[A-Za-z_][A-Za-z0-9_]*"
HEADED = re.compile(r"^\s*//\s*(%s(?:(?:, | and )%s)*):" % (IDENTIFIER, IDENTIFIER))
NAME = re.compile(r"([A-Za-z_~][A-Za-z0-9_]*)\s*(?:\(|=|;|\[|\{)")


def ends_statement(line):
    """A declaration that is complete on its line's end (not a class or function body)."""
    code = line.split("//")[0].rstrip()
    return code.endswith(";") or (code.endswith("}") and code.count("{") == code.count("}") > 0)


def declared_name(lines, start):
    match = NAME.search(lines[start].split("//")[0])
    return match.group(1) if match else ""


def shares_comment(comment_lines, lines, start):
    """Whether the declaration at `start` is one the comment above an earlier one speaks of: a
    comment headed by a name ("MapFind: ...") covers declarations whose name starts with it or
    that it names; an unheaded one ("The current position, capacity and block size.") covers
    all that follow it without a blank line."""
    head = HEADED.match(comment_lines[0])
    names = re.split(r", | and ", head.group(1)) if head else []
    if not names or (len(names) == 1 and re.fullmatch(r"[A-Z][a-z]+", names[0])):
        return True
    name = declared_name(lines, start)
    text = " ".join(comment_lines)
    return bool(name) and (any(name.startswith(n) for n in names) or
                           re.search(r"\b%s\b" % name, text) is not None)


def declaration_end(lines, start):
    """The index of the last line of the declaration starting at `start`, or None when the line
    starts no declaration (a blank line, a directive, a closing brace)."""
    first = lines[start].strip()
    if not first or first.startswith("#") or first.startswith("}") or is_comment(lines[start]):
        return None
    depth = 0
    for index in range(start, len(lines)):
        text = lines[index].split("//")[0]
        depth += text.count("(") - text.count(")")
        stripped = text.rstrip()
        if depth <= 0 and (stripped.endswith(";") or stripped.endswith("{") or
                           ends_statement(lines[index])):
            return index
    return None


def filter_lines(lines):
    out = list(lines)
    index = 0
    file_comment_done = False
    while index < len(lines):
        if not is_comment(lines[index]) or TRAILING.match(lines[index]):
            index += 1
            continue
        start = index
        while index < len(lines) and is_comment(lines[index]):
            index += 1
        block = range(start, index)
        if not file_comment_done and all(not l.strip() or l.startswith("#include")
                                         for l in lines[:start]):
            file_comment_done = True
            # \file without a name, at the end, gives the block to the file it stands in.
            for line_index in block:
                out[line_index] = COMMENT.match(lines[line_index]).group(3)
            out[start] = "/** " + out[start]
            out[index - 1] += " \\file */"
            continue
        end = declaration_end(lines, index) if index < len(lines) else None
        if end is None:
            continue  # a heading or a note: stays a plain comment
        for line_index in block:
            match = COMMENT.match(lines[line_index])
            out[line_index] = match.group(1) + "///" + match.group(2) + match.group(3)
        # Further declarations right behind the first share the comment.
        last = end
        if ends_statement(lines[end]):
            comment = [lines[i] for i in block]
            following = declaration_end(lines, last + 1) if last + 1 < len(lines) else None
            while (following is not None and ends_statement(lines[following]) and
                   shares_comment(comment, lines, last + 1)):
                last = following
                following = declaration_end(lines, last + 1) if last + 1 < len(lines) else None
        if last != end:
            # The comment documents every declaration behind it: each further one gets it too,
            # as a comment at the end of its last line.
            text = " ".join(COMMENT.match(lines[i]).group(3).strip() for i in block)
            line_index = end + 1
            while line_index <= last:
                closing = declaration_end(lines, line_index)
                if TRAILING.match(lines[closing]) is None:  # its own comment documents it
                    out[closing] = lines[closing] + " ///< " + text
                line_index = closing + 1
        index = end + 1
    for line_index, line in enumerate(out):
        match = TRAILING.match(line)
        if match and "///" not in line and "//@" not in line:
            out[line_index] = match.group(1) + match.group(2) + "///< " + match.group(3)
    return out


def main():
    with open(sys.argv[1], encoding="utf-8") as f:
        lines = f.read().split("\n")
    sys.stdout.write("\n".join(filter_lines(lines)))


main()
