#!/usr/bin/env python3
"""Checks that every parameter file key the program and its services read is
documented in the manual page.

The keys are found in the code itself: every call of a key reader
(ReadIniString, ReadIniInt, ReadIniValue, ReadIniSetting, FindSetting, and any function or
lambda that takes a section and a key and passes them on) names its section
and key as a text, as a constant defined as a text, or as the section and key
fields of a table of {"section", "key"} rows. A call whose section or key is
none of these fails the check too, naming the call, so that a key cannot slip
past unnoticed.

A key counts as documented when it names an item (the line after .TP or .TQ)
of the page's CONFIGURATION section, under a heading (.SS) that names its
section as [Section], or with [Section] in the item's own line.

    check-ini-keys.py --page PAGE --root SOURCE-ROOT [FOLDER...]

FOLDER defaults to the program's and the services' source folders.
"""

import argparse
import os
import re
import sys

DEFAULT_FOLDERS = ["apps", "config", "console", "framework", "platform", "services"]
SOURCE_SUFFIXES = (".cpp", ".cc", ".cxx", ".h", ".hpp", ".inc", ".in")

# The readers of the parameter file: name -> (index of the section argument,
# index of the key argument). Functions and lambdas that take parameters
# named for a section and a key, or for a key alone, are added as they are
# found.
BASE_READERS = {
    "ReadIniString": (1, 2),
    "ReadIniInt": (1, 2),
    "ReadIniValue": (1, 2),
    "ReadIniSetting": (1, 2),
    "FindSetting": (0, 1),
}
SECTION_PARAMETER = "section"
KEY_PARAMETER = "key"

IDENTIFIER = re.compile(r"[A-Za-z_]\w*$")
STRING = r'"((?:[^"\\\n]|\\.)*)"'


def strip_comments(text):
    """The text with its comments blanked out, string and character literals
    and line breaks kept, so that offsets still give line numbers."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            end = text.find("\n", i)
            end = n if end < 0 else end
            out.append(" " * (end - i))
            i = end
        elif text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[i:end]))
            i = end
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(text[i:j + 1])
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def split_arguments(text, open_at):
    """The top-level arguments of the call whose "(" is at open_at, with the
    offset just past its ")"; None when the parentheses do not close."""
    depth, start, args = 0, open_at + 1, []
    i = open_at
    while i < len(text):
        c = text[i]
        if c in "\"'":
            j = i + 1
            while j < len(text) and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            i = j
        elif c in "([{":
            depth += 1
        elif c in ")]}":
            depth -= 1
            if depth == 0:
                args.append(text[start:i].strip())
                return args, i + 1
        elif c == "," and depth == 1:
            args.append(text[start:i].strip())
            start = i + 1
        i += 1
    return None


def parameter_names(arguments):
    """The names of a parameter list, or None when it is a call's arguments."""
    names = []
    for argument in arguments:
        argument = argument.split("=")[0].strip()
        if re.search(r"[.\[\]()\"'+/-]", argument):
            return None  # an expression: this is a call
        words = re.findall(r"[\w:<>]+", argument)
        if len(words) < 2 or not IDENTIFIER.match(words[-1]):
            return None
        names.append(words[-1])
    return names


class Source:
    def __init__(self, root, path):
        self.path = os.path.relpath(path, root)
        with open(path, encoding="utf-8", errors="replace") as f:
            self.text = strip_comments(f.read())

    def line(self, offset):
        return self.text.count("\n", 0, offset) + 1


def find_sources(root, folders):
    for folder in folders:
        for directory, subfolders, files in os.walk(os.path.join(root, folder)):
            subfolders.sort()
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    yield Source(root, os.path.join(directory, name))


