// An internal error in the browser: the game's crash report shows over the
// page and on the console, as the desktop shows it in an error box, and the
// game stops. A page whose canvas the game cannot reach is such an error:
// the game cannot be played on it.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { Browser, serveSite } from './harness.mjs';

let server;
before(async () => {
  server = await serveSite();
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
