// The page's sound: it starts with the player's first key, as browsers
// demand, and plays the synthesiser's samples, the music as the title's M
// sets it and the effects of play whether or not the music is on. The
// page's Module.zobraSound counts the frames played and the loudest sample
// of the last block played, and keeps the first samples played when asked.
// The samples that reach the output, through the AudioWorklet and through
// the script processor that browsers without one get, are the tune as the
// desktop's synthesiser plays it (tests/golden/synth.txt).

import assert from 'node:assert/strict';
import { readFile } from 'node:fs/promises';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { Browser, repo, serveSite } from './harness.mjs';

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
    return state && { running: state.context.state, rate: state.context.sampleRate, frames: state.frames, peak: state.peak, path: state.path };
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
    assert.equal(started.path, 'worklet');
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

// The stored stretch of the whole tune: its length in the synthesiser's own
// ticks (22050 a second) and 256 of its samples evenly spaced, each as
// sample × 127.
async function storedTune() {
  const text = await readFile(join(repo, 'tests', 'golden', 'synth.txt'), 'utf8');
  const [, length, , points] = text.split('\n').find((line) => line.startsWith('tune ')).split(' ');
  const ticks = Number(length);
  return Array.from({ length: 256 }, (_, k) => ({
    tick: Math.floor((k * ticks) / 256),
    value: ((Number.parseInt(points.slice(2 * k, 2 * k + 2), 16) + 128) % 256) - 128,
  }));
}

// The synthesiser's ticks behind samples played at `rate`: the device holds
// each tick until the next falls due, with the synthesiser's own
// single-precision steps. Fails where samples held from one tick differ.
function ticksOf(samples, rate) {
  const f = Math.fround;
  const ratio = f(22050 / rate);
  let hold = 0;
  let tick = -1;
  const ticks = [];
  for (let i = 0; i < samples.length; ++i) {
    hold = f(hold - ratio);
    while (hold <= 0) {
      hold = f(hold + 1);
      ++tick;
    }
    const value = samples[i] * 127 || 0; // no -0 for a silent sample
    assert.ok(Math.abs(value - Math.round(value)) < 1e-3, `sample ${i} is ${samples[i]}, not n/127`);
    if (ticks.length === tick) ticks.push(Math.round(value));
    else assert.equal(Math.round(value), ticks[tick], `sample ${i} changes within tick ${tick}`);
  }
  return ticks;
}

for (const path of ['worklet', 'script-processor']) {
  test(`the samples played through the ${path} are the tune as the desktop plays it`, async (t) => {
    const browser = await Browser.open();
    try {
      if (path === 'script-processor')
        await browser.page.addInitScript(() => {
          delete window.AudioWorkletNode;
        });
      await browser.load(server.origin);
      // Two seconds from the first sample on, with the music on and no
      // effect: the title's tune from its beginning.
      await browser.page.evaluate(() => {
        Module.zobraSoundRecord = 96000;
      });
      await browser.page.keyboard.press('KeyX');
      await soundUntil(browser, () => Module.zobraSound?.recorded);
      const { used, rate, recorded, misses } = await browser.page.evaluate(() => ({
        used: Module.zobraSound.path,
        rate: Module.zobraSound.context.sampleRate,
        recorded: Array.from(Module.zobraSound.recorded),
        misses: Module.zobraSound.misses,
      }));
      assert.equal(used, path);
      assert.equal(recorded.length, 96000);
      t.diagnostic(`${rate} Hz; 128-sample quanta the worklet had to leave silent: ${misses}`);

      const ticks = ticksOf(recorded, rate);
      const points = (await storedTune()).filter(({ tick }) => tick < ticks.length);
      assert.ok(points.length >= 15, `only ${points.length} stored samples within the recording`);
      assert.deepEqual(
        points.map(({ tick }) => ({ tick, value: ticks[tick] })),
        points,
      );
      assert.ok(points.some(({ value }) => value !== 0), 'the tune is heard');
      browser.checkNoProblems();
    } finally {
      await browser.close();
    }
  });
}
