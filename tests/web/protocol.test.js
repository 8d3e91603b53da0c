// The worker's protocol under Node: the page's messages in, progress, console
// lines and the set's bytes out, driven through serve() as the worker drives it.
//
//   ONPU_WEB_MODULE=DIR [ONPU_NATIVE=PATH] node --test tests/web/
//
// DIR holds onpu.js and onpu.wasm (a built site, or the build's output); the
// SoundFont is DIR's FluidR3Mono_GM.sf3, else the system's. With ONPU_NATIVE
// (a Linux onpu, or a folder of reference .osz files) the set must be that
// build's byte for byte. Without a module the tests that need one are skipped.
import assert from 'node:assert/strict';
import { existsSync, readFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { join, resolve } from 'node:path';
import { describe, test } from 'node:test';
import { Converter, STAGES, commandLine, serve } from '../../web/convert.js';
import { REPO, nativeOsz, soundFontOf } from './native.js';

const moduleDir = process.env.ONPU_WEB_MODULE ? resolve(process.env.ONPU_WEB_MODULE) : '';
const native = process.env.ONPU_NATIVE ?? '';
const skip = !moduleDir
  ? 'set ONPU_WEB_MODULE to a folder with onpu.js and onpu.wasm to run this'
  : !existsSync(join(moduleDir, 'onpu.js'))
    ? `no onpu.js in ${moduleDir}`
    : false;

async function loadCreateOnpu() {
  const path = join(moduleDir, 'onpu.js');
  try {
    return createRequire(import.meta.url)(path);
  } catch (e) {
    if (e.code !== 'ERR_REQUIRE_ESM') throw e;
    return (await import(path)).default;
  }
}

// A worker scope of its own: serve() listens on it, and send() resolves to
// every message posted for a job once its 'done' arrives.
async function workerScope(counts = { soundFont: 0 }) {
  const createOnpu = await loadCreateOnpu();
  const converter = new Converter({
    createOnpu,
    loadModule: () => WebAssembly.compile(readFileSync(join(moduleDir, 'onpu.wasm'))),
    loadSoundFont: () => {
      counts.soundFont++;
      return readFileSync(soundFontOf(moduleDir));
    },
  });
  const posted = new Map();
  const waiting = new Map();
  const scope = {
    postMessage(message) {
      if (!posted.has(message.id)) posted.set(message.id, []);
      posted.get(message.id).push(message);
      if (message.type === 'done') waiting.get(message.id)(posted.get(message.id));
    },
  };
  serve(scope, converter);
  let nextId = 1;
  const send = (job) => {
    const id = nextId++;
    const done = new Promise((resolveDone) => waiting.set(id, resolveDone));
    scope.onmessage({ data: { type: 'convert', id, ...job } });
    return done;
  };
  return { send, counts };
}

const melodyPath = join(REPO, 'examples/melody.mid');
const melody = readFileSync(melodyPath);

describe('the worker with the WebAssembly module', { skip }, () => {
  test('a MIDI file in: start, the stages in order, the console lines, then the set', async () => {
    const { send } = await workerScope();
    const messages = await send({ name: 'melody.mid', data: new Uint8Array(melody) });

    assert.equal(messages[0].type, 'start');
    const done = messages.at(-1);
    assert.equal(done.type, 'done');
    assert.equal(done.status, 0, done.error);
    assert.equal(done.oszName, 'melody.osz');
    assert.deepEqual([...done.osz.subarray(0, 4)], [0x50, 0x4b, 0x03, 0x04]); // a zip

    const progress = messages.filter((m) => m.type === 'progress');
    const order = progress.map((m) => STAGES.indexOf(m.stage));
    assert.ok(
      order.every((i) => i >= 0),
      `unknown stage in ${progress.map((m) => m.stage)}`,
    );
    assert.deepEqual(
      [...new Set(order)],
      STAGES.map((_, i) => i),
      'every stage, in order',
    );
    for (const m of progress) assert.ok(m.fraction >= 0 && m.fraction <= 1, `${m.stage} ${m.fraction}`);

    const lines = messages.filter((m) => m.type === 'line').map((m) => m.text);
    assert.ok(
      lines.some((line) => line.includes('(この曲の最高)')),
      lines.join('\n'),
    );

    if (native) {
      const expected = nativeOsz(native, melodyPath, 'melody.mid', soundFontOf(moduleDir));
      assert.ok(Buffer.from(done.osz).equals(expected.bytes), 'the same bytes as the Linux build');
    }
  });

  test('a damaged file fails by itself; the next file, by a Japanese name, still converts', async () => {
    const { send, counts } = await workerScope();
    const damaged = send({ name: '壊れた.mid', data: new Uint8Array(melody.subarray(0, 30)).fill(0x41, 0, 4) });
    const unreadable = send({ name: 'gone.mid', data: { arrayBuffer: () => Promise.reject(new Error('gone')) } });
    const japanese = send({ name: 'メロディー.mid', data: new Uint8Array(melody) });

    const failed = (await damaged).at(-1);
    assert.equal(failed.status, 1);
    assert.equal(failed.osz, null);
    assert.match(failed.error, /^エラー: /);
    assert.match((await unreadable).at(-1).error, /cannot read the file/);

    const done = (await japanese).at(-1);
    assert.equal(done.status, 0, done.error);
    assert.equal(done.oszName, 'メロディー.osz');
    assert.equal(counts.soundFont, 1, 'the SoundFont is loaded once per worker');
  });
  test("the settings: the bands asked for and the player's own SoundFont", async () => {
    const { send, counts } = await workerScope();
    const soundFont = { name: 'mine.sf3', data: readFileSync(soundFontOf(moduleDir)) };
    const messages = await send({ name: 'melody.mid', data: new Uint8Array(melody), stars: '2.3', soundFont });
    const lines = messages.filter((m) => m.type === 'line').map((m) => m.text);
    assert.equal(messages.at(-1).status, 0, messages.at(-1).error);
    assert.ok(lines.includes('SoundFont: /soundfonts/mine.sf3'), lines.join('\n'));
    assert.deepEqual(
      lines.filter((line) => line.startsWith('難易度 ')),
      ['難易度 2.30★: melody-2.30stars.osu → 1.56★ (この曲の最高)'], // as `onpu melody.mid --set --stars 2.3` says
    );
    assert.equal(counts.soundFont, 0, 'the default SoundFont is not loaded');
  });
});

describe('the command line the page runs', () => {
  test("is exactly the console's `NAME --set` for the default bands", () => {
    assert.deepEqual(commandLine('曲.mid', '1.5,2.3,3.3,4.6,5.8'), ['曲.mid', '--set']);
    assert.deepEqual(commandLine('曲.mid', '2.3,7'), ['曲.mid', '--set', '--stars', '2.3,7']);
  });

  test('takes a name that starts with a dash as a file, not an option', () => {
    assert.deepEqual(commandLine('-x.mid', '', '/soundfonts/my.sf2'), [
      './-x.mid',
      '--set',
      '--soundfont',
      '/soundfonts/my.sf2',
    ]);
  });
});