def find_constants(sources):
    """Identifiers defined as a text: name -> {file: text}."""
    pattern = re.compile(r"\b([A-Za-z_]\w*)\s*(?:\[\s*\w*\s*\])?\s*(?:=\s*\{?|\{|\()\s*" + STRING +
                         r"\s*[})]?\s*[;,)]")
    constants = {}
    for source in sources:
        for match in pattern.finditer(source.text):
            constants.setdefault(match.group(1), {})[source.path] = match.group(2)
    return constants


def find_tables(sources):
    """Tables of {"section", "key", ...} rows: name -> [(section, key)]."""
    header = re.compile(r"\b([A-Za-z_]\w*)\s*(?:\[[^\]]*\])?\s*=\s*\{")
    row = re.compile(r"\{\s*" + STRING + r"\s*,\s*" + STRING + r"\s*[,}]")
    tables = {}
    for source in sources:
        for match in header.finditer(source.text):
            found = split_arguments(source.text.replace("{", "(").replace("}", ")"),
                                    match.end() - 1)
            if found is None:
                continue
            body = source.text[match.end() - 1:found[1]]
            rows = row.findall(body)
            if rows:
                tables.setdefault(match.group(1), []).extend(rows)
    return tables


def find_readers(sources, constants):
    """The readers: the base ones, every function or lambda with a section and
    a key parameter, and every one with only a key parameter that passes it
    on to a reader together with a fixed section. Gives name -> (section
    argument's index, or the fixed section's text; key argument's index), and
    the places of the calls through which wrappers pass their key on."""
    readers = dict(BASE_READERS)
    key_only = []  # (name, key index, key parameter, source, body start, body end)
    definition = re.compile(r"\b([A-Za-z_]\w*)\s*(?:=\s*\[[^\]]*\]\s*)?\(")
    for source in sources:
        for match in definition.finditer(source.text):
            found = split_arguments(source.text, match.end() - 1)
            if found is None:
                continue
            names = parameter_names(found[0])
            if not names:
                continue
            sections = [i for i, name in enumerate(names) if is_parameter(name, SECTION_PARAMETER)]
            keys = [i for i, name in enumerate(names) if is_parameter(name, KEY_PARAMETER)]
            if sections and keys:
                readers.setdefault(match.group(1), (sections[0], keys[0]))
            elif keys:
                body = re.match(r"[^;{]*\{", source.text[found[1]:])
                if body:
                    open_at = found[1] + body.end() - 1
                    closed = split_arguments(source.text, open_at)
                    if closed:
                        key_only.append((match.group(1), keys[0], names[keys[0]], source,
                                         open_at, closed[1]))
    forwarding = set()
    changed = True
    while changed:
        changed = False
        call = reader_call(readers)
        for name, k, parameter, source, begin, end in key_only:
            if name in readers:
                continue
            for match in call.finditer(source.text, begin, end):
                found = split_arguments(source.text, match.end() - 1)
                s_index, k_index = readers[match.group(1)]
                if not found or isinstance(s_index, str) or \
                        max(s_index, k_index) >= len(found[0]) or found[0][k_index] != parameter:
                    continue
                section = resolve(found[0][s_index], source, constants)
                if section is not None:
                    readers[name] = (section, k)
                    forwarding.add((source.path, match.start()))
                    changed = True
                    break
    return readers, forwarding


def reader_call(readers):
    return re.compile(r"\b(" + "|".join(map(re.escape, readers)) + r")\s*\(")


def is_parameter(name, role):
    """Whether a parameter name says it holds a section (or a key) name:
    section, sectionName, key, keyName..."""
    return bool(IDENTIFIER.match(name)) and role in name.lower()


def resolve(argument, source, constants):
    """The text an argument stands for, or None."""
    literal = re.fullmatch(STRING, argument)
    if literal:
        return literal.group(1)
    if IDENTIFIER.match(argument) and argument in constants:
        texts = constants[argument]
        return texts.get(source.path, next(iter(texts.values())))
    return None


