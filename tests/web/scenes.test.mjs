// Every scene of the screenshot script, played by the rules compiled for the
// browser and drawn there, is the desktop's picture to the pixel: the same
// levels, the same computer play, the same blasts and the same drawing,
// whichever C library and compiler target the arithmetic ran on.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { Browser, assertSameAsDesktop, desktopShotStems, serveSite } from './harness.mjs';

let server;
before(async () => {
  server = await serveSite();
});
after(async () => {
  await server?.close();
});

test('every screenshot scene looks the same in the browser as on the desktop', async () => {
  const stems = await desktopShotStems();
  assert.equal(stems.length, 18);
  const browser = await Browser.open();
  try {
    for (const stem of stems) {
      await browser.load(server.origin, `?scene=${stem}`);
      await assertSameAsDesktop(await browser.readCanvas(), stem);
    }
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});

test('an address asking for an unknown scene gets an error, no picture and a notice naming the scenes', async () => {
  const browser = await Browser.open();
  try {
    await browser.page.goto(`${server.origin}/?scene=99-nothing`);
    await browser.waitForProblem();
    assert.deepEqual(browser.problems, [
      'console error: there is no screenshot scene named "99-nothing"',
    ]);
    const frames = await browser.page.evaluate(() => document.getElementById('screen').dataset.frames);
    assert.equal(frames, undefined);
    // The page says so in words, naming every scene there is.
    const notice = await browser.page.evaluate(() => {
      const panel = document.getElementById('notice');
      return panel.hidden ? null : panel.textContent;
    });
    assert.ok(notice, 'a notice is shown');
    assert.match(notice, /„99-nothing“ gibt es nicht/);
    const named = notice.match(/Es gibt die Szenen ([^(]*) \(/)?.[1].split(', ');
    assert.deepEqual(named, await desktopShotStems());
    assert.match(notice, /Ohne \?scene= in der Adresse beginnt das Spiel/);
  } finally {
    await browser.close();
  }
});
