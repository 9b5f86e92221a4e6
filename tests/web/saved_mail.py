#!/usr/bin/env python3
"""A report as a user's mail program saves the mail it came in (.eml),
written by Python's email package: a windows-1252 body sent 8-bit, so that
the bytes are not UTF-8 and a reader that took them for text would garble
the port name "Pédale €" that stands in for "USB Keyboard".
usage: saved_mail.py REPORT > MAIL.eml"""
import email.policy
import sys
from email.message import EmailMessage

report = open(sys.argv[1], encoding='utf-8').read().replace('\r\n', '\n').replace('USB Keyboard', 'Pédale €')
message = EmailMessage(policy=email.policy.default)
message['From'] = 'Ann User <ann@example.org>'
message['To'] = 'support@example.com'
message['Subject'] = 'My controller'
message['Date'] = 'Thu, 10 Dec 2026 09:30:00 +0100'
message.set_content('Hello,\n\n' + report + '\nAnn\n', charset='windows-1252', cte='8bit')
sys.stdout.buffer.write(message.as_bytes())
