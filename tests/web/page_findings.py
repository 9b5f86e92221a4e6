#!/usr/bin/env python3
"""The findings as the page showed them (paste.js) and as portprobe-read
prints them, each as "- TEXT  [lines ...]" lines; exits 1 when they differ
or are none.
A terminal is shown control characters escaped (\\xNN, as the tool's
console shows them) and a page is not, so the page's text is escaped the
same way before the two are compared.
usage: page_findings.py PAGE_FINDINGS CLI_OUTPUT"""
import sys


def terminal_safe(text):
    shown = ''
    for character in text:
        code = ord(character)
        if (code < 0x20 and character not in '\t\n') or code == 0x7F:
            shown += '\\x%02X' % code
        elif 0x80 <= code <= 0x9F:
            shown += ''.join('\\x%02X' % byte for byte in character.encode('utf-8'))
        else:
            shown += character
    return shown


shown = open(sys.argv[1], encoding='utf-8').read()
cli = open(sys.argv[2], encoding='utf-8').read()
page = [terminal_safe(line) for line in shown.split('\n') if line.startswith('- ')]

printed = []
inside = False
for line in cli.split('\n'):
    if line == 'Findings:':
        inside = True
    elif inside and line.startswith('- '):
        printed.append(line)
    elif inside:
        break

if not page or page != printed:
    print('page:\n' + '\n'.join(page) + '\nportprobe-read:\n' + '\n'.join(printed))
    sys.exit(1)
print(f'{len(page)} findings')
