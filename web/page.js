// The page: takes MIDI files from the drop zone or the file input, sends each
// to the worker at once, shows its stages and console lines, and downloads
// each set the moment it is ready.
import { BANDS, STAGES } from './convert.js';

const DEFAULT_BANDS = 5; // `--set` alone: Easy to Expert
const worker = new Worker('worker.js');
const cards = new Map();
let nextId = 1;
let userSoundFont = null;
let workerError = ''; // why the worker could not start

const $ = (id) => document.getElementById(id);

function showBands() {
  const box = $('bands');
  BANDS.forEach((band, i) => {
    const label = document.createElement('label');
    const input = document.createElement('input');
    input.type = 'checkbox';
    input.value = band.stars;
    input.checked = i < DEFAULT_BANDS;
    // A set needs at least one band: the last one ticked stays ticked.
    input.addEventListener('change', () => {
      if (!box.querySelector('input:checked')) input.checked = true;
    });
    label.append(input, ` ${band.name} `);
    const stars = document.createElement('span');
    stars.className = 'stars';
    stars.textContent = `${band.stars}★`;
    label.append(stars);
    box.append(label);
  });
}

function chosenStars() {
  return [...$('bands').querySelectorAll('input:checked')].map((input) => input.value).join(',');
}

function addFiles(files) {
  for (const file of files) {
    const id = nextId++;
    cards.set(id, newCard(file.name));
    worker.postMessage({
      type: 'convert',
      id,
      name: file.name,
      data: file,
      stars: chosenStars(),
      soundFont: userSoundFont,
    });
  }
  if (workerError) failUnfinished();
}

function newCard(name) {
  const card = $('card').content.firstElementChild.cloneNode(true);
  card.dataset.name = name;
  card.querySelector('.name').textContent = name;
  $('results').append(card);
  return { card, lines: card.querySelector('pre'), summary: card.querySelector('.summary') };
}

function setState(card, state, html) {
  card.dataset.state = state;
  card.querySelector('.state').innerHTML = html;
}

function setStage(card, stage, fraction) {
  // Reaching a stage finishes the ones before it (a short file may skip their last report).
  const at = STAGES.indexOf(stage);
  card.querySelectorAll('.stages li').forEach((li, i) => {
    if (i > at) return;
    const share = i < at ? 1 : fraction;
    li.querySelector('.bar > span').style.width = `${Math.round(share * 100)}%`;
    li.classList.toggle('active', i === at && share < 1);
    li.classList.toggle('finished', share >= 1);
  });
}

// The lines a player looks for (the beats found, each band's rating or why it
// is missing) also go above the console, which holds every line.
const SUMMARY = /^(拍: |難易度 )/;

function addLine(entry, stream, text) {
  const line = document.createElement('span');
  line.className = stream === 'err' ? 'err' : SUMMARY.test(text) ? 'rating' : '';
  line.textContent = text + '\n';
  entry.lines.append(line);
  if (stream === 'out' && SUMMARY.test(text)) {
    const item = document.createElement('li');
    item.textContent = text;
    entry.summary.append(item);
    entry.summary.hidden = false;
  }
}

function download(name, bytes) {
  const url = URL.createObjectURL(new Blob([bytes], { type: 'application/octet-stream' }));
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  return url;
}

function finish(entry, message) {
  const { card } = entry;
  card.dataset.ms = message.ms;
  card.querySelector('.time').textContent = `${(message.ms / 1000).toFixed(1)} 秒`;
  if (message.status === 0) {
    setStage(card, 'archive', 1);
    setState(card, 'done', '完了 <span class="en">Done</span>');
    card.querySelector('.mark').textContent = '○';
    const link = card.querySelector('.download');
    link.href = download(message.oszName, message.osz);
    link.download = message.oszName;
    link.textContent = `⤓ ${message.oszName} をもう一度ダウンロード (download again)`;
    link.hidden = false;
  } else {
    setState(card, 'error', '失敗 <span class="en">Failed</span>');
    card.querySelector('.mark').textContent = '×';
    const error = card.querySelector('.error');
    error.textContent = `× ${card.dataset.name}: ${message.error}`;
    error.hidden = false;
  }
}

worker.onmessage = ({ data: message }) => {
  const entry = cards.get(message.id);
  if (!entry) return;
  const { card } = entry;
  if (message.type === 'start') {
    setState(card, 'running', '変換中 <span class="en">Converting</span>');
  } else if (message.type === 'progress') {
    setStage(card, message.stage, message.fraction);
  } else if (message.type === 'line') {
    addLine(entry, message.stream, message.text);
  } else if (message.type === 'done') {
    finish(entry, message);
  }
};

// The worker could not start (its files are missing): every file given to it
// fails by its name, those still to come too.
function failUnfinished() {
  for (const entry of cards.values()) {
    if (entry.card.dataset.state === 'waiting' || entry.card.dataset.state === 'running') {
      finish(entry, {
        status: 1,
        ms: 0,
        error: `エラー: 変換器を読み込めません (cannot load the converter) ${workerError}`,
      });
    }
  }
}

worker.onerror = (event) => {
  event.preventDefault();
  workerError = event.message ?? '';
  failUnfinished();
};

function watchDrops() {
  const drop = $('drop');
  for (const type of ['dragenter', 'dragover']) {
    drop.addEventListener(type, (event) => {
      event.preventDefault();
      drop.classList.add('over');
    });
  }
  drop.addEventListener('dragleave', () => drop.classList.remove('over'));
  // Files dropped anywhere on the page count, rather than the browser opening them in its place.
  window.addEventListener('dragover', (event) => event.preventDefault());
  window.addEventListener('drop', (event) => {
    event.preventDefault();
    drop.classList.remove('over');
    addFiles(event.dataTransfer.files);
  });
}

function watchInputs() {
  const input = $('files');
  input.addEventListener('change', () => {
    addFiles(input.files);
    input.value = '';
  });
  const soundFont = $('soundfont');
  const clear = $('soundfont-clear');
  soundFont.addEventListener('change', () => {
    const file = soundFont.files[0];
    userSoundFont = file ? { name: file.name, data: file } : null;
    clear.hidden = !file;
  });
  clear.addEventListener('click', () => {
    soundFont.value = '';
    userSoundFont = null;
    clear.hidden = true;
  });
}

showBands();
watchDrops();
watchInputs();
