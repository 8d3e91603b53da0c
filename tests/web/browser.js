// The page in headless Chromium: serves a built site, gives the page (through
// its file input) the example, a second song, a file with a Japanese name and a
// damaged file, waits for the sets to download, and checks each against the
// Linux build's .osz byte for byte and that the page names the damaged file's
// error. Prints the time each file took in the page (and natively).
//
//   node tests/web/browser.js SITE_DIR NATIVE [--screenshot PNG]
//
// NATIVE is a Linux onpu, run here on the same files with the site's
// SoundFont, or a folder of reference <base>.osz files. CHROMIUM names the
// browser (default /usr/bin/chromium). Exit status 1 if any check fails.
import assert from 'node:assert/strict';
import { createReadStream, mkdirSync, mkdtempSync, readFileSync, rmSync, statSync } from 'node:fs';
import { createServer } from 'node:http';
import { tmpdir } from 'node:os';
import { extname, join, normalize, resolve } from 'node:path';
import { parseArgs } from 'node:util';
import puppeteer from 'puppeteer-core';
import { nativeOsz, soundFontOf, testSongs } from './native.js';

const TIMEOUT_MS = 10 * 60 * 1000;
const TYPES = {
  '.html': 'text/html; charset=utf-8',
  '.js': 'text/javascript; charset=utf-8',
  '.css': 'text/css; charset=utf-8',
  '.wasm': 'application/wasm',
};

// A static server for `root` on a free loopback port, like any static host:
// no special headers.
function serve(root) {
  const server = createServer((request, response) => {
    const path = decodeURIComponent(new URL(request.url, 'http://localhost').pathname);
    let file = normalize(join(root, path));
    if (!file.startsWith(root)) file = '';
    else if (path.endsWith('/')) file = join(file, 'index.html');
    let size = -1;
    try {
      size = statSync(file).isFile() ? statSync(file).size : -1;
    } catch {}
    if (size < 0) {
      response.writeHead(404).end();
      return;
    }
    response.writeHead(200, {
      'Content-Type': TYPES[extname(file)] ?? 'application/octet-stream',
      'Content-Length': size,
    });
    createReadStream(file).pipe(response);
  });
  return new Promise((resolveServer) => server.listen(0, '127.0.0.1', () => resolveServer(server)));
}

async function launch() {
  return puppeteer.launch({
    executablePath: process.env.CHROMIUM ?? '/usr/bin/chromium',
    headless: true,
    args: [
      ...(process.getuid?.() === 0 ? ['--no-sandbox'] : []),
      '--disable-gpu',
      '--disable-quic',
      '--no-first-run',
      '--disable-background-networking',
      '--disable-component-update',
      '--disable-sync',
    ],
  });
}

// Sends downloads to `dir` under generated names. Returns a function that
// resolves, once `count` downloads have finished (or `ms` have passed), to a
// map from each finished download's suggested name to its path.
async function watchDownloads(browser, dir) {
  const session = await browser.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', {
    behavior: 'allowAndName',
    downloadPath: dir,
    eventsEnabled: true,
  });
  const names = new Map();
  const finished = new Map();
  let wake = () => {};
  session.on('Browser.downloadWillBegin', (event) => names.set(event.guid, event.suggestedFilename));
  session.on('Browser.downloadProgress', (event) => {
    if (event.state !== 'completed') return;
    finished.set(names.get(event.guid), join(dir, event.guid));
    wake();
  });
  return (count, ms) =>
    new Promise((resolveAll) => {
      const timer = setTimeout(() => resolveAll(finished), ms);
      wake = () => {
        if (finished.size < count) return;
        clearTimeout(timer);
        resolveAll(finished);
      };
      wake();
    });
}

