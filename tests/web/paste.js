// node paste.js PAGE TEXT_FILE PROFILE_DIR
// OPEN_FILE=1 node paste.js PAGE FILE PROFILE_DIR
//
// With OPEN_FILE=1 the file is not pasted but opened through the page's
// file box, as a user opens a saved mail (DOM.setFileInputFiles), and the
// page reads its bytes.
//
// Opens PAGE in headless Chromium, pastes the text of TEXT_FILE into its
// text box as a user's paste reaches the page (a paste event carrying the
// text, then, where the page lets the browser insert it, the text inserted
// at the caret, which fires the input event), waits until the page has read
// it (its worker answers), and prints the findings the page then shows, one
// "- FINDING" line each, or the page's own words when the text was too
// large for it. On standard error: "findings after N ms", from the
// paste to the findings shown, and "longest stall N ms", the longest the
// page's own thread was busy meanwhile (a frozen page stalls for as long as
// it is frozen).
//
// Chromium is driven over its DevTools protocol on a pipe
// (--remote-debugging-pipe: JSON messages, each ended by a zero byte, on
// file descriptors 3 and 4), so no network port and no library is needed.
'use strict';
const { spawn } = require('child_process');
const fs = require('fs');
const path = require('path');

const [page, textFile, profile] = process.argv.slice(2);
const text = fs.readFileSync(textFile, 'utf8');

const browser = spawn('chromium', ['--headless', '--no-sandbox', '--disable-gpu', '--no-first-run',
  `--user-data-dir=${profile}`, '--remote-debugging-pipe', 'about:blank'],
{ stdio: ['ignore', 'ignore', 'ignore', 'pipe', 'pipe'] });
const toBrowser = browser.stdio[3];
const fromBrowser = browser.stdio[4];

let nextId = 0;
const waiting = new Map();
let pending = Buffer.alloc(0);
fromBrowser.on('data', (chunk) => {
  pending = Buffer.concat([pending, chunk]);
  for (let end = pending.indexOf(0); end >= 0; end = pending.indexOf(0)) {
    const message = JSON.parse(pending.subarray(0, end).toString('utf8'));
    pending = pending.subarray(end + 1);
    const reply = waiting.get(message.id);
    if (reply) {
      waiting.delete(message.id);
      reply(message);
    }
  }
});

function send(method, params = {}, sessionId = undefined) {
  return new Promise((resolve, reject) => {
    const message = { id: ++nextId, method, params };
    if (sessionId) message.sessionId = sessionId;
    waiting.set(message.id, (reply) => (reply.error ? reject(new Error(`${method}: ${reply.error.message}`))
      : resolve(reply.result)));
    toBrowser.write(`${JSON.stringify(message)}\0`);
  });
}

async function evaluate(sessionId, expression) {
  const { result, exceptionDetails } = await send('Runtime.evaluate', { expression, returnByValue: true }, sessionId);
  if (exceptionDetails) throw new Error(`${expression}: ${exceptionDetails.text}`);
  return result.value;
}

async function main() {
  const { targetId } = await send('Target.createTarget', { url: `file://${path.resolve(page)}` });
  const { sessionId } = await send('Target.attachToTarget', { targetId, flatten: true });
  // Until the page has loaded and its reader is there.
  for (let tries = 0; ; ++tries) {
    const ready = await evaluate(sessionId,
      "document.readyState === 'complete' && window.portprobeReaderReady === true");
    if (ready) break;
    if (tries === 300) throw new Error('the page did not load');
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  await evaluate(sessionId, "document.getElementById('pasted').focus()");
  // The text is handed to the page before the clock starts: the protocol's
  // own transfer of twenty megabytes takes seconds.
  // PASTE_REPEAT pastes the text that many times over (made in the page, so
  // that a text larger than the page takes need not cross the protocol).
  const repeat = Number(process.env.PASTE_REPEAT || 1);
  await evaluate(sessionId, `window.pastedText = ${JSON.stringify(text)}.repeat(${repeat}); 0`);
  // The page's thread is watched from inside: a timer that should tick every
  // 10 ms notes the longest gap between its ticks.
  await evaluate(sessionId, `window.longestStall = 0; (function () {
      var last = performance.now();
      window.stallWatch = setInterval(function () {
        var now = performance.now();
        window.longestStall = Math.max(window.longestStall, now - last - 10);
        last = now;
      }, 10);
    })()`);
  const started = Date.now();
  if (process.env.OPEN_FILE === '1') {
    const { root } = await send('DOM.getDocument', {}, sessionId);
    const { nodeId } = await send('DOM.querySelector', { nodeId: root.nodeId, selector: '#open' }, sessionId);
    await send('DOM.setFileInputFiles', { files: [path.resolve(textFile)], nodeId }, sessionId);
  }
  const inserted = process.env.OPEN_FILE === '1' || await evaluate(sessionId, `(function () {
      var data = new DataTransfer();
      data.setData('text/plain', window.pastedText);
      var paste = new ClipboardEvent('paste', {clipboardData: data, bubbles: true, cancelable: true});
      return !document.getElementById('pasted').dispatchEvent(paste);
    })()`);
  // A synthetic paste inserts nothing by itself: where the page did not take
  // the text, the browser's editing inserts it, as a real paste would.
  if (!inserted) await send('Input.insertText', { text }, sessionId);
  let state = '';
  for (;;) {
    state = await evaluate(sessionId, "document.getElementById('reading').dataset.state || ''");
    if (state === 'done' || state === 'too-large') break;
    if (Date.now() - started > 200000) throw new Error(`the page did not read the text (state '${state}')`);
    await new Promise((resolve) => setTimeout(resolve, 5));
  }
  const elapsed = Date.now() - started;
  const stall = await evaluate(sessionId, 'Math.round(window.longestStall)');
  process.stderr.write(`findings after ${elapsed} ms\nlongest stall ${stall} ms\n`);
  if (state === 'too-large') {
    process.stdout.write(`${await evaluate(sessionId, "document.getElementById('status').textContent")}\n`);
  }
  const shown = await evaluate(sessionId,
    "Array.from(document.querySelectorAll('#findings > li')).map((item) => item.textContent)");
  for (const finding of shown) process.stdout.write(`- ${finding}\n`);
  await send('Browser.close').catch(() => {});
}

main().then(() => process.exit(0), (error) => {
  process.stderr.write(`paste.js: ${error.message}\n`);
  browser.kill();
  process.exit(1);
});
