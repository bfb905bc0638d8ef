// Replays in the browser. The rules compiled for the browser play every
// golden replay to exactly the hashes the desktop plays it to (the replay
// program built for Node, build-web/replay_hashes.js); the page shows a
// replay its address names, or one dropped on it, and says at the end that
// it matched; a replay that cannot be shown gets a notice; Esc leaves a
// replay for the player's own game on the title.

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { readFile, readdir } from 'node:fs/promises';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { Browser, canvasHeight, canvasWidth, patience, repo, serveSite, siteDir } from './harness.mjs';

const goldenDir = join(repo, 'tests', 'golden', 'replays');
const replayProgram = join(siteDir, '..', 'replay_hashes.js');
// The replay shown in the browser: a hard level, won in under ten seconds.
const shown = 'level31-hard.zrp';
// The colour of the game's gold text, which the line along the bottom of a
// replay is drawn in while everything agreed.
const gold = [0xfa, 0xcc, 0x30];

let server;
let shownBytes;
let tampered;
before(async () => {
  shownBytes = await readFile(join(goldenDir, shown));
  // The same replay with another end hash: the last tick disagrees.
  tampered = Buffer.from(shownBytes);
  tampered[tampered.length - 1] ^= 0x5a;
  server = await serveSite(undefined, {
    [`replays/${shown}`]: shownBytes,
    'replays/tampered.zrp': tampered,
    'replays/not-a-replay.zrp': Buffer.from('no replay in here\n'),
  });
});
after(async () => {
  await server?.close();
});

// The stored lines by file name, without the comment.
async function goldenLines() {
  const text = await readFile(join(repo, 'tests', 'golden', 'replays.txt'), 'utf8');
  const lines = new Map();
  for (const line of text.split('\n')) {
    if (line === '' || line.startsWith('#')) continue;
    lines.set(line.slice(0, line.indexOf(' ')), line);
  }
  return lines;
}

// The pixels of the bottom text line that are the gold colour.
function goldAlongTheBottom(picture) {
  let count = 0;
  for (let y = canvasHeight - 12; y < canvasHeight; ++y)
    for (let x = 0; x < canvasWidth; ++x) {
      const i = (y * canvasWidth + x) * 4;
      if (gold.every((value, c) => picture.data[i + c] === value)) ++count;
    }
  return count;
}

test('the browser build plays every golden replay to the desktop\'s hashes', async (t) => {
  const files = (await readdir(goldenDir)).filter((name) => name.endsWith('.zrp')).sort();
  assert.ok(files.length > 0);
  const run = spawnSync(process.execPath, [replayProgram, ...files.map((f) => join(goldenDir, f))], {
    encoding: 'utf8',
    timeout: patience,
    maxBuffer: 64 << 20,
  });
  assert.equal(run.status, 0, `${replayProgram} failed (${run.error ?? run.signal ?? ''}):\n${run.stderr}`);
  const got = run.stdout.trimEnd().split('\n');
  const stored = await goldenLines();
  assert.deepEqual([...stored.keys()].sort(), files, 'replays.txt names every file');
  assert.equal(got.length, files.length);
  let ticks = 0;
  got.forEach((line, i) => {
    const name = line.slice(0, line.indexOf(' '));
    assert.equal(name, files[i]);
    assert.equal(line, stored.get(name), `${name} plays to other hashes in the browser build`);
    ticks += Number(line.split(' ')[1]);
  });
  t.diagnostic(`${got.length} replays, ${ticks} ticks: every hash equal to the desktop's`);
});

