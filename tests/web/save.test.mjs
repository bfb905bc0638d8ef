// The save in the browser: the desktop's save text under "zobra.save" in
// the page's local storage, read again when the page is loaded again, and
// the same care with values that cannot be read or storage that refuses.
// The browser's clock is held, so that the title stands still and its
// pictures can be held against the desktop's.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import {
  Browser,
  assertSameAsDesktop,
  desktopShot,
  differingRows,
  frameMs,
  serveSite,
  shrink,
  until,
} from './harness.mjs';

// The desktop's save text for a new player who has only turned the music
// off: the one line its save file would hold.
const musicOff =
  '{"solved":0,"best":[],"music_off":true,"mode":"Solo","difficulty":"Normal","slot":0,"name":"","others":[],"all_open":false}';
const musicOn = musicOff.replace('"music_off":true', '"music_off":false');

let server;
before(async () => {
  server = await serveSite();
});
after(async () => {
  await server?.close();
});

const stored = (browser, key) => browser.page.evaluate((k) => localStorage.getItem(k), key);

async function press(browser, key) {
  await browser.page.keyboard.press(key);
  await browser.advance(frameMs);
}

// The rows in which the page's title differs from the desktop's new title.
async function rowsChangedOnTitle(browser) {
  return differingRows(await browser.readCanvas(), shrink(await desktopShot('00-title'), 3));
}

// Rows wholly within [first, last].
const within = (rows, first, last) => rows.length > 0 && rows.every((y) => y >= first && y <= last);

test('music turned off with M is saved as the desktop saves it and is still off after a reload', async () => {
  const browser = await Browser.open();
  try {
    await browser.loadOnHeldClock(server.origin);
    assert.equal(await stored(browser, 'zobra.save'), null, 'a new page has saved nothing');
    await press(browser, 'KeyM');
    assert.equal(await stored(browser, 'zobra.save'), musicOff);

    // The title's key line now reads "M: MUSIK AUS": only that line differs
    // from the desktop's title, whose line reads "M: MUSIK AN".
    const changed = await rowsChangedOnTitle(browser);
    assert.ok(within(changed, changed[0], changed[0] + 7), `rows ${changed} are one line of text`);

    await browser.reloadOnHeldClock();
    assert.deepEqual(await rowsChangedOnTitle(browser), changed, 'the reloaded title reads AUS');

    await press(browser, 'KeyM');
    assert.equal(await stored(browser, 'zobra.save'), musicOn);
    await assertSameAsDesktop(await browser.readCanvas(), '00-title');
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});

test('a save that cannot be read starts over and is kept aside before the first save', async () => {
  const browser = await Browser.open();
  try {
    await browser.loadOnHeldClock(server.origin);
    const broken = '{"solved":3,"best":[1,2,3]';
    await browser.page.evaluate((text) => localStorage.setItem('zobra.save', text), broken);
    await browser.reloadOnHeldClock();
    await browser.waitForProblem();
    // The title says at its foot that the progress started over; the rest
    // is the desktop's new title.
    const notice = await rowsChangedOnTitle(browser);
    assert.ok(within(notice, 185, 199), `rows ${notice} are the foot of the title`);
    assert.equal(browser.problems.length, 1);
    assert.match(browser.problems[0], /^console error: save could not be read \(.+\): starting over$/);
    assert.equal(await stored(browser, 'zobra.save'), broken, 'nothing is written before a save');

    await press(browser, 'KeyM');
    assert.equal(await stored(browser, 'zobra.save.broken'), broken);
    assert.equal(await stored(browser, 'zobra.save'), musicOff);
    assert.deepEqual(browser.problems.slice(1), [
      'console error: kept the save that could not be read: moved zobra.save to zobra.save.broken',
    ]);

    // Only the first save keeps the old value; later ones leave it.
    await press(browser, 'KeyM');
    assert.equal(await stored(browser, 'zobra.save.broken'), broken);
    assert.equal(await stored(browser, 'zobra.save'), musicOn);
    assert.equal(browser.problems.length, 2);
  } finally {
    await browser.close();
  }
});

test('a storage that refuses the save shows SPEICHERN GEHT NICHT until a save gets through', async () => {
  const browser = await Browser.open();
  try {
    await browser.page.addInitScript(() => {
      const setItem = Storage.prototype.setItem;
      window.refuseSaves = true;
      Storage.prototype.setItem = function (key, value) {
        if (window.refuseSaves) throw new DOMException('the storage is full', 'QuotaExceededError');
        return setItem.call(this, key, value);
      };
    });
    await browser.loadOnHeldClock(server.origin);
    await press(browser, 'KeyM');
    await press(browser, 'KeyM');
    assert.deepEqual(browser.problems, [
      'console error: could not save: zobra.save: QuotaExceededError: the storage is full',
      'console error: could not save: zobra.save: QuotaExceededError: the storage is full',
    ]);
    assert.equal(await stored(browser, 'zobra.save'), null);

    // The music is on again, so only the warning at the foot of the title
    // differs from the desktop's title.
    const warning = await rowsChangedOnTitle(browser);
    assert.ok(within(warning, 185, 199), `rows ${warning} are the foot of the title`);

    // Once a save gets through, the warning is gone; the music is off now.
    await browser.page.evaluate(() => {
      window.refuseSaves = false;
    });
    await press(browser, 'KeyM');
    assert.equal(await stored(browser, 'zobra.save'), musicOff);
    const music = await rowsChangedOnTitle(browser);
    assert.ok(within(music, music[0], music[0] + 7) && music[0] < 185, `rows ${music}: the M line alone`);
    assert.equal(browser.problems.length, 2);
  } finally {
    await browser.close();
  }
});

test('a second page of the game on the same storage plays on without saving', async () => {
  const browser = await Browser.open();
  let second;
  try {
    await browser.load(server.origin);
    second = await browser.context.newPage();
    const problems = [];
    second.on('console', (message) => {
      if (message.type() === 'error') problems.push(message.text());
    });
    await second.goto(server.origin);
    await second.waitForFunction(() => Number(document.getElementById('screen').dataset.frames) > 0);
    await until('the second page finding the save taken', () => problems.length > 0);
    await second.keyboard.press('KeyM');
    const pressedAt = await second.evaluate(() => Number(document.getElementById('screen').dataset.frames));
    await second.waitForFunction(
      (frame) => Number(document.getElementById('screen').dataset.frames) > frame + 2,
      pressedAt,
    );
    assert.deepEqual(problems, [
      'another copy of the game holds the save zobra.save: this copy plays on without saving',
    ]);
    assert.equal(await stored(browser, 'zobra.save'), null, 'the second page saved nothing');

    // The first page, which holds the save, saves as ever.
    await browser.page.keyboard.press('KeyM');
    await browser.page.waitForFunction(() => localStorage.getItem('zobra.save') !== null);
    assert.equal(await stored(browser, 'zobra.save'), musicOff);
    browser.checkNoProblems();
  } finally {
    await second?.close();
    await browser.close();
  }
});
