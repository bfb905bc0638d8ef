// What the page's tests share: the built page served on a loopback port,
// Debian's Chromium driven headless with a profile of its own, the page's
// canvas read back as pixels, and the desktop game's screenshot scenes to
// hold them against.
//
// A test opens a `Browser`, goes to `server.origin`, waits for a state of the
// page (never for a fixed time), and closes everything in `finally` or
// `t.after`, also when it fails. The browser records every console error,
// uncaught exception and failed request in `problems`; `checkNoProblems`
// fails the test on any of them.

import { spawnSync } from 'node:child_process';
import { existsSync } from 'node:fs';
import { copyFile, mkdtemp, readFile, readdir, rm, writeFile } from 'node:fs/promises';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize, resolve, sep } from 'node:path';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';
import { PNG } from 'pngjs';

export const repo = resolve(fileURLToPath(new URL('../..', import.meta.url)));
export const siteDir = resolve(process.env.ZOBRA_WEB_SITE ?? join(repo, 'build-web', 'site'));
export const desktopExe = resolve(process.env.ZOBRA_EXE ?? join(repo, 'build', 'zobra'));
export const chromiumPath = process.env.ZOBRA_CHROMIUM ?? '/usr/bin/chromium';

export const canvasWidth = 320;
export const canvasHeight = 200;
export const tile = 16;
// One display refresh at 60 Hz, as the held clock runs the page's frames.
export const frameMs = 1000 / 60;

// Generous: the limit only ends a test that is stuck, it never paces one.
export const patience = 120_000;

const contentTypes = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.wasm': 'application/wasm',
};

// Serves the files of `dir` on 127.0.0.1 at a port the system picks. Only
// files directly in the folder are served, and the test's own `extra`
// files ({ 'replays/duel1.zrp': bytes or a file's path }); anything else is
// a 404.
export async function serveSite(dir = siteDir, extra = {}) {
  const server = createServer(async (request, response) => {
    const path = new URL(request.url, 'http://localhost').pathname;
    const own = extra[decodeURIComponent(path.slice(1))];
    if (own !== undefined) {
      const body = typeof own === 'string' ? await readFile(own) : own;
      response.writeHead(200, {
        'Content-Type': 'application/octet-stream',
        'Cache-Control': 'no-store',
      });
      response.end(body);
      return;
    }
    const name = path === '/' ? 'index.html' : normalize(decodeURIComponent(path.slice(1)));
    if (name.includes(sep) || name.startsWith('.')) {
      response.writeHead(404).end();
      return;
    }
    try {
      const body = await readFile(join(dir, name));
      response.writeHead(200, {
        'Content-Type': contentTypes[extname(name)] ?? 'application/octet-stream',
        'Cache-Control': 'no-store',
      });
      response.end(body);
    } catch {
      response.writeHead(404).end();
    }
  });
  await new Promise((done, fail) => {
    server.once('error', fail);
    server.listen(0, '127.0.0.1', done);
  });
  const { port } = server.address();
  return {
    origin: `http://127.0.0.1:${port}`,
    close: () =>
      new Promise((done) => {
        server.closeAllConnections();
        server.close(() => done());
      }),
  };
}

// Chromium with nothing that reaches beyond the machine: no sandbox (tests
// run as root), no GPU, no QUIC, no first-run pages, no background traffic,
// component updates or sync.
const chromiumFlags = [
  '--headless',
  '--no-sandbox',
  '--disable-gpu',
  '--disable-quic',
  '--no-first-run',
  '--disable-background-networking',
  '--disable-component-update',
  '--disable-sync',
];

// One browser with a profile folder of its own. The profile outlives
// `close()` when the caller passed it in, so that a later browser can open
// the same one (for what the page keeps in local storage); otherwise it is a
// fresh folder removed on close.
export class Browser {
  // `options` go to the browser context as they are: `hasTouch` for a
  // touch screen, `deviceScaleFactor` for a screen with denser pixels.
  static async open({ profile, viewport = { width: 960, height: 600 }, ...options } = {}) {
    const ownProfile = profile === undefined;
    const dir = ownProfile ? await mkdtemp(join(tmpdir(), 'zobra-web-profile-')) : profile;
    let context;
    try {
      context = await chromium.launchPersistentContext(dir, {
        executablePath: chromiumPath,
        headless: true,
        args: chromiumFlags,
        viewport,
        timeout: patience,
        ...options,
      });
    } catch (error) {
      if (ownProfile) await rm(dir, { recursive: true, force: true });
      throw error;
    }
    const page = context.pages()[0] ?? (await context.newPage());
    return new Browser(context, page, ownProfile ? dir : undefined);
  }

