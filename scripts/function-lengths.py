#!/usr/bin/env python3
"""Lists the longest function bodies of the product code (src/ and tools/), longest first.

Usage: scripts/function-lengths.py [--top N] [DIR...]
A line count from the line of the opening brace's header to the closing brace. The C++ is read
with a small brace matcher (strings, characters and comments skipped), not a compiler, which is
enough for this code base's layout.
"""
import os
import re
import sys

CONTROL = re.compile(r'^\s*(if|for|while|switch|catch|do|else|try)\b')


def strip(text):
    """Blanks out comments, string and character literals, keeping newlines and length."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            out.append(' ' * (j - i)); i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j])); i = j
        elif c == 'R' and text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = text.find(')' + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j])); i = j
        elif c in '"\'':
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == '\\' else 1
            out.append(c + ' ' * (j - i - 1) + c if j < n else ' ' * (n - i)); i = j + 1
        else:
            out.append(c); i += 1
    return ''.join(out)


def functions(path):
    text = strip(open(path, encoding='utf-8', errors='replace').read())
    stack = []          # (kind, start offset, name)
    last = 0            # offset after the last ; { or } at any level
    for i, c in enumerate(text):
        if c == '{':
            header = text[last:i]
            enclosing = stack[-1][0] if stack else 'namespace'
            kind = 'other'
            if enclosing in ('namespace', 'class'):
                h = ' '.join(header.split())
                if re.search(r'\b(namespace)\b', h) or h.startswith('extern "'):
                    kind = 'namespace'
                elif re.search(r'\b(class|struct|union|enum)\b[^()]*$', h):
                    kind = 'class'
                elif ')' in h and not CONTROL.match(h) and not h.endswith('='):
                    kind = 'function'
            m = re.search(r'([~\w:]+(?:operator\S*)?)\s*\(', ' '.join(header.split()))
            stack.append((kind, last, m.group(1) if m else '?'))
            last = i + 1
        elif c == '}':
            if stack:
                kind, start, name = stack.pop()
                if kind == 'function':
                    first = text.count('\n', 0, start) + 1
                    # the header starts on the first non-blank line after the previous token
                    while text[start] in ' \t\n' and start < i:
                        if text[start] == '\n':
                            first += 1
                        start += 1
                    last_line = text.count('\n', 0, i) + 1
                    yield name, first, last_line - first + 1
            last = i + 1
        elif c == ';':
            last = i + 1


def main(argv):
    top = 10
    dirs = []
    args = iter(argv)
    for a in args:
        if a == '--top':
            top = int(next(args))
        else:
            dirs.append(a)
    dirs = dirs or ['src', 'tools']
    found = []
    for d in dirs:
        for root, _, files in os.walk(d):
            for f in sorted(files):
                if f.endswith(('.cpp', '.h')):
                    p = os.path.join(root, f)
                    found += [(n, p, line, name) for name, line, n in functions(p)]
    found.sort(key=lambda x: (-x[0], x[1], x[2]))
    for n, p, line, name in found[:top]:
        print(f'{n:5d}  {p}:{line}  {name}')


if __name__ == '__main__':
    main(sys.argv[1:])
