// Playing on a touch screen: a tap confirms, a swipe walks, a second finger
// lights a charge, and a swipe is 14 CSS pixels on any screen. Touches are
// sent as the browser's own touch events; the clock is held, so that the
// pictures are those of known moments of the game.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import {
  Browser,
  Fingers,
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

test('a tap starts level 1, a second finger lights a charge and a swipe walks away from it', async () => {
  const browser = await Browser.open({ hasTouch: true });
  try {
    await browser.loadOnHeldClock(server.origin);
    const fingers = await Fingers.on(browser);
    await fingers.tap(480, 300);
    await browser.advance(frameMs);
    await assertSameAsDesktop(await browser.readCanvas(), '01-start');

    const start = shrink(await desktopShot('01-start'), 3);
    const [cell] = findPicture(start, await desktopSprite('digger'));
    const floor = cut(start, cell.x + tile, cell.y);
    const fuse = await desktopSprite('fuse');

    // One finger rests; a second one landing lights a charge at the next
    // step. Then the first finger, the one that steers, swipes right and
    // stays: the digger walks right, off the charge, which burns on in the
    // cell it left.
    await fingers.land(1, 300, 300);
    await fingers.land(2, 600, 300);
    await browser.advance(4 * frameMs);
    await fingers.move(1, 350, 300);
    await browser.advanceUntil('the fuse burning where the digger stood', (shown) =>
      samePicture(cut(shown, cell.x, cell.y), fuse),
    );
    assert.ok(!samePicture(cut(await browser.readCanvas(), cell.x + tile, cell.y), floor),
      'the digger stands in the next cell');
    await fingers.lift();
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});

test('on a screen of two pixels to the CSS pixel, a swipe still starts 14 CSS pixels away', async () => {
  const browser = await Browser.open({ hasTouch: true, deviceScaleFactor: 2 });
  try {
    await browser.loadOnHeldClock(server.origin);
    const fingers = await Fingers.on(browser);

    // 16 CSS pixels to the right is a swipe, which chooses the next level
    // and confirms nothing.
    await fingers.land(1, 400, 300);
    await fingers.move(1, 416, 300);
    await browser.advance(frameMs);
    await fingers.lift();
    await browser.advance(frameMs);
    const title = await browser.readCanvas();
    assert.ok(!samePicture(title, shrink(await desktopShot('00-title'), 3)), 'the next level is chosen');
    assert.ok(!samePicture(title, shrink(await desktopShot('01-start'), 3)), 'nothing started');

    // Back to level 1; 12 CSS pixels is still a tap, which starts it.
    await browser.page.keyboard.press('ArrowLeft');
    await browser.advance(frameMs);
    await fingers.land(2, 400, 300);
    await fingers.move(2, 412, 300);
    await fingers.lift();
    await browser.advance(frameMs);
    await assertSameAsDesktop(await browser.readCanvas(), '01-start');
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});

test('a tap on the black bars beside the picture counts as well', async () => {
  // A phone held sideways is wider than 16:10: the bars left and right are
  // where the thumbs rest.
  const browser = await Browser.open({ hasTouch: true, viewport: { width: 1200, height: 600 } });
  try {
    await browser.loadOnHeldClock(server.origin);
    const fingers = await Fingers.on(browser);
    await fingers.tap(60, 300);
    await browser.advance(frameMs);
    await assertSameAsDesktop(await browser.readCanvas(), '01-start');
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});