  constructor(context, page, ownedProfile) {
    this.context = context;
    this.page = page;
    this.ownedProfile = ownedProfile;
    this.problems = [];
    // Settles at the first problem, so that a wait for the page can end as
    // soon as the page has failed instead of at its time limit.
    this.failed = new Promise((resolve) => {
      this.reportProblem = (text) => {
        this.problems.push(text);
        resolve();
      };
    });
    page.on('console', (message) => {
      if (message.type() === 'error') this.reportProblem(`console error: ${message.text()}`);
    });
    page.on('pageerror', (error) => this.reportProblem(`uncaught: ${error.message}`));
    page.on('requestfailed', (request) =>
      this.reportProblem(`request failed: ${request.url()} (${request.failure()?.errorText})`),
    );
    page.on('response', (response) => {
      if (response.status() >= 400)
        this.reportProblem(`HTTP ${response.status()} for ${response.url()}`);
    });
  }

  async close() {
    try {
      await this.context.close();
    } finally {
      if (this.ownedProfile) await rm(this.ownedProfile, { recursive: true, force: true });
    }
  }

  // Loads the page (with `query`, as "?scene=02-blast", when given) and
  // waits until it has shown at least one picture.
  async load(origin, query = '') {
    await this.page.goto(`${origin}/${query}`, { timeout: patience });
    await this.waitForFrames(1);
  }

  // Waits until the page has shown `count` pictures in all (the canvas's
  // data-frames attribute); fails at once when the page reports a problem
  // before that.
  async waitForFrames(count) {
    const shown = this.page.waitForFunction(
      (least) => Number(document.getElementById('screen')?.dataset.frames ?? 0) >= least,
      count,
      { timeout: patience, polling: 50 },
    );
    const outcome = await Promise.race([shown.then(() => 'shown'), this.failed.then(() => 'failed')]);
    shown.catch(() => {}); // ends with the page when the page failed first
    if (outcome === 'failed') this.checkNoProblems();
  }

  // Loads the page with the browser's clock under the test's control: time
  // stands still until `advance` moves it, so that the game's animations
  // and steps are where the test puts them. Returns once the first picture
  // is up.
  async loadOnHeldClock(origin, query = '') {
    await this.page.clock.install({ time: 0 });
    await this.page.clock.pauseAt(1000);
    await this.page.goto(`${origin}/${query}`, { timeout: patience });
    await this.firstHeldFrame();
  }

  // Loads the page again, as the player's reload does; the clock stays held.
  async reloadOnHeldClock() {
    await this.page.reload({ timeout: patience });
    await this.firstHeldFrame();
  }

  // Once the game runs, moves the held clock on until its first picture is up.
  async firstHeldFrame() {
    await this.page.waitForFunction(() => typeof Module !== 'undefined' && Module.calledRun, null, {
      timeout: patience,
    });
    while ((await this.frames()) < 1) await this.advance(frameMs);
  }

  // Moves the held clock on by `ms` milliseconds, running the frames that
  // fall due on the way.
  async advance(ms) {
    await this.page.clock.runFor(ms);
  }

  // Moves the held clock on a frame at a time until `check(picture)` holds
  // for the canvas, at most `most` frames; fails naming `what` otherwise.
  async advanceUntil(what, check, most = 120) {
    for (let frame = 0; frame <= most; ++frame) {
      if (check(await this.readCanvas())) return;
      await this.advance(frameMs);
    }
    throw new Error(`${most} frames went by and ${what} did not happen`);
  }

  // What the page says of the replay it shows (the canvas's data-replay
  // and data-replay-tick): { word: 'playing' | 'matched' | 'differs' |
  // 'crashed', tick }, or null when it shows none.
  async replayState() {
    return this.page.evaluate(() => {
      const { replay, replayTick } = document.getElementById('screen')?.dataset ?? {};
      return replay === undefined ? null : { word: replay, tick: Number(replayTick) };
    });
  }

  // Waits until the replay the page shows has come to its end (any word
  // but 'playing'), F held so that it plays eight times as fast; returns
  // its state.
  async replayToEnd() {
    await this.page.keyboard.down('KeyF');
    try {
      const ended = this.page.waitForFunction(
        () => ['matched', 'differs', 'crashed'].includes(document.getElementById('screen')?.dataset.replay),
        null,
        { timeout: patience, polling: 50 },
      );
      const outcome = await Promise.race([ended.then(() => 'ended'), this.failed.then(() => 'failed')]);
      ended.catch(() => {});
      if (outcome === 'failed') this.checkNoProblems();
    } finally {
      await this.page.keyboard.up('KeyF');
    }
    return this.replayState();
  }

  // The number of pictures the page has shown.
  async frames() {
    return this.page.evaluate(() => Number(document.getElementById('screen').dataset.frames ?? 0));
  }

