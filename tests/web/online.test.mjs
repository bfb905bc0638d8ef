// The page plays online. A real relay (build/zobra-relay, on loopback)
// serves the page's files and its WebSocket; a desktop game in a window on a
// private Xvfb opens a room there, a page opened at the room's link
// (?room=CODE, through build/impair_proxy --tcp, which delays the page's
// connection and cuts it when told) joins it, and a second page watches it
// (?watch=CODE). The playing page goes through a cut connection and takes
// its seat back, then through a spell without animation frames (as a
// hidden tab has) longer than the relay waits, after which the computer has
// its digger and the page watches; all three end on the relay's end hash. Every wait is for a state (a log line, the
// canvas's data-online, frames counted); every process is ended in
// `finally`.

import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { copyFile, mkdtemp, readFile, rm } from 'node:fs/promises';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { Browser, desktopExe, patience, repo, siteDir } from './harness.mjs';

const relayExe = process.env.ZOBRA_RELAY_EXE ?? join(repo, 'build', 'zobra-relay');
const proxyExe = process.env.ZOBRA_IMPAIR_PROXY ?? join(repo, 'build', 'impair_proxy');
// Half the round trip the proxy makes between the page and the relay.
const proxyDelayMs = '20';
// The relay's match ends after a minute (1200 ticks of 50 ms), or at its
// real end when the relay takes no such limit.
const matchTicks = '1200';
// Only a match that never ends waits this long.
const matchPatience = Number(process.env.ZOBRA_MATCH_PATIENCE ?? 10 * 60_000);

// A child process whose output the test reads line by line as it comes.
class Child {
  constructor(file, args, options = {}) {
    this.output = '';
    this.exited = false;
    this.process = spawn(file, args, { stdio: ['ignore', 'pipe', 'pipe'], ...options });
    for (const stream of [this.process.stdout, this.process.stderr])
      stream.on('data', (data) => {
        this.output += data.toString();
      });
    this.ended = new Promise((done) => {
      this.process.on('exit', () => {
        this.exited = true;
        done();
      });
      this.process.on('error', (error) => {
        this.output += `\n${error.message}`;
        this.exited = true;
        done();
      });
    });
  }

  // The first match of `pattern` in the output, once it is there.
  async waitFor(what, pattern, limit = patience) {
    let found = null;
    await until(what, () => {
      found = this.output.match(pattern);
      if (!found && this.exited) throw new Error(`${what}: the process ended:\n${this.output}`);
      return found !== null;
    }, limit);
    return found;
  }

  async stop() {
    if (!this.exited) this.process.kill('SIGTERM');
    await this.ended;
  }
}

async function until(what, check, limit = patience) {
  const end = Date.now() + limit;
  while (!(await check())) {
    if (Date.now() > end) throw new Error(`${what} did not happen`);
    await new Promise((done) => setTimeout(done, 50));
  }
}

// An X server of the test's own, on a display number it picks itself.
async function startXvfb() {
  const xvfb = spawn('Xvfb', ['-displayfd', '3', '-screen', '0', '1280x1024x24', '-nolisten', 'tcp'], {
    stdio: ['ignore', 'ignore', 'ignore', 'pipe'],
  });
  let number = '';
  xvfb.stdio[3].on('data', (data) => {
    number += data.toString();
  });
  let exited = false;
  xvfb.on('exit', () => {
    exited = true;
  });
  await until('Xvfb starting', () => {
    if (exited) throw new Error('Xvfb did not start');
    return number.includes('\n');
  });
  return {
    display: `:${number.trim()}`,
    stop: async () => {
      if (exited) return;
      const gone = new Promise((done) => xvfb.on('exit', done));
      xvfb.kill('SIGTERM');
      await gone;
    },
  };
}

