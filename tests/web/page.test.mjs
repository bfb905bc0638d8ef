// The page around the game as a new player meets it: opened as a file it
// says how to serve it instead of staying black; on a phone held upright it
// asks to turn the phone; and it goes fullscreen from its corner button and
// with Alt+Enter, which the game never takes for Enter.

import assert from 'node:assert/strict';
import { pathToFileURL } from 'node:url';
import { join } from 'node:path';
import { after, before, test } from 'node:test';

import { Browser, assertSameAsDesktop, frameMs, serveSite, siteDir } from './harness.mjs';

let server;
before(async () => {
  server = await serveSite();
});
after(async () => {
  await server?.close();
});

const notice = (browser) =>
  browser.page.evaluate(() => {
    const panel = document.getElementById('notice');
    return panel.hidden ? null : panel.textContent;
  });

test('opened as a file, the page says to serve its folder with a web server and loads nothing', async () => {
  const browser = await Browser.open();
  const requested = [];
  browser.page.on('request', (request) => requested.push(request.url()));
  try {
    const address = pathToFileURL(join(siteDir, 'index.html')).href;
    await browser.page.goto(address);
    await browser.page.waitForFunction(() => !document.getElementById('notice').hidden);
    const text = await notice(browser);
    assert.ok(
      text.includes(`python3 -m http.server --bind 127.0.0.1 -d ${siteDir}\n`),
      `the command to serve the folder, in:\n${text}`,
    );
    assert.match(text, /Webserver/);
    assert.match(text, /http:\/\/127\.0\.0\.1:8000\//);
    assert.deepEqual(
      requested.filter((url) => url !== address),
      [],
      'the game is not even asked for',
    );
    assert.equal(await browser.page.isVisible('#notice'), true);
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});

test('a narrow window held upright asks to turn the phone, and nothing else does', async () => {
  // The overlay lets every touch through to the game below it.
  const windows = [
    { width: 390, height: 844, asks: true },
    { width: 360, height: 640, asks: true },
    { width: 844, height: 390, asks: false },
    { width: 640, height: 360, asks: false },
    { width: 960, height: 600, asks: false },
    { width: 800, height: 1280, asks: false },
  ];
  const browser = await Browser.open({ hasTouch: true });
  try {
    await browser.load(server.origin);
    for (const { width, height, asks } of windows) {
      await browser.page.setViewportSize({ width, height });
      const seen = await browser.page.evaluate(() => {
        const overlay = document.getElementById('turn');
        return {
          shown: getComputedStyle(overlay).display !== 'none',
          text: overlay.innerText,
          touches: getComputedStyle(overlay).pointerEvents,
        };
      });
      assert.equal(seen.shown, asks, `a window of ${width} × ${height}`);
      assert.equal(seen.touches, 'none');
      if (asks) assert.match(seen.text, /quer halten/);
    }
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});

// Stands in for the browser's fullscreen, which a headless browser cannot
// show: it records which element asked and tells the page as the browser
// would.
function fakeFullscreen(enabled) {
  let element = null;
  window.fullscreenCalls = [];
  Object.defineProperty(Document.prototype, 'fullscreenEnabled', { get: () => enabled });
  Object.defineProperty(Document.prototype, 'fullscreenElement', { get: () => element });
  Element.prototype.requestFullscreen = function () {
    window.fullscreenCalls.push(this === document.documentElement ? 'page' : this.id || this.tagName);
    element = this;
    document.dispatchEvent(new Event('fullscreenchange'));
    return Promise.resolve();
  };
  Document.prototype.exitFullscreen = function () {
    window.fullscreenCalls.push('exit');
    element = null;
    document.dispatchEvent(new Event('fullscreenchange'));
    return Promise.resolve();
  };
}

test('the corner button and Alt+Enter put the page in fullscreen, and the game never sees that Enter', async () => {
  const browser = await Browser.open();
  try {
    await browser.page.addInitScript(fakeFullscreen, true);
    await browser.loadOnHeldClock(server.origin);
    const calls = () => browser.page.evaluate(() => window.fullscreenCalls);
    const buttonShown = () => browser.page.isVisible('#fullscreen');

    assert.equal(await buttonShown(), true);
    await browser.page.click('#fullscreen');
    assert.deepEqual(await calls(), ['page']);
    assert.equal(await buttonShown(), false, 'no button while the page fills the screen');
    assert.equal(await browser.page.evaluate(() => document.activeElement.id), 'screen');

    // Alt+Enter leaves fullscreen and asks for it again, as on the desktop.
    await browser.page.keyboard.press('Alt+Enter');
    assert.equal(await buttonShown(), true);
    await browser.page.keyboard.press('Alt+Enter');
    assert.deepEqual(await calls(), ['page', 'exit', 'page']);

    // Enter alone would have started level 1 by now.
    await browser.advance(3 * frameMs);
    await assertSameAsDesktop(await browser.readCanvas(), '00-title');
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});

test('where the browser allows no fullscreen there is no button and Alt+Enter asks for nothing', async () => {
  const browser = await Browser.open();
  try {
    await browser.page.addInitScript(fakeFullscreen, false);
    await browser.load(server.origin);
    assert.equal(await browser.page.isVisible('#fullscreen'), false);
    await browser.page.keyboard.press('Alt+Enter');
    assert.deepEqual(await browser.page.evaluate(() => window.fullscreenCalls), []);
    browser.checkNoProblems();
  } finally {
    await browser.close();
  }
});