  // Waits until the page has reported a problem.
  async waitForProblem() {
    let timer;
    const limit = new Promise((_, fail) => {
      timer = setTimeout(() => fail(new Error('the page reported no problem')), patience);
    });
    try {
      await Promise.race([this.failed, limit]);
    } finally {
      clearTimeout(timer);
    }
  }

  // The canvas element's pixels as { width, height, data } with four bytes
  // (RGBA) a pixel.
  async readCanvas() {
    const { width, height, bytes } = await this.page.evaluate(() => {
      const element = document.getElementById('screen');
      const image = element.getContext('2d').getImageData(0, 0, element.width, element.height);
      let text = '';
      for (let i = 0; i < image.data.length; i += 0x8000)
        text += String.fromCharCode(...image.data.subarray(i, i + 0x8000));
      return { width: image.width, height: image.height, bytes: btoa(text) };
    });
    return { width, height, data: Buffer.from(bytes, 'base64') };
  }

  checkNoProblems() {
    if (this.problems.length > 0)
      throw new Error(`the page reported problems:\n  ${this.problems.join('\n  ')}`);
  }
}

// Fingers on the page, in CSS pixels of the window, sent as the browser's
// own touch events (Input.dispatchTouchEvent).
export class Fingers {
  static async on(browser) {
    const session = await browser.context.newCDPSession(browser.page);
    return new Fingers(session);
  }

  constructor(session) {
    this.session = session;
    this.down = new Map();
  }

  async send(type) {
    const touchPoints = [...this.down].map(([id, { x, y }]) => ({ id, x, y }));
    await this.session.send('Input.dispatchTouchEvent', { type, touchPoints });
  }

  async land(id, x, y) {
    this.down.set(id, { x, y });
    await this.send('touchStart');
  }

  async move(id, x, y) {
    this.down.set(id, { x, y });
    await this.send('touchMove');
  }

  // Lifts every finger: the browser's debugging protocol lifts fingers only
  // all at once.
  async lift() {
    this.down.clear();
    await this.send('touchEnd');
  }

  async tap(x, y) {
    await this.land(99, x, y);
    await this.lift();
  }
}

// Waits until `check()` (run here, in the test) holds, polling; fails
// naming `what` at the time limit (`patience` unless given).
export async function until(what, check, limit = patience) {
  const end = Date.now() + limit;
  while (!(await check())) {
    if (Date.now() > end) throw new Error(`${what} did not happen`);
    await new Promise((done) => setTimeout(done, 20));
  }
}

let shotsFolder;

// The desktop game's screenshot scenes, written once per test process by the
// real executable in a folder of its own, with no display, no sound device
// and the save pointed into that folder. Returns the folder.
async function desktopShots() {
  if (shotsFolder === undefined) {
    if (!existsSync(desktopExe))
      throw new Error(`${desktopExe} is missing: build the desktop game first (make build)`);
    const folder = await mkdtemp(join(tmpdir(), 'zobra-web-shots-'));
    process.on('exit', () => spawnSync('rm', ['-rf', folder]));
    const exe = join(folder, 'zobra');
    await copyFile(desktopExe, exe);
    const run = spawnSync(exe, [], {
      cwd: folder,
      env: {
        PATH: process.env.PATH,
        HOME: folder,
        ZOBRA_SHOTS: join(folder, 'shots'),
        ZOBRA_SAVE: join(folder, 'save.json'),
        SDL_AUDIODRIVER: 'dummy',
      },
      timeout: patience,
      encoding: 'utf8',
    });
    if (run.status !== 0)
      throw new Error(
        `the screenshot mode failed (${run.error ?? `status ${run.status}, signal ${run.signal}`}):\n${run.stderr}`,
      );
    shotsFolder = join(folder, 'shots');
  }
  return shotsFolder;
}

// The stems of the desktop's scenes ("00-title" …), in the script's order.
export async function desktopShotStems() {
  const names = await readdir(await desktopShots());
  return names.filter((name) => name.endsWith('.png')).map((name) => name.slice(0, -4)).sort();
}

// The desktop game's screenshot scene `stem` as { width, height, data }.
export async function desktopShot(stem) {
  const png = PNG.sync.read(await readFile(join(await desktopShots(), `${stem}.png`)));
  return { width: png.width, height: png.height, data: png.data };
}

// One of the desktop's sprite sheet pictures (sprites/STEM.png, the sprite
// over the floor three times enlarged) at the canvas's own size, 16 × 16.
export async function desktopSprite(stem) {
  const png = PNG.sync.read(await readFile(join(await desktopShots(), 'sprites', `${stem}.png`)));
  return shrink({ width: png.width, height: png.height, data: png.data }, 3);
}

