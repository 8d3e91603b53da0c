// Runs the WebAssembly build of onpu under Node as the web page's worker does:
// a fresh instance, the MIDI file (and the SoundFont) in its own file system,
// callMain with the command line's arguments. Prints what the module prints
// and the progress it reports, copies every file it wrote into OUT_DIR, and
// exits with the module's status.
//
// Usage: node --no-experimental-fetch tests/wasm/run_module.js ONPU_JS FILE.mid OUT_DIR [ARG...]
//   ARG            more arguments after the file's name (e.g. --set)
//   ONPU_SOUNDFONT a SoundFont on this machine, handed to the module
//   ONPU_PROGRESS  when set, each reported stage as "progress: STAGE FRACTION"
//                  on standard error (once per stage and tenth)
'use strict';
const fs = require('fs');
const path = require('path');

async function main() {
  const [moduleJs, midiPath, outDir, ...extra] = process.argv.slice(2);
  if (!outDir) {
    console.error('usage: run_module.js ONPU_JS FILE.mid OUT_DIR [ARG...]');
    process.exit(2);
  }
  const createOnpu = require(path.resolve(moduleJs));
  const reported = new Set();
  const soundfont = process.env.ONPU_SOUNDFONT;
  const soundfontInside = soundfont ? '/soundfonts/' + path.basename(soundfont) : '';
  const onpu = await createOnpu({
    // The C library takes its environment while the instance starts.
    preRun: [instance => {
      if (soundfont) instance.ENV.ONPU_SOUNDFONT = soundfontInside;
    }],
    print: line => console.log(line),
    printErr: line => console.error(line),
    onProgress: (stage, fraction) => {
      const key = stage + ' ' + Math.floor(fraction * 10) / 10;
      if (process.env.ONPU_PROGRESS && !reported.has(key)) {
        reported.add(key);
        console.error('progress: ' + key);
      }
    },
  });
  if (soundfont) {
    onpu.FS.mkdirTree('/soundfonts');
    onpu.FS.writeFile(soundfontInside, fs.readFileSync(soundfont));
  }
  const name = path.basename(midiPath);
  onpu.FS.mkdirTree('/work');
  onpu.FS.writeFile('/work/' + name, fs.readFileSync(midiPath));
  onpu.FS.chdir('/work');
  const status = onpu.callMain([name, ...extra]);
  fs.mkdirSync(outDir, { recursive: true });
  for (const file of onpu.FS.readdir('/work')) {
    if (file === '.' || file === '..' || file === name) continue;
    fs.writeFileSync(path.join(outDir, file), onpu.FS.readFile('/work/' + file));
  }
  process.exitCode = status;
}

main().catch(error => {
  console.error(error);
  process.exit(1);
});