def find_keys(sources):
    """(keys, problems): keys as (section, key, where), problems as texts."""
    constants = find_constants(sources)
    tables = find_tables(sources)
    readers, forwarding = find_readers(sources, constants)
    call = reader_call(readers)
    field = re.compile(r"([A-Za-z_]\w*)\s*\[[^\]]*\]\s*(?:\.|->)\s*(\w+)$")
    keys, problems = [], []
    for source in sources:
        for match in call.finditer(source.text):
            found = split_arguments(source.text, match.end() - 1)
            if found is None:
                continue
            arguments = found[0]
            if parameter_names(arguments) is not None:
                continue  # a declaration or definition, not a call
            where = "%s:%d" % (source.path, source.line(match.start()))
            if (source.path, match.start()) in forwarding:
                continue  # a wrapper passing its key on with its fixed section
            s, k = readers[match.group(1)]
            if isinstance(s, str):
                if k >= len(arguments):
                    continue
                section, key = '"%s"' % s, arguments[k]
            else:
                if max(s, k) >= len(arguments):
                    continue
                section, key = arguments[s], arguments[k]
            if is_parameter(section, SECTION_PARAMETER) and is_parameter(key, KEY_PARAMETER) and \
                    section not in constants and key not in constants:
                continue  # a reader passing its own parameters on
            from_table = field.match(section), field.match(key)
            if all(from_table) and from_table[0].group(1) == from_table[1].group(1) and \
                    from_table[0].group(1) in tables:
                for row in tables[from_table[0].group(1)]:
                    keys.append((row[0], row[1], where))
                continue
            texts = resolve(section, source, constants), resolve(key, source, constants)
            if None in texts:
                problems.append("%s: %s(%s) names its section or key by something other than "
                                "a text or a constant text; make it one, so that the key can "
                                "be checked against the manual page" %
                                (where, match.group(1), ", ".join(arguments)))
                continue
            keys.append((texts[0], texts[1], where))
    return keys, problems


def documented_items(page_text):
    """The item labels of the page's CONFIGURATION section (the line after
    each .TP or .TQ), each with the section heading (.SS) it stands under."""
    match = re.search(r"^\.SH\s+\"?CONFIGURATION\"?\s*$(.*?)(?=^\.SH\s|\Z)", page_text,
                      re.M | re.S)
    if not match:
        return None
    items, heading, tag_next = [], "", False
    for line in match.group(1).splitlines():
        if line.startswith(".SS"):
            heading = line
        elif tag_next:
            items.append((heading, line))
        tag_next = line.startswith((".TP", ".TQ"))
    return items


def is_documented(items, section, key):
    word = re.compile(r"(?<![\w-])" + re.escape(key) + r"(?![\w-])")
    name = "[%s]" % section
    return any(word.search(label) and (name in heading or name in label)
               for heading, label in items)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--page", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--expect", action="append", default=[],
                        help="a key that must be found in the code (checks the scan itself)")
    parser.add_argument("folders", nargs="*")
    options = parser.parse_args()

    sources = list(find_sources(options.root, options.folders or DEFAULT_FOLDERS))
    keys, problems = find_keys(sources)
    with open(options.page, encoding="utf-8") as f:
        items = documented_items(f.read())
    if items is None:
        problems.append("%s has no CONFIGURATION section" % options.page)
        items = []

    found = {key for _, key, _ in keys}
    for key in options.expect:
        if key not in found:
            problems.append("the scan of the code did not find the key %s: the reader calls "
                            "have changed shape; teach this script the new one" % key)
    reported = set()
    for section, key, where in keys:
        if (section, key) in reported:
            continue
        if not is_documented(items, section, key):
            reported.add((section, key))
            problems.append("orvane.ini key [%s] %s (read at %s) is not documented in the "
                            "CONFIGURATION section of %s: give it an item (.TP) under "
                            ".SS [%s]" % (section, key, where, options.page, section))
    for problem in problems:
        print(problem)
    print("%d keys read, %d problems" % (len({(s, k) for s, k, _ in keys}), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
