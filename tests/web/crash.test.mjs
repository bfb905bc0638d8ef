// An internal error in the browser: the game's crash report shows over the
// page and on the console, as the desktop shows it in an error box, and the
// game stops. A page whose canvas the game cannot reach is such an error:
// the game cannot be played on it. A crash during a match offers the
// report with the replay of the match so far to download, which the page
// and the desktop game both show again.

import assert from 'node:assert/strict';
import { spawnSync } from 'node:child_process';
import { mkdtemp, rm, writeFile } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { Browser, desktopExe, patience, serveSite } from './harness.mjs';

// What the test downloaded from the crash panel, served to the page again.
const served = {};
let server;
before(async () => {
  server = await serveSite(undefined, served);
});
after(async () => {
  await server?.close();
});

test('a page whose canvas the game cannot reach shows the crash report and draws nothing', async () => {
  const browser = await Browser.open();
  try {
    // The canvas is renamed the moment it is made, before any script of
    // the page sees it.
    await browser.page.addInitScript(() => {
      new MutationObserver((changes, observer) => {
        const canvas = document.getElementById('screen');
        if (!canvas) return;
        canvas.id = 'somewhere-else';
        observer.disconnect();
      }).observe(document, { childList: true, subtree: true });
    });
    await browser.page.goto(server.origin);
    await browser.page.waitForFunction(() => !document.getElementById('crash').hidden, null, {
      timeout: 120_000,
    });
    const shown = await browser.page.evaluate(() => document.getElementById('crash').textContent);
    assert.match(
      shown,
      /^Zobra \d+\.\d+\.\d+ konnte nicht weiterlaufen\.\n\npanicked at src\/web\/app\.cpp:\d+:\d+:\nthe page can be played on: the page has no canvas #screen\n\nSystem: web wasm32$/,
    );
    assert.ok(
      browser.problems.includes(`console error: ${shown}`),
      `the console has the report too: ${browser.problems.join(' | ')}`,
    );
    const frames = await browser.page.evaluate(() => document.getElementById('somewhere-else').dataset.frames);
    assert.equal(frames, undefined);
  } finally {
    await browser.close();
  }
});

test('a crash during a match offers its replay, which the page and the desktop play to the crash', async () => {
  const crashTick = 30;
  const browser = await Browser.open();
  const folder = await mkdtemp(join(tmpdir(), 'zobra-web-crash-'));
  try {
    await browser.load(server.origin, `?crash-tick=${crashTick}`);
    await browser.page.keyboard.press('Space');
    await browser.page.waitForFunction(() => document.querySelector('#crash a') !== null, null, {
      timeout: patience,
    });
    const { report, download, text } = await browser.page.evaluate(async () => {
      const link = document.querySelector('#crash a');
      const panel = document.getElementById('crash').firstChild.textContent;
      return { report: panel, download: link.download, text: await (await fetch(link.href)).text() };
    });
    assert.equal(download, 'zobra-crash.txt');
    assert.match(report, /panicked at src\/web\/app\.cpp:\d+:\d+:\na crash was asked for at tick 30\n/);
    assert.ok(browser.problems.includes(`console error: ${report}`), browser.problems.join(' | '));
    // The desktop's crash report file: the report, a blank line, the replay.
    assert.ok(text.startsWith(`${report}\n\n-----BEGIN ZOBRA REPLAY-----\n`), text);
    assert.ok(text.endsWith('-----END ZOBRA REPLAY-----\n'), text);

    // The desktop game plays it to the crash and agrees all the way.
    const file = join(folder, 'zobra-crash.txt');
    await writeFile(file, text);
    const check = spawnSync(desktopExe, [], {
      env: { PATH: process.env.PATH, HOME: folder, ZOBRA_REPLAY_CHECK: file },
      encoding: 'utf8',
      timeout: patience,
    });
    assert.equal(check.status, 0, check.stderr);
    // At the first frame that reached the tick (a slow frame may run two).
    const stopped = Number(check.stdout.match(/the game stopped at tick (\d+)\n/)?.[1]);
    assert.ok(stopped >= crashTick && stopped <= crashTick + 1, check.stdout);

    // So does the page, from its address.
    served['zobra-crash.txt'] = Buffer.from(text);
    const again = await Browser.open();
    try {
      await again.load(server.origin, '?replay=zobra-crash.txt');
      assert.deepEqual(await again.replayToEnd(), { word: 'crashed', tick: stopped });
      again.checkNoProblems();
    } finally {
      await again.close();
    }
  } finally {
    await browser.close();
    await rm(folder, { recursive: true, force: true });
  }
});
