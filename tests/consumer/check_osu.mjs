// Reads beatmaps that onpu wrote with a published .osu decoder (osu-parsers)
// and checks what a player's client would see in them.
//
//   node tests/consumer/check_osu.mjs expectations.json
//
// expectations.json holds a list of beatmaps to check:
//   [{"path": "song.osu", "title": "song", "version": "Circle Mode",
//     "timingPoints": 2, "samples": ["piano/60.mp3", ...], "background": "bg.png"}, ...]
// ("background", the picture's file, is checked only when given)
// "samples" names each hit object's sample file, in time order; its length
// is the number of hit objects. The decoder sorts the hit objects by time on
// loading, so the order of the lines in the file is checked on the raw text.
//
// Prints one line per beatmap and exits with 0 when every check passed, 1
// when one failed, 2 on a usage error or a missing decoder.
import { readFileSync } from 'node:fs';

let BeatmapDecoder;
try {
  ({ BeatmapDecoder } = await import('osu-parsers'));
} catch (error) {
  console.log(`osu-parsers is not installed (npm ci --prefix tests/consumer): ${error.message}`);
  process.exit(2);
}

if (process.argv.length !== 3) {
  console.log('usage: node check_osu.mjs expectations.json');
  process.exit(2);
}

// Times of the hit-object lines as they stand in the file.
function rawHitObjectTimes(text) {
  const at = text.indexOf('[HitObjects]\n');
  if (at < 0) return null;
  return text
    .slice(at + '[HitObjects]\n'.length)
    .split('\n')
    .filter((line) => line.length > 0)
    .map((line) => Number(line.split(',')[2]));
}

async function check(expected) {
  const problems = [];
  const expect = (what, actual, wanted) => {
    if (actual !== wanted) problems.push(`${what}: got ${JSON.stringify(actual)}, expected ${JSON.stringify(wanted)}`);
  };
  const beatmap = await new BeatmapDecoder().decodeFromPath(expected.path, { parseStoryboard: false });

  expect('format version', beatmap.fileFormat, 14);
  expect('game mode', beatmap.mode, 0);
  if (expected.title !== undefined) expect('title', beatmap.metadata.title, expected.title);
  if (expected.version !== undefined) expect('version', beatmap.metadata.version, expected.version);
  if (expected.background !== undefined) expect('background', beatmap.events.backgroundPath, expected.background);
  expect('timing points', beatmap.controlPoints.timingPoints.length, expected.timingPoints);
  expect('hit objects', beatmap.hitObjects.length, expected.samples.length);

  const count = Math.min(beatmap.hitObjects.length, expected.samples.length);
  for (let i = 0; i < count && problems.length < 10; ++i) {
    const names = beatmap.hitObjects[i].samples.map((sample) => sample.filename);
    expect(`samples of hit object ${i + 1}`, names.join(' '), expected.samples[i]);
  }

  const times = rawHitObjectTimes(readFileSync(expected.path, 'utf8'));
  if (times === null) {
    problems.push('no [HitObjects] section');
  } else {
    expect('hit-object lines', times.length, expected.samples.length);
    for (let i = 1; i < times.length; ++i) {
      if (!(times[i - 1] <= times[i])) {
        problems.push(`hit-object line ${i + 1} at ${times[i]} ms comes after one at ${times[i - 1]} ms`);
        break;
      }
    }
  }
  return problems;
}

const expectations = JSON.parse(readFileSync(process.argv[2], 'utf8'));
let failed = 0;
for (const expected of expectations) {
  let problems;
  try {
    problems = await check(expected);
  } catch (error) {
    problems = [`cannot decode: ${error.message}`];
  }
  if (problems.length === 0) {
    console.log(`ok ${expected.path}: ${expected.samples.length} hit objects, ${expected.timingPoints} timing points`);
  } else {
    ++failed;
    for (const problem of problems) console.log(`FAIL ${expected.path}: ${problem}`);
  }
}
process.exit(failed === 0 ? 0 : 1);