// The desktop game in a window on `display`, with a folder of its own for
// its save and its log, playing online on the relay at `relayPort`.
async function startDesktop(display, relayPort, folder) {
  const exe = join(folder, 'zobra');
  await copyFile(desktopExe, exe);
  const env = {
    PATH: process.env.PATH,
    HOME: folder,
    DISPLAY: display,
    SDL_VIDEODRIVER: 'x11',
    SDL_AUDIODRIVER: 'dummy',
    // No session bus: SDL gives up on it at once instead of starting one.
    DBUS_SESSION_BUS_ADDRESS: 'unix:path=/nonexistent/zobra-test-bus',
    ZOBRA_SAVE: join(folder, 'save.json'),
    ZOBRA_RELAY: `127.0.0.1:${relayPort}`,
  };
  const game = new Child(exe, [], { cwd: folder, env });
  const logFile = join(folder, 'zobra-controller.txt');
  const log = async () => (existsSync(logFile) ? readFile(logFile, 'utf8') : '');
  const desktop = {
    game,
    // The first match of `pattern` in the game's log, once it is there.
    waitForLog: async (what, pattern, limit = patience) => {
      let found = null;
      await until(what, async () => {
        found = (await log()).match(pattern);
        if (!found && game.exited) throw new Error(`${what}: the game ended:\n${game.output}`);
        return found !== null;
      }, limit);
      return found;
    },
    logMatch: async (pattern) => (await log()).match(pattern),
    log,
  };
  await desktop.waitForLog('the game starting', /start: entering the event loop/);
  const search = spawnSync('xdotool', ['search', '--sync', '--name', '^Zobra$'], {
    env: { DISPLAY: display },
    encoding: 'utf8',
    timeout: patience,
  });
  const window = search.stdout.trim().split('\n')[0];
  assert.ok(window, `no game window on ${display}: ${search.stderr}`);
  desktop.keys = (...keys) => {
    const pressed = spawnSync(
      'xdotool',
      ['windowfocus', '--sync', window, 'key', '--delay', '60', ...keys],
      { env: { DISPLAY: display }, encoding: 'utf8', timeout: patience },
    );
    assert.equal(pressed.status, 0, `xdotool: ${pressed.stderr}`);
  };
  return desktop;
}

// What the page says of its online match: the canvas's data-online and
// data-online-hash.
async function pageOnline(browser) {
  return browser.page.evaluate(() => {
    const { online, onlineHash } = document.getElementById('screen').dataset;
    return { word: online ?? '', hash: onlineHash ?? '' };
  });
}

async function waitForPage(browser, what, words, limit = patience) {
  await until(what, async () => {
    browser.checkNoProblems();
    return words.includes((await pageOnline(browser)).word);
  }, limit);
}

const overLine =
  /online match over after (\d+) ticks: hash ([0-9a-f]{16}), the relay's ([0-9a-f]{16}) \((matched|DIFFERS)\)/;

// Holds the page's animation frames as a hidden tab's are held, until
// `release` gives back the ones asked for meanwhile.
async function holdFrames(browser) {
  await browser.page.evaluate(() => {
    window.heldFrames = [];
    window.ownFrames = window.requestAnimationFrame;
    window.requestAnimationFrame = (frame) => window.heldFrames.push(frame);
  });
  return async () =>
    browser.page.evaluate(() => {
      window.requestAnimationFrame = window.ownFrames;
      for (const frame of window.heldFrames.splice(0)) window.requestAnimationFrame(frame);
    });
}

