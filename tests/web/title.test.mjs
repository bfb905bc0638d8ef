// The page as a new player first sees it: the title screen, the same to the
// pixel as the desktop game draws it, on a page that scales it to any window,
// built from three files and a game of less than a megabyte.

import assert from 'node:assert/strict';
import { stat } from 'node:fs/promises';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { Browser, assertSameAsDesktop, serveSite, siteDir, siteFiles } from './harness.mjs';

let server;
before(async () => {
  server = await serveSite();
});
after(async () => {
  await server?.close();
});

test('the built page is exactly index.html, zobra.js and zobra.wasm, the game under 1 MB', async () => {
  assert.deepEqual(await siteFiles(), ['index.html', 'zobra.js', 'zobra.wasm']);
  const { size } = await stat(join(siteDir, 'zobra.wasm'));
  assert.ok(size < 1024 * 1024, `zobra.wasm holds ${size} bytes`);
});

test('the page shows the title screen pixel for pixel as the desktop screenshot mode', async () => {
  const browser = await Browser.open();
  try {
    // The title moves (its figures walk, its call to start blinks): the
    // clock is held at the title's first moment, which the desktop shows.
    await browser.loadOnHeldClock(server.origin);
    await assertSameAsDesktop(await browser.readCanvas(), '00-title');
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});

test('the page fills the window at 16:10 with sharp pixels and black bars', async () => {
  // Too wide a window gets bars left and right, too tall a window above and
  // below; the picture is always as large as fits.
  const windows = [
    { width: 1200, height: 600, picture: { x: 120, y: 0, width: 960, height: 600 } },
    { width: 800, height: 900, picture: { x: 0, y: 200, width: 800, height: 500 } },
    { width: 640, height: 400, picture: { x: 0, y: 0, width: 640, height: 400 } },
  ];
  const browser = await Browser.open();
  try {
    await browser.load(server.origin);
    for (const { width, height, picture } of windows) {
      await browser.page.setViewportSize({ width, height });
      const seen = await browser.page.evaluate(() => {
        const element = document.getElementById('screen');
        const box = element.getBoundingClientRect();
        return {
          box: { x: box.x, y: box.y, width: box.width, height: box.height },
          rendering: getComputedStyle(element).imageRendering,
          background: getComputedStyle(document.body).backgroundColor,
        };
      });
      assert.deepEqual(seen.box, picture, `in a ${width} × ${height} window`);
      assert.equal(seen.rendering, 'pixelated');
      assert.equal(seen.background, 'rgb(0, 0, 0)');
    }
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});
