// Playing with a gamepad in the browser's standard layout. Headless Chromium
// has no gamepads, so the page is given one: navigator.getGamepads answers
// with a pad whose buttons and stick the test sets, as a browser reads a
// real one. The clock is held, so that the pictures are those of known
// moments of the game.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import {
  Browser,
  assertSameAsDesktop,
  cut,
  desktopShot,
  desktopSprite,
  differingRows,
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

// A pad in the standard layout at index 0, every button up and the stick
// centred, and `window.setPad({ buttons: { 0: true }, axes: [x, y] })` to
// change it.
function givePad() {
  const button = () => ({ pressed: false, touched: false, value: 0 });
  const pad = {
    id: 'Test Pad (STANDARD GAMEPAD Vendor: 045e Product: 028e)',
    index: 0,
    connected: true,
    mapping: 'standard',
    timestamp: 0,
    axes: [0, 0, 0, 0],
    buttons: Array.from({ length: 17 }, button),
  };
  Object.defineProperty(navigator, 'getGamepads', { value: () => [pad, null, null, null] });
  window.setPad = ({ buttons = {}, axes = [0, 0, 0, 0] }) => {
    pad.buttons = Array.from({ length: 17 }, (_, i) => ({
      pressed: Boolean(buttons[i]),
      touched: Boolean(buttons[i]),
      value: buttons[i] ? 1 : 0,
    }));
    pad.axes = axes;
    pad.timestamp += 1;
  };
}

test('a standard gamepad is counted on the title, starts level 1 and walks the digger with its stick', async () => {
  const browser = await Browser.open();
  try {
    await browser.page.addInitScript(givePad);
    await browser.loadOnHeldClock(server.origin);
    const title = shrink(await desktopShot('00-title'), 3);
    const rows = differingRows(await browser.readCanvas(), title);
    assert.ok(rows.length > 0 && rows.every((y) => y < tile), `rows ${rows}: the pad count, at the top`);

    // A face button confirms once; the pad count is the title's alone.
    await browser.page.evaluate(() => window.setPad({ buttons: { 0: true } }));
    await browser.advance(frameMs);
    await browser.page.evaluate(() => window.setPad({}));
    await browser.advance(frameMs);
    await assertSameAsDesktop(await browser.readCanvas(), '01-start');

    // The browser's stick y grows downwards: pushed down, the digger walks
    // down into the free cell below it.
    const start = shrink(await desktopShot('01-start'), 3);
    const [cell] = findPicture(start, await desktopSprite('digger'));
    const below = cut(start, cell.x, cell.y + tile);
    await browser.page.evaluate(() => window.setPad({ axes: [0.1, 0.9, 0, 0] }));
    await browser.advanceUntil('the digger walking down', (shown) =>
      samePicture(cut(shown, cell.x, cell.y), below) &&
      !samePicture(cut(shown, cell.x, cell.y + tile), below),
    );
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});