test('?replay= shows a golden replay to its end, which says that it matched', async () => {
  const browser = await Browser.open();
  try {
    await browser.load(server.origin, `?replay=replays/${shown}`);
    const ticks = Number((await goldenLines()).get(shown).split(' ')[1]);
    assert.deepEqual(await browser.replayToEnd(), { word: 'matched', tick: ticks });
    await browser.waitForFrames((await browser.frames()) + 2);
    const matchedGold = goldAlongTheBottom(await browser.readCanvas());
    assert.ok(matchedGold > 100, `the bottom line is gold (${matchedGold} pixels)`);
    browser.checkNoProblems();

    // A replay whose end does not agree says so in another colour.
    await browser.load(server.origin, '?replay=replays/tampered.zrp');
    assert.deepEqual(await browser.replayToEnd(), { word: 'differs', tick: ticks });
    await browser.waitForFrames((await browser.frames()) + 2);
    assert.ok(goldAlongTheBottom(await browser.readCanvas()) < matchedGold / 4);
    browser.checkNoProblems();

    // Esc leaves the replay: the page loads again without it, on the title.
    await browser.page.keyboard.press('Escape');
    await browser.page.waitForURL(`${server.origin}/`, { timeout: patience });
    await browser.waitForFrames(1);
    assert.equal(await browser.replayState(), null);
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});

test('a replay dropped on the page is shown; a file that is none leaves it as it was', async () => {
  const browser = await Browser.open();
  try {
    await browser.load(server.origin);
    const drop = (bytes, name) =>
      browser.page.evaluate(
        ([data, fileName]) => {
          const transfer = new DataTransfer();
          transfer.items.add(new File([Uint8Array.from(atob(data), (c) => c.charCodeAt(0))], fileName));
          const event = new DragEvent('drop', { dataTransfer: transfer, bubbles: true, cancelable: true });
          document.getElementById('screen').dispatchEvent(event);
          return event.defaultPrevented;
        },
        [bytes.toString('base64'), name],
      );

    assert.equal(await drop(shownBytes, shown), true);
    await browser.page.waitForFunction(() => document.getElementById('screen').dataset.replay, null, {
      timeout: patience,
    });
    const ticks = Number((await goldenLines()).get(shown).split(' ')[1]);
    assert.deepEqual(await browser.replayToEnd(), { word: 'matched', tick: ticks });
    browser.checkNoProblems();

    assert.equal(await drop(Buffer.from('hello'), 'hello.txt'), true, 'the browser does not open the file');
    await browser.waitForProblem();
    assert.deepEqual(browser.problems, ['console error: replay hello.txt is not a replay']);
    const notice = await browser.page.evaluate(() => document.getElementById('notice').textContent);
    assert.match(notice, /This replay cannot be shown: replay hello\.txt is not a replay\./);
    // The replay shown stays as it was.
    assert.deepEqual(await browser.replayState(), { word: 'matched', tick: ticks });
    await browser.page.click('#notice');
    assert.equal(await browser.page.evaluate(() => document.getElementById('notice').hidden), true);
  } finally {
    await browser.close();
  }
});

test('a replay the address names that cannot be shown gets an error and a notice, no game', async () => {
  const cases = [
    ['replays/missing.zrp', 'replay replays/missing.zrp could not be fetched (HTTP 404)'],
    ['replays/not-a-replay.zrp', 'replay replays/not-a-replay.zrp is not a replay'],
  ];
  for (const [url, message] of cases) {
    const browser = await Browser.open();
    try {
      await browser.page.goto(`${server.origin}/?replay=${url}`);
      await browser.page.waitForFunction(() => !document.getElementById('notice').hidden, null, {
        timeout: patience,
      });
      await browser.page.waitForFunction(() => Module.calledRun, null, { timeout: patience });
      assert.ok(browser.problems.includes(`console error: ${message}`), browser.problems.join(' | '));
      const notice = await browser.page.evaluate(() => document.getElementById('notice').textContent);
      assert.match(notice, /Diese Wiederholung lässt sich nicht zeigen/);
      assert.ok(notice.includes(`This replay cannot be shown: ${message}.`), notice);
      assert.match(notice, /Ohne \?replay= in der Adresse beginnt das Spiel/);
      const frames = await browser.page.evaluate(() => document.getElementById('screen').dataset.frames);
      assert.equal(frames, undefined);
    } finally {
      await browser.close();
    }
  }
});
