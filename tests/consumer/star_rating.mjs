// Star ratings of beatmaps, as the published osu!standard difficulty
// calculation (osu-standard-stable, decoded with osu-parsers) gives them.
//
//   node tests/consumer/star_rating.mjs a.osu [b.osu ...]
//
// Prints one line per beatmap: the star rating, the aim and the speed
// rating, each with 17 significant digits, and the path. Exits with 2 on a
// usage error or a missing package, 1 when a beatmap cannot be decoded.
let BeatmapDecoder;
let StandardRuleset;
try {
  ({ BeatmapDecoder } = await import('osu-parsers'));
  ({ StandardRuleset } = await import('osu-standard-stable'));
} catch (error) {
  console.log(`osu-parsers or osu-standard-stable is not installed (npm ci --prefix tests/consumer): ${error.message}`);
  process.exit(2);
}

if (process.argv.length < 3) {
  console.log('usage: node star_rating.mjs beatmap.osu ...');
  process.exit(2);
}

const ruleset = new StandardRuleset();
let failed = 0;
for (const path of process.argv.slice(2)) {
  try {
    const decoded = await new BeatmapDecoder().decodeFromPath(path, { parseStoryboard: false });
    const beatmap = ruleset.applyToBeatmap(decoded);
    const attributes = ruleset.createDifficultyCalculator(beatmap).calculate();
    const digits = (value) => value.toPrecision(17);
    console.log(`${digits(attributes.starRating)} ${digits(attributes.aimDifficulty)} ` +
                `${digits(attributes.speedDifficulty)} ${path}`);
  } catch (error) {
    ++failed;
    console.log(`FAIL ${path}: ${error.message}`);
  }
}
process.exit(failed === 0 ? 0 : 1);
