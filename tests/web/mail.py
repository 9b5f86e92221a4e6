#!/usr/bin/env python3
"""A report as a mail program passes it on: bare line feeds, lines longer
than 72 columns broken at their last blank (or at 72 without one), quoted
with "> ", a greeting before and a signature after.
usage: mail.py REPORT > MAILED"""
import sys

report = open(sys.argv[1], 'rb').read().decode('utf-8', 'surrogateescape')
lines = []
for line in report.replace('\r\n', '\n').split('\n'):
    while len(line) > 72:
        cut = line.rfind(' ', 0, 73)
        if cut <= 0:
            lines.append(line[:72])
            line = line[72:]
        else:
            lines.append(line[:cut])
            line = line[cut + 1:]
    lines.append(line)
body = '\n'.join('> ' + line for line in lines)
sys.stdout.buffer.write(('Hi,\n\nthe tool gave me this:\n\n' + body + '\n\nBest,\n-- \nA user\n')
                        .encode('utf-8', 'surrogateescape'))
