// node flowed.js < TEXT > FLOWED
//
// The text as a format=flowed mail body (RFC 3676), written by libmime, the
// MIME library of nodemailer: lines longer than 76 columns broken after a
// blank kept at the line's end, lines that begin with a blank, ">" or
// "From " space-stuffed, and blanks that end a paragraph's line taken off,
// as Thunderbird and Apple Mail send them.
'use strict';
const libmime = require('libmime');
const text = require('fs').readFileSync(0, 'utf8');
process.stdout.write(libmime.encodeFlowed(text));
