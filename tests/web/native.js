// What the tests compare the page's sets with: the .osz that the Linux build of
// onpu writes for the same file, made here or taken from a folder of them.
import { execFileSync } from 'node:child_process';
import { copyFileSync, existsSync, mkdtempSync, readFileSync, rmSync, statSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

export const REPO = resolve(fileURLToPath(import.meta.url), '../../..');
export const SYSTEM_SOUNDFONT = '/usr/share/sounds/sf3/FluidR3Mono_GM.sf3';

// The .osz of `midiPath` from `source`: a Linux onpu (run as `onpu NAME --set`
// on a copy named `name`, with `soundFont` as ONPU_SOUNDFONT, as the page runs
// it) or a folder of <base>.osz files. Resolves to { bytes, ms }, ms being
// the native run's time (0 for a folder).
export function nativeOsz(source, midiPath, name, soundFont) {
  const base = name.replace(/\.[^.]*$/, '');
  if (statSync(source).isDirectory()) return { bytes: readFileSync(join(source, `${base}.osz`)), ms: 0 };
  const dir = mkdtempSync(join(tmpdir(), 'onpu-native-'));
  try {
    copyFileSync(midiPath, join(dir, name));
    const start = performance.now();
    execFileSync(resolve(source), [name, '--set'], {
      cwd: dir,
      env: { ...process.env, ONPU_SOUNDFONT: resolve(soundFont) },
      stdio: 'ignore',
    });
    const ms = performance.now() - start;
    return { bytes: readFileSync(join(dir, `${base}.osz`)), ms };
  } finally {
    rmSync(dir, { recursive: true, force: true });
  }
}

// The SoundFont a site serves, else the system's copy of the same one.
export function soundFontOf(siteDir) {
  const served = join(siteDir, 'FluidR3Mono_GM.sf3');
  return existsSync(served) ? served : SYSTEM_SOUNDFONT;
}

// The songs the browser test gives the page, made in `dir`: the example, a
// 2-minute arrangement, a file with a Japanese name and a damaged file.
// Each is { name, path, good }.
export function testSongs(dir) {
  execFileSync('python3', [join(REPO, 'bench/play_songs.py'), dir], { stdio: 'ignore' });
  copyFileSync(join(dir, 'ballad.mid'), join(dir, 'バラード.mid'));
  const melody = readFileSync(join(REPO, 'examples/melody.mid'));
  // A download cut short in its header: the chunk tag itself is wrong.
  const damaged = Buffer.from(melody.subarray(0, 40));
  damaged.write('MTxx', 0, 'latin1');
  const damagedPath = join(dir, '壊れた.mid');
  writeFileSync(damagedPath, damaged);
  return [
    { name: 'melody.mid', path: join(REPO, 'examples/melody.mid'), good: true },
    { name: 'arrangement.mid', path: join(dir, 'arrangement.mid'), good: true },
    { name: 'バラード.mid', path: join(dir, 'バラード.mid'), good: true },
    { name: '壊れた.mid', path: damagedPath, good: false },
  ];
}
