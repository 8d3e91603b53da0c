// The page's Web Worker: loads onpu's WebAssembly module and converts the files
// the page sends, one after another, so the page stays responsive. The
// protocol and the conversion live in convert.js; this file only fetches the
// module and the SoundFont that sit beside the page, once per worker.
/* global importScripts, createOnpu */
importScripts('onpu.js');

const pending = [];
self.onmessage = (event) => pending.push(event);

import('./convert.js').then(({ Converter, serve }) => {
  const fetchBytes = async (url) => {
    const response = await fetch(url);
    if (!response.ok) throw new Error(`${url}: ${response.status} ${response.statusText}`);
    return new Uint8Array(await response.arrayBuffer());
  };
  const converter = new Converter({
    createOnpu,
    loadModule: async () => WebAssembly.compile(await fetchBytes('onpu.wasm')),
    loadSoundFont: () => fetchBytes('FluidR3Mono_GM.sf3'),
  });
  serve(self, converter);
  // Fetched and compiled while the player picks files; a failure here is
  // tried again, and reported, with the first file.
  converter.module().catch(() => {});
  converter.soundFont().catch(() => {});
  for (const event of pending.splice(0)) self.onmessage(event);
});