test('a page at a room link plays a desktop game through a hidden spell and a cut connection to the relay\'s hash, and a watching page sees it end there too', { timeout: 2 * matchPatience }, async (t) => {
  for (const needed of [relayExe, proxyExe, desktopExe])
    assert.ok(existsSync(needed), `${needed} is missing: build the desktop game first (make build)`);
  const folder = await mkdtemp(join(tmpdir(), 'zobra-web-online-'));
  let relay;
  let proxy;
  let xvfb;
  let desktop;
  let browser;
  let watcher;
  const pageLog = [];
  try {
    relay = new Child(relayExe, ['--port', '0', '--bind', '127.0.0.1', '--site', siteDir], {
      env: { ...process.env, ZOBRA_TEST_MATCH_TICKS: matchTicks },
    });
    const relayPort = Number((await relay.waitFor('the relay listening', /listening on 127\.0\.0\.1:(\d+)/))[1]);
    const seconds = String(Math.ceil((2 * matchPatience) / 1000));
    proxy = new Child(proxyExe, ['--tcp', '--to', String(relayPort), '--seconds', seconds, '--delay', proxyDelayMs]);
    const proxyPort = Number((await proxy.waitFor('the proxy listening', /listening on 127\.0\.0\.1:(\d+)/))[1]);
    const origin = `http://127.0.0.1:${proxyPort}`;

    // The desktop opens a room on the relay.
    xvfb = await startXvfb();
    desktop = await startDesktop(xvfb.display, relayPort, folder);
    desktop.keys('o', 'Return');
    const code = (await relay.waitFor('a room opened', /room ([A-Z0-9]{4}) opened/))[1];

    // The page comes in by the room's link alone and shows that link to
    // share in turn; another page watches, straight from the relay.
    browser = await Browser.open();
    browser.page.on('console', (message) => pageLog.push(message.text()));
    await browser.page.goto(`${origin}/?room=${code.toLowerCase()}`, { timeout: patience });
    await waitForPage(browser, 'the page in the room', ['room']);
    await relay.waitFor('the page joining', new RegExp(`room ${code} joined`));
    assert.equal(await browser.page.locator('#room-link-url').textContent(), `${origin}/?room=${code}`);
    assert.ok(await browser.page.locator('#room-link').isVisible());
    watcher = await Browser.open();
    await watcher.page.goto(`http://127.0.0.1:${relayPort}/?watch=${code}`, { timeout: patience });
    await relay.waitFor('the watcher coming', new RegExp(`room ${code} watched`));

    // The desktop starts.
    desktop.keys('Return');
    await desktop.waitForLog('the desktop playing', new RegExp(`online match started in room ${code}`));
    await waitForPage(browser, 'the page playing', ['playing']);
    assert.ok(!(await browser.page.locator('#room-link').isVisible()), 'the link stays up in play');

    // Its connection is cut: it connects again and takes its seat back.
    proxy.process.kill('SIGUSR1');
    await relay.waitFor('the page losing its connection', new RegExp(`room ${code} lost the connection`));
    const back = await relay.waitFor('the page back in its seat', new RegExp(`room ${code}: .* took back the seats .* at tick (\\d+)`));
    await waitForPage(browser, 'the page playing again', ['playing', 'matched']);

    // Its tab is hidden for longer than the relay waits for a silent
    // player: the match goes on without it, and then the computer has its
    // digger. Back, the page watches the rest.
    const release = await holdFrames(browser);
    const dropped = await relay.waitFor('the hidden page dropped', new RegExp(`room ${code} dropped .* at tick (\\d+): quiet`));
    assert.ok(Number(dropped[1]) >= Number(back[1]) + 40, `the match stood still while the page was hidden: ${dropped[0]}`);
    await release();
    await until('the page watching after its return', () =>
      relay.output.split(`room ${code} watched by`).length - 1 >= 2);

    // Both play with keys until both have ended, and so has the watcher.
    const moves = ['ArrowRight', 'ArrowDown', 'Space', 'ArrowLeft', 'ArrowUp', 'Enter'];
    const xMoves = ['Right', 'Down', 'space', 'Left', 'Up', 'Return'];
    const busy = { mean: 0, longest: 0 };
    const ended = ['matched', 'differs', 'lost', 'refused'];
    const deadline = Date.now() + matchPatience;
    for (let i = 0; ; ++i) {
      browser.checkNoProblems();
      const pageDone = ended.includes((await pageOnline(browser)).word);
      const desktopDone = (await desktop.logMatch(overLine)) !== null;
      const watcherDone = ended.includes((await pageOnline(watcher)).word);
      if (pageDone && desktopDone && watcherDone) break;
      assert.ok(Date.now() < deadline, 'the match never ended');
      if (!pageDone) await browser.page.keyboard.press(moves[i % moves.length]);
      if (!desktopDone) desktop.keys(xMoves[(i + 3) % xMoves.length]);
      const { frameMs, frameMsMax } = await browser.page.evaluate(() => ({ ...document.getElementById('screen').dataset }));
      busy.mean = Math.max(busy.mean, Number(frameMs ?? 0));
      busy.longest = Math.max(busy.longest, Number(frameMsMax ?? 0));
    }

    // All three came to the relay's hash, the same one.
    const over = await desktop.logMatch(overLine);
    assert.equal(over[4], 'matched', over[0]);
    assert.deepEqual(await pageOnline(browser), { word: 'matched', hash: over[3] });
    assert.deepEqual(await pageOnline(watcher), { word: 'matched', hash: over[3] });
    assert.match(relay.output, new RegExp(`room ${code} ended after \\d+ ticks, hash ${over[3]}`));

    // The page's figures of the match, for the README.
    const { onlineFrames, onlineStalled } = await browser.page.evaluate(() => ({ ...document.getElementById('screen').dataset }));
    t.diagnostic(`the page's frames in the match: ${onlineFrames}, ${onlineStalled} of them waiting for the desktop`);
    t.diagnostic(`main thread busy per frame in the match: ${busy.mean.toFixed(3)} ms (the worst mean of 60), ${busy.longest.toFixed(3)} ms the longest`);
    browser.checkNoProblems();
    watcher.checkNoProblems();
  } catch (error) {
    // What each side last said, to tell where the match went astray.
    const tail = (text) => text.split('\n').slice(-15).join('\n  ');
    const page = browser ? await browser.page.evaluate(() => ({ ...document.getElementById('screen').dataset })).catch(() => ({})) : {};
    const log = desktop ? await desktop.log() : '';
    error.message += `\nrelay:\n  ${tail(relay?.output ?? '')}\ndesktop:\n  ${tail(log)}` +
      `\npage ${JSON.stringify(page)}:\n  ${pageLog.slice(-15).join('\n  ')}`;
    throw error;
  } finally {
    await browser?.close();
    await watcher?.close();
    await desktop?.game.stop();
    await xvfb?.stop();
    await proxy?.stop();
    await relay?.stop();
    await rm(folder, { recursive: true, force: true });
  }
});
