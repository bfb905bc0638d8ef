// Playing on the page with the keyboard: the same title, the same first
// level and the same charge as on the desktop. The browser's clock is held,
// so that the pictures are those of known moments of the game; what they
// should show comes from the desktop's screenshot scenes and sprite sheet.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import {
  Browser,
  assertSameAsDesktop,
  cut,
  desktopShot,
  desktopSprite,
  findPicture,
  frameMs,
  samePicture,
  serveSite,
  shrink,
  tile,
} from './harness.mjs';

let server;
before(async () => {
  server = await serveSite();
});
after(async () => {
  await server?.close();
});

// Where the first digger stands when level 1 starts: the one place of the
// desktop's 01-start that shows the sheet's digger, facing down over floor.
async function startingCell() {
  const start = shrink(await desktopShot('01-start'), 3);
  const places = findPicture(start, await desktopSprite('digger'));
  assert.equal(places.length, 1, 'the digger shows once at the start of level 1');
  const [place] = places;
  return { ...place, floor: cut(start, place.x + tile, place.y) };
}

test('Space starts level 1 as on the desktop, and a charge lit there burns where the digger stood', async () => {
  const browser = await Browser.open();
  try {
    await browser.loadOnHeldClock(server.origin);
    await assertSameAsDesktop(await browser.readCanvas(), '00-title');

    await browser.page.keyboard.press('Space');
    await browser.advance(frameMs);
    await assertSameAsDesktop(await browser.readCanvas(), '01-start');

    // Space lights a charge at the next step; then the digger walks right,
    // and the cell it left shows the burning fuse (its spark flickers, so
    // the sheet's picture of it shows in every other moment).
    const cell = await startingCell();
    const fuse = await desktopSprite('fuse');
    await browser.page.keyboard.press('Space');
    await browser.advance(4 * frameMs);
    await browser.page.keyboard.down('ArrowRight');
    await browser.advanceUntil('the fuse burning where the digger stood', (shown) =>
      samePicture(cut(shown, cell.x, cell.y), fuse),
    );
    await browser.page.keyboard.up('ArrowRight');
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});

test('Esc leaves play for the title, and on the title the page stays as it is', async () => {
  const browser = await Browser.open();
  const log = [];
  browser.page.on('console', (message) => log.push(message.text()));
  try {
    await browser.loadOnHeldClock(server.origin);
    await browser.page.keyboard.press('Enter');
    await browser.advance(frameMs);
    await assertSameAsDesktop(await browser.readCanvas(), '01-start');

    // Esc goes back to the title; a second Esc would end the desktop game,
    // but a page cannot close itself: it goes on showing the title. (Less
    // than a twelfth of a second has passed in all, so nothing on the
    // title has moved yet.)
    await browser.page.keyboard.press('Escape');
    await browser.advance(frameMs);
    await assertSameAsDesktop(await browser.readCanvas(), '00-title');
    await browser.page.keyboard.press('Escape');
    const before = await browser.frames();
    await browser.advance(frameMs);
    assert.ok((await browser.frames()) > before, 'the page goes on drawing');
    await assertSameAsDesktop(await browser.readCanvas(), '00-title');
    assert.equal(
      log.filter((line) => line.startsWith('start: Esc on the title')).length,
      1,
      'the console says once why the page stays',
    );
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});
