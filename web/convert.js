// The conversion behind the page: one MIDI file in, onpu's console lines, its
// progress and the beatmap set's bytes out. It runs onpu's WebAssembly module
// exactly as the command line runs, a fresh instance per file, so a file that
// breaks the module cannot spoil the next one. Nothing here touches the DOM or
// the network: the worker (worker.js) gives it the module and the SoundFont,
// and the tests under Node give it the same from disk.

export const STAGES = ['reading', 'maps', 'render', 'mp3', 'archive'];

// The bands of a set and the star rating onpu aims at in each; `--set` alone
// makes the first five.
export const BANDS = [
  { name: 'Easy', stars: '1.5' },
  { name: 'Normal', stars: '2.3' },
  { name: 'Hard', stars: '3.3' },
  { name: 'Insane', stars: '4.6' },
  { name: 'Expert', stars: '5.8' },
  { name: 'Expert+', stars: '7' },
];
const SET_STARS = BANDS.slice(0, 5)
  .map((band) => band.stars)
  .join(',');

const WORK_DIR = '/work';
const SOUNDFONT_DIR = '/soundfonts';

// The command line for one file. `stars` is a comma-separated list of targets,
// or empty for the set's default spread. A name that starts with '-' would be
// read as an option, so it goes in as a path.
export function commandLine(name, stars = '', soundFontPath = '') {
  const args = [name.startsWith('-') ? './' + name : name, '--set'];
  if (stars && stars !== SET_STARS) args.push('--stars', stars);
  if (soundFontPath) args.push('--soundfont', soundFontPath);
  return args;
}

// A file name as the module's file system takes it: no folder part.
function leafName(name) {
  const leaf = String(name).split(/[\\/]/).pop();
  return leaf === '' || leaf === '.' || leaf === '..' ? 'song.mid' : leaf;
}

async function bytesOf(data) {
  if (data instanceof Uint8Array) return data;
  if (data instanceof ArrayBuffer) return new Uint8Array(data);
  if (data && typeof data.arrayBuffer === 'function') return new Uint8Array(await data.arrayBuffer());
  throw new Error('no file data');
}

// Calls `emit` at most once per percent of a stage, and always at its ends.
function progressReporter(emit) {
  let lastStage = '';
  let lastPercent = -1;
  return (stage, fraction) => {
    const percent = Math.max(0, Math.min(100, Math.floor(fraction * 100)));
    if (stage === lastStage && percent === lastPercent) return;
    lastStage = stage;
    lastPercent = percent;
    emit({ type: 'progress', stage, fraction: Math.max(0, Math.min(1, fraction)) });
  };
}

// `loadModule()` resolves to the compiled WebAssembly.Module and
// `loadSoundFont()` to the default SoundFont's bytes; each is called once and
// its result reused for every file (a failed load is tried again next time).
export class Converter {
  constructor({ createOnpu, loadModule, loadSoundFont }) {
    this.createOnpu = createOnpu;
    this.module = once(loadModule);
    this.soundFont = once(loadSoundFont);
  }

  // Converts one file. `job` is { name, data, stars, soundFont }: data is a
  // Blob, an ArrayBuffer or a Uint8Array; soundFont, if given, is the user's
  // own { name, data }. Messages go to `emit` as they come:
  //   { type: 'progress', stage, fraction }  { type: 'line', stream: 'out' | 'err', text }
  // Resolves to { status, oszName, osz, error }: status 0 with the set's bytes,
  // or 1 with the error to show and no bytes.
  async convert(job, emit) {
    const failure = (error) => ({ status: 1, oszName: '', osz: null, error });
    let inputs;
    try {
      inputs = await this.inputs(job);
    } catch (e) {
      return failure(e.message);
    }
    const { name, midi, soundFont, wasmModule } = inputs;
    const errors = [];
    let onpu;
    try {
      onpu = await this.startInstance(wasmModule, soundFont, emit, errors);
    } catch (e) {
      return failure(`エラー: 変換器を起動できません (cannot start the converter): ${e?.message ?? e}`);
    }
    onpu.FS.mkdirTree(SOUNDFONT_DIR);
    onpu.FS.writeFile(soundFont.path, soundFont.bytes);
    onpu.FS.mkdirTree(WORK_DIR);
    onpu.FS.writeFile(`${WORK_DIR}/${name}`, midi);
    onpu.FS.chdir(WORK_DIR);

    let status;
    try {
      status = onpu.callMain(commandLine(name, job.stars, soundFont.own ? soundFont.path : ''));
    } catch (e) {
      status = 1;
      errors.push(`エラー: 変換が止まりました (the conversion stopped): ${e?.message ?? e}`);
    }
    // The set is the one .osz the run wrote; onpu names it after the file.
    const oszName = onpu.FS.readdir(WORK_DIR).find((entry) => entry.endsWith('.osz')) ?? '';
    if (status !== 0 || !oszName) {
      return failure(errors.join('\n') || 'エラー: 譜面セットができませんでした (no beatmap set was written)');
    }
    return { status: 0, oszName, osz: onpu.FS.readFile(`${WORK_DIR}/${oszName}`), error: '' };
  }

