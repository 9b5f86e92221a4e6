#!/usr/bin/env python3
"""A support desk's mail at its largest, written by Python's email and
mailbox packages: the largest report the tool writes attached base64 to one
mail (flood.eml), and a month of mail, an mbox of 1,000 mails each holding an
ordinary report, half attached and half in the body (month.mbox). What the
reader's figures in docs/performance.md are measured on.
usage: support_desk.py OUT_DIR FLOOD_REPORT ORDINARY_REPORT"""
import email.policy
import mailbox
import os
import sys
from email.message import EmailMessage

out, flood_report, ordinary_report = sys.argv[1:4]


def mail(number):
    message = EmailMessage(policy=email.policy.default)
    message['From'] = f'User {number} <user{number}@example.org>'
    message['To'] = 'support@example.com'
    message['Subject'] = 'Portprobe report'
    message['Date'] = 'Thu, 10 Dec 2026 09:30:00 +0100'
    return message


flood = mail(0)
flood.set_content('The report is attached.\n')
flood.add_attachment(open(flood_report, 'rb').read(), maintype='text', subtype='plain',
                     filename='portprobe-report.txt')
open(os.path.join(out, 'flood.eml'), 'wb').write(flood.as_bytes())

ordinary = open(ordinary_report, encoding='utf-8').read()
box = mailbox.mbox(os.path.join(out, 'month.mbox'))
for number in range(1, 1001):
    message = mail(number)
    if number % 2:
        message.set_content('Hello,\n\n' + ordinary + '\nThanks\n')
    else:
        message.set_content('Attached.\n')
        message.add_attachment(ordinary.encode('utf-8'), maintype='text', subtype='plain',
                               filename='portprobe-report.txt')
    box.add(message)
box.flush()
