// The page's pace in headless Chromium: a frame for every refresh of the
// display (sixty a second there), and how long each keeps the page's one
// thread busy (the canvas's data-frame-ms, the mean of the last sixty
// frames) and how long the synthesiser takes for its buffers. The figures
// go to the test's report; the machine's speed fails nothing here.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { Browser, serveSite, until } from './harness.mjs';

let server;
before(async () => {
  server = await serveSite();
});
after(async () => {
  await server?.close();
});

const measuredSeconds = 3;

test('level 1 runs a frame a refresh, and the page reports how busy each frame keeps it', async (t) => {
  const browser = await Browser.open();
  try {
    await browser.load(server.origin);
    await browser.page.keyboard.press('Space');
    await browser.page.keyboard.down('ArrowRight');
    await browser.waitForFrames((await browser.frames()) + 120);

    const reading = () =>
      browser.page.evaluate(() => ({
        frames: Number(document.getElementById('screen').dataset.frames),
        frameMs: Number(document.getElementById('screen').dataset.frameMs),
        at: performance.now(),
        soundMs: Module.zobraSound.busyMs,
        buffers: Module.zobraSound.buffers,
        blockFrames: Module.zobraSound.blockFrames,
      }));
    const first = await reading();
    await until('the measurement', async () => (await reading()).at - first.at >= measuredSeconds * 1000);
    const last = await reading();
    await browser.page.keyboard.up('ArrowRight');

    const seconds = (last.at - first.at) / 1000;
    const perSecond = (last.frames - first.frames) / seconds;
    const soundMs = (last.soundMs - first.soundMs) / Math.max(1, last.buffers - first.buffers);
    t.diagnostic(`frames a second: ${perSecond.toFixed(1)}`);
    t.diagnostic(`main thread busy per frame: ${last.frameMs.toFixed(3)} ms (mean of the last 60)`);
    t.diagnostic(`synthesiser per block of ${last.blockFrames} samples: ${soundMs.toFixed(3)} ms`);
    assert.ok(last.frameMs > 0, 'the page reports its frame time');
    assert.ok(perSecond <= 62, `${perSecond} frames a second: never more than the display refreshes`);
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});
