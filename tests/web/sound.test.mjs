// The page's sound: it starts with the player's first key, as browsers
// demand, and plays the synthesiser's samples, the music as the title's M
// sets it and the effects of play whether or not the music is on. The
// page's Module.zobraSound counts the frames played and the loudest sample
// of the last buffer the browser asked for.

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

const sound = (browser) =>
  browser.page.evaluate(() => {
    const state = Module.zobraSound;
    return state && { running: state.context.state, rate: state.context.sampleRate, frames: state.frames, peak: state.peak };
  });

// Waits until the page's sound is in a state `check` accepts.
async function soundUntil(browser, check) {
  await browser.page.waitForFunction(check, null, { timeout: 120_000, polling: 20 });
}

test('the sound starts with the first key and plays the music as M sets it and the effects always', async () => {
  const browser = await Browser.open();
  const log = [];
  browser.page.on('console', (message) => log.push(message.text()));
  try {
    await browser.load(server.origin);
    await browser.waitForFrames(30);
    assert.equal(await sound(browser), undefined, 'no sound before the player did anything');

    // The first key (one the game does nothing with) starts the sound, and
    // the title's music plays.
    await browser.page.keyboard.press('KeyX');
    await soundUntil(browser, () => Module.zobraSound?.frames > 0 && Module.zobraSound.peak > 0);
    const started = await sound(browser);
    assert.equal(started.running, 'running');
    assert.ok(started.rate >= 8000, `a sample rate of ${started.rate} Hz`);
    assert.ok(log.includes('start: sound running'));

    // M turns the music off: it fades to silence. M again brings it back.
    await browser.page.keyboard.press('KeyM');
    await soundUntil(browser, () => Module.zobraSound.peak === 0);
    await browser.page.keyboard.press('KeyM');
    await soundUntil(browser, () => Module.zobraSound.peak > 0);

    // With the music off, lighting a charge still hisses.
    await browser.page.keyboard.press('KeyM');
    await soundUntil(browser, () => Module.zobraSound.peak === 0);
    await browser.page.keyboard.press('Enter');
    await browser.waitForFrames((await browser.frames()) + 5);
    await browser.page.keyboard.press('Space');
    await soundUntil(browser, () => Module.zobraSound.peak > 0);
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});
