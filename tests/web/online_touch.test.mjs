// The online screen on a touch screen, with no relay behind the page: the
// touch bar's Online opens it from the title, a swipe moves through the
// menu and types a room's code letter by letter, a tap chooses, and the
// bar's Zurück goes back, all the way to the title. Every room asked for
// goes to the page's own relay (which this plain web server is not), and
// the screen says KEINE VERBINDUNG.

import assert from 'node:assert/strict';
import { after, before, test } from 'node:test';

import { Browser, Fingers, serveSite, until } from './harness.mjs';

let server;
before(async () => {
  server = await serveSite();
});
after(async () => {
  await server?.close();
});

// The browser's own complaint about each WebSocket this server turns down.
const refusedSocket = /WebSocket connection to 'ws:\/\/127\.0\.0\.1:\d+\/relay' failed/;

test('with fingers alone the online screen is opened, walked, typed into and left', async () => {
  const browser = await Browser.open({ hasTouch: true });
  try {
    const attempts = [];
    let onTitleEsc = false;
    browser.page.on('console', (message) => {
      const url = message.text().match(/^connecting to the relay at (\S+)$/);
      if (url) attempts.push(url[1]);
      if (message.text().includes('Esc on the title')) onTitleEsc = true;
    });
    await browser.load(server.origin);
    const fingers = await Fingers.on(browser);
    const pressBar = async (label) => {
      const box = await browser.page.getByRole('button', { name: label }).boundingBox();
      await fingers.tap(box.x + box.width / 2, box.y + box.height / 2);
    };
    // A frame has seen the fingers as they are before they change again.
    // (Not browser.waitForFrames, which ends at the refused sockets.)
    const nextFrames = async () => {
      const least = (await browser.frames()) + 2;
      await until('two frames', async () => (await browser.frames()) >= least);
    };
    const swipe = async (dx, dy) => {
      await fingers.land(1, 480, 300);
      await nextFrames();
      await fingers.move(1, 480 + dx, 300 + dy);
      await nextFrames();
      await fingers.lift();
      await nextFrames();
    };
    const tap = async () => {
      await fingers.tap(480, 300);
      await nextFrames();
    };
    // Each room asked for is one WebSocket that this server turns down.
    const refused = async (count) => {
      await until(`attempt ${count} refused`, async () =>
        attempts.length >= count &&
        (await browser.page.evaluate(() => document.getElementById('screen').dataset.online)) === 'lost');
    };

    assert.ok(await browser.page.locator('#touch-keys').isVisible(), 'no touch bar on a touch screen');
    // RAUM OEFFNEN is the first row: on the page's own relay.
    await pressBar('Online');
    await nextFrames();
    await tap();
    await refused(1);
    assert.equal(attempts[0], `${server.origin.replace('http:', 'ws:')}/relay`);

    // RAUM BETRETEN, one row down, asks for the code: four swipes to the
    // right type four letters, and the tap joins.
    await tap();
    await swipe(0, 60);
    await tap();
    for (let letter = 0; letter < 4; ++letter) await swipe(60, 0);
    await tap();
    await refused(2);

    // Back from the result to the menu, from the menu to the title (where
    // the page says that Esc keeps the title), and Online opens the screen
    // again, on the row last chosen: one up opens a room.
    await tap();
    await pressBar('Zurück');
    await nextFrames();
    assert.ok(!onTitleEsc);
    await pressBar('Zurück');
    await until('Esc on the title', () => onTitleEsc);
    await pressBar('Online');
    await nextFrames();
    await swipe(0, -60);
    await tap();
    await refused(3);

    assert.ok(browser.problems.length > 0 && browser.problems.every((p) => refusedSocket.test(p)),
      browser.problems.join('\n'));
  } finally {
    await browser.close();
  }
});
