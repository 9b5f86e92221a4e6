#!/usr/bin/env python3
"""The report reader on the scenarios' reports as they reach support inside
mails, the mails written by real mail libraries: Python's email and mailbox
packages (quoted-printable, base64, attachments, multipart/alternative, HTML
only, windows-1252 and ISO-8859 bodies, an mbox of several users' mails, a
reply thread quoting an earlier run) and libmime, nodemailer's MIME library
(format=flowed, as Thunderbird and Apple Mail send it).

Each mail is given to portprobe-read --json as a file, the output read with
Python's own JSON parser, and each report found must give the findings and
the not-understood lines of its clean report (line numbers aside), and say
where it came from.

usage: mailed_reports_test.py PORTPROBE_READ REPORTS_DIR NODE_MODULES"""
import email.policy
import html
import json
import mailbox
import os
import subprocess
import sys
import tempfile
from email.message import EmailMessage

read, reports_dir, node_modules = sys.argv[1:4]
work = tempfile.mkdtemp()
failures = []


def reading_of(path):
    output = subprocess.run([read, path, '--json'], capture_output=True, check=False).stdout
    return json.loads(output.decode('utf-8'))


def essence(report):
    return ([(f['kind'], f['text']) for f in report['findings']], [u['text'] for u in report['notUnderstood']])


def check(name, condition, detail=''):
    if not condition:
        failures.append(f'{name}: {detail}')


reports = {}
for file in sorted(os.listdir(reports_dir)):
    raw = open(os.path.join(reports_dir, file), 'rb').read()
    try:
        text = raw.decode('utf-8')
    except UnicodeDecodeError:
        continue  # a report of raw hostile bytes: no charset carries it, as no mail program would
    reports[file[:-len('.report')]] = text.replace('\r\n', '\n')
# A port named beyond ASCII, as users' hardware has them.
reports['accented'] = reports['unplugged'].replace('USB Keyboard', 'Pédale € Ünïcode')

clean = {}
for name, text in reports.items():
    path = os.path.join(work, name + '.txt')
    open(path, 'w', encoding='utf-8').write(text)
    found = reading_of(path)
    assert len(found) == 1 and found[0]['found'], name
    clean[name] = essence(found[0])


def mail(sender='Ann User <ann@example.org>', subject='Portprobe report'):
    message = EmailMessage(policy=email.policy.default)
    message['From'] = sender
    message['To'] = 'support@example.com'
    message['Subject'] = subject
    message['Date'] = 'Thu, 10 Dec 2026 09:30:00 +0100'
    return message


def as_html_br(text):
    # As a mail program sends a plain text as HTML: blanks that HTML would
    # run together kept as &nbsp;, each line ended by <br>.
    lines = [html.escape(line).replace('  ', ' &nbsp;') for line in text.split('\n')]
    return '<html><body><p>Hi support,</p>\n<div>' + '<br>\n'.join(lines) + '</div>\n<p>Thanks</p></body></html>\n'


def as_html_divs(text):
    lines = ['<div>' + (html.escape(line).replace('  ', ' &nbsp;') or '<br>') + '</div>' for line in text.split('\n')]
    return '<html><head><style>div{margin:0}</style></head><body>' + '\n'.join(lines) + '</body></html>'


def as_html_pre(text):
    return '<html><body><pre>' + html.escape(text) + '</pre></body></html>'


def encodable(text, charset):
    try:
        text.encode(charset)
        return True
    except UnicodeEncodeError:
        return False


def flowed(text):
    environment = dict(os.environ, NODE_PATH=node_modules)
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), 'flowed.js')
    return subprocess.run(['node', script], input=text.encode('utf-8'), capture_output=True, check=True,
                          env=environment).stdout.decode('utf-8')


def forms(text):
    """Each form a report arrives in: (form, mail bytes, what its part is called)."""
    def body(charset, cte):
        message = mail()
        message.set_content('Hello,\n\nhere is what the tool said:\n\n' + text + '\nRegards,\nAnn\n',
                            charset=charset, cte=cte)
        return message

    yield 'quoted-printable', body('utf-8', 'quoted-printable'), 'the body'
    yield 'base64', body('utf-8', 'base64'), 'the body'
    for charset, cte in (('windows-1252', '8bit'), ('iso-8859-15', 'quoted-printable'), ('iso-8859-1', 'base64')):
        if encodable(text, charset):
            yield charset, body(charset, cte), 'the body'
    attached = mail()
    attached.set_content('The report is attached.\n')
    attached.add_attachment(text.encode('utf-8'), maintype='text', subtype='plain',
                            filename='portprobe-report.txt')
    yield 'attached', attached, 'the attachment "portprobe-report.txt"'
    binary = mail()
    binary.set_content('Attached, as my mail program saw fit to send it.\n')
    binary.add_attachment(text.encode('utf-8'), maintype='application', subtype='octet-stream',
                          filename='portprobe-report.txt')
    yield 'attached as octet-stream', binary, 'the attachment "portprobe-report.txt"'
    alternative = mail()
    alternative.set_content(text, cte='quoted-printable')
    alternative.add_alternative(as_html_pre(text), subtype='html')
    yield 'alternative', alternative, 'the body'
    html_only = mail()
    html_only.set_content(as_html_br(text), subtype='html', cte='quoted-printable')
    yield 'HTML only, <br>', html_only, 'the HTML body'
    divs = mail()
    divs.set_content(as_html_divs(text), subtype='html', cte='base64')
    yield 'HTML only, <div>', divs, 'the HTML body'
    flowed_mail = mail()
    flowed_mail.set_content(flowed(text), cte='8bit')
    flowed_mail.set_param('format', 'flowed')
    yield 'format=flowed', flowed_mail, 'the body'
    related = mail()
    related.set_content(as_html_divs(text), subtype='html')
    related.make_related()
    related.add_related(b'\x89PNG\r\n\x1a\n', maintype='image', subtype='png', cid='<logo>')
    mixed = mail()
    mixed.make_mixed()
    mixed.attach(related)
    yield 'mixed holding related HTML', mixed, 'the HTML body'