  // A fresh instance of the module, its console lines and progress going to
  // `emit` and its error lines also to `errors`. Rejects when the module
  // cannot be instantiated (emscripten would otherwise wait for ever).
  startInstance(wasmModule, soundFont, emit, errors) {
    return new Promise((resolveInstance, reject) => {
      this.createOnpu({
        // The C library reads its environment while the instance starts, so
        // ENV is set before that, not once createOnpu has resolved.
        preRun: [
          (instance) => {
            if (!soundFont.own) instance.ENV.ONPU_SOUNDFONT = soundFont.path;
          },
        ],
        print: (text) => emit({ type: 'line', stream: 'out', text }),
        printErr: (text) => {
          errors.push(text);
          emit({ type: 'line', stream: 'err', text });
        },
        onProgress: progressReporter(emit),
        instantiateWasm: (imports, done) => {
          WebAssembly.instantiate(wasmModule, imports).then((instance) => done(instance, wasmModule), reject);
          return {};
        },
      }).then(resolveInstance, reject);
    });
  }

  // What a run needs: the file's name and bytes, the SoundFont (the user's own
  // or the default) and the compiled module. Throws an Error whose message is
  // the one to show when one of them cannot be had.
  async inputs(job) {
    const name = leafName(job.name);
    const midi = await bytesOf(job.data).catch(() => {
      throw new Error('エラー: ファイルを読めません (cannot read the file)');
    });
    let soundFont;
    if (job.soundFont) {
      const bytes = await bytesOf(job.soundFont.data).catch(() => {
        throw new Error('エラー: SoundFont を読めません (cannot read the SoundFont)');
      });
      soundFont = { own: true, path: `${SOUNDFONT_DIR}/${leafName(job.soundFont.name)}`, bytes };
    }
    try {
      soundFont ??= { own: false, path: `${SOUNDFONT_DIR}/FluidR3Mono_GM.sf3`, bytes: await this.soundFont() };
      return { name, midi, soundFont, wasmModule: await this.module() };
    } catch (e) {
      throw new Error(`エラー: 変換器を読み込めません (cannot load the converter): ${e.message}`);
    }
  }
}

function once(load) {
  let pending = null;
  return () => {
    pending ??= Promise.resolve()
      .then(load)
      .catch((e) => {
        pending = null;
        throw e;
      });
    return pending;
  };
}

// Answers the page's messages on `scope` (the worker's global scope, or a
// stand-in under Node), one file after another:
//   in:  { type: 'convert', id, name, data, stars, soundFont }
//   out: { type: 'start' | 'progress' | 'line', id, ... } while it runs, then
//        { type: 'done', id, status, oszName, osz, error, ms }
export function serve(scope, converter) {
  let queue = Promise.resolve();
  scope.onmessage = (event) => {
    const job = event.data;
    if (job?.type !== 'convert') return;
    queue = queue.then(() => run(scope, converter, job));
  };
}

async function run(scope, converter, job) {
  const { id } = job;
  const start = Date.now();
  scope.postMessage({ type: 'start', id });
  let result;
  try {
    result = await converter.convert(job, (message) => scope.postMessage({ ...message, id }));
  } catch (e) {
    result = { status: 1, oszName: '', osz: null, error: `エラー: ${e?.message ?? e}` };
  }
  const done = { type: 'done', id, ...result, ms: Date.now() - start };
  scope.postMessage(done, result.osz ? [result.osz.buffer] : []);
}