// Opens the site, gives its file input every song, and resolves once each has
// ended to { page, cards, downloaded }: what each file's card shows, and the
// downloads as watchDownloads gives them.
async function convertInPage(browser, url, songs, downloadDir) {
  mkdirSync(downloadDir);
  const downloads = await watchDownloads(browser, downloadDir);
  const page = await browser.newPage();
  await page.setViewport({ width: 980, height: 900 });
  page.on('pageerror', (error) => console.error(`page error: ${error.message}`));
  await page.goto(url);
  const input = await page.waitForSelector('#files');
  await input.uploadFile(...songs.map((song) => song.path));
  await page.waitForFunction(
    (count) => document.querySelectorAll('.card[data-state=done], .card[data-state=error]').length === count,
    { timeout: TIMEOUT_MS },
    songs.length,
  );
  const downloaded = await downloads(songs.filter((song) => song.good).length, 30000);
  const cards = await page.$$eval('.card', (all) =>
    all.map((card) => ({
      name: card.dataset.name,
      state: card.dataset.state,
      ms: Number(card.dataset.ms),
      error: card.querySelector('.error').textContent,
      summary: card.querySelector('.summary').textContent,
    })),
  );
  return { page, cards, downloaded };
}

let failures = 0;

function check(what, run) {
  try {
    run();
    console.log(`ok   ${what}`);
  } catch (e) {
    failures++;
    console.log(`FAIL ${what}: ${e.message}`);
  }
}

function checkSong(song, card, downloaded, expected) {
  if (!song.good) {
    check(`${song.name}: the page shows its error by its name`, () => {
      assert.equal(card?.state, 'error');
      assert.match(card.error, new RegExp(`^× ${song.name}: エラー: `));
    });
    return;
  }
  const oszName = song.name.replace(/\.mid$/, '.osz');
  check(`${oszName}: downloaded, the same bytes as the Linux build, the ratings shown`, () => {
    assert.equal(card?.state, 'done', card?.error);
    assert.ok(downloaded.has(oszName), `downloads: ${[...downloaded.keys()].join(', ')}`);
    assert.ok(readFileSync(downloaded.get(oszName)).equals(expected.bytes), 'the bytes differ');
    assert.match(card.summary, /難易度 1\.50★/);
  });
  const nativeTime = expected.ms ? `, native ${(expected.ms / 1000).toFixed(2)} s` : '';
  console.log(`     ${song.name}: ${(card.ms / 1000).toFixed(2)} s in the page${nativeTime}`);
}

async function main() {
  const { values, positionals } = parseArgs({ options: { screenshot: { type: 'string' } }, allowPositionals: true });
  if (positionals.length !== 2) {
    console.error('usage: node tests/web/browser.js SITE_DIR NATIVE [--screenshot PNG]');
    process.exit(2);
  }
  const site = resolve(positionals[0]);
  const native = positionals[1];
  const work = mkdtempSync(join(tmpdir(), 'onpu-web-'));
  const songs = testSongs(join(work, 'songs'));
  const server = await serve(site);
  const browser = await launch();
  try {
    const url = `http://127.0.0.1:${server.address().port}/`;
    const { page, cards, downloaded } = await convertInPage(browser, url, songs, join(work, 'downloads'));
    for (const song of songs) {
      const expected = song.good ? nativeOsz(native, song.path, song.name, soundFontOf(site)) : null;
      checkSong(
        song,
        cards.find((card) => card.name === song.name),
        downloaded,
        expected,
      );
    }
    check('no other downloads', () => assert.equal(downloaded.size, songs.filter((song) => song.good).length));
    if (values.screenshot) {
      await page.$eval('.card[data-name="melody.mid"] details', (details) => (details.open = true));
      await page.screenshot({ path: values.screenshot, fullPage: true });
      console.log(`screenshot: ${values.screenshot}`);
    }
  } finally {
    await browser.close();
    server.close();
    rmSync(work, { recursive: true, force: true });
  }
  if (failures) {
    console.log(`${failures} check(s) failed`);
    process.exit(1);
  }
}

main().catch((error) => {
  console.error(error);
  process.exit(1);
});
