#!/usr/bin/env python3
"""Writes a program's manual page from its --help text, so that the page and
the help can never say different things.

    help_to_man.py PROGRAM VERSION < HELP > PROGRAM.1

The help text is laid out as every Portulon program lays it out:

    NAME - what it is, in one line

    Usage:
      synopsis lines

    Description: paragraphs, and "TERM  text" lists.

    Options:               (any heading: a line of words ending in ':')
      --name VALUE   text
                     more text

    Exit status:
      0  success

    Files: / Examples: / See also:

The Usage block becomes SYNOPSIS, the text before the first heading
DESCRIPTION, and each heading a section of its own name. A help text that
lacks one of the sections a page needs is refused (status 1), naming it.
"""
import re
import sys

REQUIRED = ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "EXIT STATUS", "FILES", "EXAMPLES",
            "SEE ALSO"]
VERBATIM = {"SYNOPSIS", "EXAMPLES"}
HEADING = re.compile(r"^([A-Z][a-z]*(?: [a-z]+)*):$")
ITEM = re.compile(r"^(\S(?:.*?\S)?)\s{2,}(\S.*)$")


def escape(text):
    text = text.replace("\\", "\\e")
    # A dash that starts a word is an option's minus; hyphens inside words stay.
    text = re.sub(r"(?<![A-Za-z0-9])-", r"\\-", text)
    return text


def line_start(text):
    return "\\&" + text if text[:1] in (".", "'") else text


def split_sections(help_text):
    lines = help_text.rstrip("\n").split("\n")
    if not lines or " - " not in lines[0]:
        raise ValueError("the first line is not 'NAME - what it is'")
    name, _, summary = lines[0].partition(" - ")
    sections = [("NAME", [name.strip() + " - " + summary.strip()])]
    current = None
    body = []
    for line in lines[1:]:
        if line.startswith("Usage:") and current is None and not any(s == "SYNOPSIS" for s, _ in sections):
            rest = line[len("Usage:"):].strip()
            current, body = "SYNOPSIS", ["  " + rest] if rest else []
            continue
        m = HEADING.match(line)
        if m:
            sections.append((current, body))
            current, body = m.group(1).upper(), []
            continue
        if current == "SYNOPSIS" and not line.strip():
            sections.append((current, body))
            current, body = "DESCRIPTION", []
            continue
        body.append(line)
    sections.append((current, body))
    merged = []
    for title, text in sections:
        if title is None:
            continue
        while text and not text[0].strip():
            text = text[1:]
        while text and not text[-1].strip():
            text = text[:-1]
        merged.append((title, text))
    return merged


def verbatim(lines):
    indent = min((len(l) - len(l.lstrip()) for l in lines if l.strip()), default=0)
    out = [".PP", ".nf", ".RS 4"]
    for l in lines:
        out.append(line_start(escape(l[indent:])) if l.strip() else "")
    out += [".RE", ".fi"]
    return [o if o else ".sp" for o in out]


def bold_term(term):
    return "\\fB" + escape(term) + "\\fR"


def flowing(lines):
    """Paragraphs and 'TERM  text' lists: a line whose words stop at a gap of
    two blanks is an item, lines indented deeper than it continue it."""
    out = []
    paragraph = []
    item = None  # [depth, term, [text...]]

    def flush():
        nonlocal paragraph, item
        if paragraph:
            out.append(".PP")
            out.extend(line_start(escape(p)) for p in paragraph)
            paragraph = []
        if item:
            out.append(".TP")
            out.append(line_start(bold_term(item[1])))
            out.extend([line_start(escape(t)) for t in item[2]] or ["\\&"])
            item = None

    def depth_of(l):
        return len(l) - len(l.lstrip())

    for n, line in enumerate(lines):
        if not line.strip():
            flush()
            continue
        depth = depth_of(line)
        text = line.strip()
        if item and depth > item[0] + 1:
            item[2].append(text)
            continue
        m = ITEM.match(text)
        following = lines[n + 1] if n + 1 < len(lines) else ""
        if m:
            flush()
            item = [depth, m.group(1), [m.group(2)]]
        elif following.strip() and depth_of(following) > depth + 2:
            # A term too long for its line; its text follows, indented.
            flush()
            item = [depth, text, []]
        else:
            if item:
                flush()
            paragraph.append(text)
    flush()
    return out


def see_also(lines):
    refs = re.findall(r"([A-Za-z0-9_.-]+)\((\d)\)", " ".join(lines))
    return [",\n".join("\\fB%s\\fR(%s)" % (escape(n), s) for n, s in refs)]


def main():
    if len(sys.argv) != 3:
        print("usage: help_to_man.py PROGRAM VERSION < HELP > PAGE", file=sys.stderr)
        return 2
    program, version = sys.argv[1], sys.argv[2]
    try:
        sections = split_sections(sys.stdin.read())
    except ValueError as e:
        print("help_to_man: %s: %s" % (program, e), file=sys.stderr)
        return 1
    titles = [t for t, body in sections if any(l.strip() for l in body)]
    missing = [r for r in REQUIRED if r not in titles]
    if missing:
        print("help_to_man: %s: the help has no %s" % (program, ", ".join(missing)), file=sys.stderr)
        return 1
    out = ['.TH %s 1 "" "Portulon %s" "Portulon Manual"' % (escape(program.upper()), escape(version))]
    for title, body in sections:
        out.append(".SH " + title)
        if title == "NAME":
            name, _, summary = body[0].partition(" - ")
            out.append("%s \\- %s" % (escape(name), escape(summary)))
        elif title in VERBATIM:
            out.extend(verbatim(body))
        elif title == "SEE ALSO":
            out.extend(see_also(body))
        else:
            out.extend(flowing(body))
    sys.stdout.write("\n".join(out) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