// The 16 × 16 block of `picture` whose top-left pixel is (x, y).
export function cut(picture, x, y, width = tile, height = tile) {
  const data = Buffer.alloc(width * height * 4);
  for (let row = 0; row < height; ++row)
    picture.data.copy(data, row * width * 4, ((y + row) * picture.width + x) * 4,
      ((y + row) * picture.width + x + width) * 4);
  return { width, height, data };
}

export function samePicture(a, b) {
  return a.width === b.width && a.height === b.height && a.data.equals(b.data);
}

// Where `sprite` shows in `picture`, pixel for pixel: the top-left corners
// of every place, scanning row by row.
export function findPicture(picture, sprite) {
  const found = [];
  for (let y = 0; y + sprite.height <= picture.height; ++y)
    for (let x = 0; x + sprite.width <= picture.width; ++x)
      if (samePicture(cut(picture, x, y, sprite.width, sprite.height), sprite)) found.push({ x, y });
  return found;
}

// The rows in which two pictures of one size differ.
export function differingRows(a, b) {
  const rows = [];
  const stride = a.width * 4;
  for (let y = 0; y < a.height; ++y)
    if (a.data.compare(b.data, y * stride, (y + 1) * stride, y * stride, (y + 1) * stride) !== 0)
      rows.push(y);
  return rows;
}

// A picture made of square blocks of `factor` × `factor` equal pixels, as one
// pixel a block. A block whose pixels differ is an error: the picture was
// not a whole-number enlargement.
export function shrink(picture, factor) {
  const width = picture.width / factor;
  const height = picture.height / factor;
  if (!Number.isInteger(width) || !Number.isInteger(height))
    throw new Error(`${picture.width} × ${picture.height} is not a ×${factor} picture`);
  const data = Buffer.alloc(width * height * 4);
  for (let y = 0; y < picture.height; ++y)
    for (let x = 0; x < picture.width; ++x) {
      const from = (y * picture.width + x) * 4;
      const to = (Math.floor(y / factor) * width + Math.floor(x / factor)) * 4;
      const first = x % factor === 0 && y % factor === 0;
      for (let c = 0; c < 4; ++c) {
        if (first) data[to + c] = picture.data[from + c];
        else if (data[to + c] !== picture.data[from + c])
          throw new Error(`the block at pixel ${x / factor | 0}, ${y / factor | 0} is not one colour`);
      }
    }
  return { width, height, data };
}

// The pixels where two pictures of one size differ, described for a test
// failure: their count and the first few with both colours.
export function differences(actual, expected, shown = 10) {
  if (actual.width !== expected.width || actual.height !== expected.height)
    return `size ${actual.width} × ${actual.height}, expected ${expected.width} × ${expected.height}`;
  const hex = (data, i) =>
    '#' + [0, 1, 2].map((c) => data[i + c].toString(16).padStart(2, '0')).join('') +
    (data[i + 3] === 255 ? '' : ` alpha ${data[i + 3]}`);
  const found = [];
  let count = 0;
  for (let i = 0; i < actual.data.length; i += 4) {
    if (actual.data.compare(expected.data, i, i + 4, i, i + 4) === 0) continue;
    ++count;
    if (found.length < shown) {
      const p = i / 4;
      found.push(`(${p % actual.width}, ${Math.floor(p / actual.width)}): ` +
        `${hex(actual.data, i)} instead of ${hex(expected.data, i)}`);
    }
  }
  return count === 0 ? '' : `${count} pixels differ, first ${found.join('; ')}`;
}

// The files of the built page, sorted.
export async function siteFiles(dir = siteDir) {
  return (await readdir(dir)).sort();
}

// Writes a picture as a PNG file, for looking at a failure.
export async function writePicture(path, picture) {
  const png = new PNG({ width: picture.width, height: picture.height });
  picture.data.copy(png.data);
  await writeFile(path, PNG.sync.write(png));
}

// Fails when the canvas picture `shown` is not the desktop's scene `stem`
// (which is the canvas three times enlarged, so one pixel in nine is the
// canvas's own), naming the first differing pixels and writing the page's
// picture beside the site folder for a look.
export async function assertSameAsDesktop(shown, stem) {
  const expected = shrink(await desktopShot(stem), 3);
  if (expected.width !== canvasWidth || expected.height !== canvasHeight)
    throw new Error(`the desktop's ${stem} is not the canvas enlarged three times`);
  const wrong = differences(shown, expected);
  if (wrong) {
    const picture = join(siteDir, '..', `${stem}-as-shown.png`);
    await writePicture(picture, shown);
    throw new Error(`the page's ${stem} is not the desktop's: ${wrong} (the page's picture: ${picture})`);
  }
}