for name, text in reports.items():
    for form, message, part in forms(text):
        path = os.path.join(work, f'{name}.{form.replace(" ", "_").replace("/", "")}.eml')
        open(path, 'wb').write(message.as_bytes())
        found = reading_of(path)
        label = f'{name}, {form}'
        check(label, len(found) == 1, f'{len(found)} readings')
        if not found:
            continue
        check(label, essence(found[0]) == clean[name], f'\n  mailed: {essence(found[0])}\n  clean:  {clean[name]}')
        check(label, found[0]['source']['part'] == part and found[0]['source']['sender'] == 'Ann User '
              '<ann@example.org>', found[0]['source'])

# A reply thread: the new run on top, the earlier one quoted in the reply
# below it, at two depths (the new one itself quoted once when the thread
# was forwarded again).
first, second = 'nano-channel', 'bcf2000-rename'
for top_quote, earlier_quote in (('', '> > '), ('> ', '> > ')):
    def quoted(text, mark):
        return '\n'.join((mark + line).rstrip() if not line else mark + line for line in text.split('\n'))
    thread = mail(subject='Re: Re: my controller')
    thread.set_content(quoted(reports[second], top_quote) + '\n\nOn Tue, 8 Dec 2026, Ann wrote:\n> Here it is:\n' +
                       quoted(reports[first], earlier_quote) + '\n', cte='quoted-printable')
    path = os.path.join(work, f'thread{len(top_quote)}.eml')
    open(path, 'wb').write(thread.as_bytes())
    found = reading_of(path)
    label = f'thread, quoted "{top_quote}" and "{earlier_quote}"'
    check(label, [essence(report) for report in found] == [clean[second], clean[first]],
          [essence(report) for report in found])
    check(label, [report['source']['quoteDepth'] for report in found] == [len(top_quote) // 2, 2],
          [report['source'] for report in found])

# A reply whose quote of the earlier run ends early (the writer cut it):
# that run says it is cut short, the new one is whole.
cut = '\n'.join(reports[first].split('\n')[:-6])
reply = mail(subject='Re: my controller')
reply.set_content(reports[second] + '\n\nOn Tue, 8 Dec 2026, Ann wrote:\n' +
                  '\n'.join('> ' + line for line in cut.split('\n')) + '\n[...]\n', cte='quoted-printable')
path = os.path.join(work, 'cut-quote.eml')
open(path, 'wb').write(reply.as_bytes())
found = reading_of(path)
check('a quote cut short', len(found) == 2 and essence(found[0]) == clean[second] and
      'summary-missing' in [f['kind'] for f in found[1]['findings']] and
      'summary-missing' not in [f['kind'] for f in found[0]['findings']], found)

# Two runs pasted one after the other, no mail at all.
path = os.path.join(work, 'two-pasted.txt')
open(path, 'w', encoding='utf-8').write(reports['xtouch-mini'] + '\n' + reports['nano-good-scene'])
found = reading_of(path)
check('two runs pasted', [essence(report) for report in found] == [clean['xtouch-mini'], clean['nano-good-scene']],
      found)

# A month of a support desk in one mbox: three users' mails, three forms.
box_path = os.path.join(work, 'support.mbox')
box = mailbox.mbox(box_path)
users = [('nano-failing', 'Bo <bo@example.net>', 'quoted-printable'),
         ('busy-output', '=?utf-8?q?Zo=C3=AB?= <zoe@example.net>', 'attached'),
         ('accented', 'Cy <cy@example.net>', 'base64')]
for name, sender, form in users:
    message = dict((f, m) for f, m, _ in forms(reports[name]))[form]
    del message['From']
    message['From'] = sender
    box.add(message)
box.flush()
found = reading_of(box_path)
check('mbox', [essence(report) for report in found] == [clean[name] for name, _, _ in users],
      [essence(report) for report in found])
check('mbox', [(r['source']['mailNumber'], r['source']['sender']) for r in found] ==
      [(1, 'Bo <bo@example.net>'), (2, 'Zoë <zoe@example.net>'), (3, 'Cy <cy@example.net>')],
      [r['source'] for r in found])

if failures:
    print('\n'.join('FAIL: ' + failure for failure in failures))
    sys.exit(1)
print(f'ok: {len(reports)} reports, each in every form; a thread at two depths, two pastes, an mbox of three')
