// One measure of the browser benchmark, in a page of its own: the picture
// (served as /picture.bmp) decoded ?loads=N times one after the other, as a
// viewer's loop over a folder does, without warm-up. Measures: the package's
// calls, and the browser's own BMP decoder (createImageBitmap of a Blob typed
// image/bmp, drawn onto a canvas and read back, so that it ends with the
// pixels in hand as the package does).
const params = new URLSearchParams(location.search);
const measure = params.get('measure');
const loads = Number(params.get('loads') || 11);
const bytes = new Uint8Array(await (await fetch('picture.bmp')).arrayBuffer());
const m = await import('./package/morvellane.js');
const view = new DataView(bytes.buffer);
const width = view.getInt32(18, true);
const height = Math.abs(view.getInt32(22, true));
const size = width * height * 4;

// Each: its label, and a maker of its load, which returns the pixels it ends with.
const MEASURES = {
  decode: ['package: await decode(bytes)', () => async () => (await m.decode(bytes)).data],
  'decode-into': ['package: await decodeInto(bytes, target)', () => {
    let target;
    return async () => {
      const picture = await m.info(bytes);
      if (target?.length !== picture.width * picture.height * 4)
        target = new Uint8ClampedArray(picture.width * picture.height * 4);
      return (await m.decodeInto(bytes, target)).data;
    };
  }],
  'decode-into-plain': ['package, plain module: decoder.decodeInto(bytes, target)', () => {
    let decoder, target;
    return async () => {
      decoder ??= await m.createDecoder({ simd: false });
      const picture = decoder.info(bytes);
      if (target?.length !== picture.width * picture.height * 4)
        target = new Uint8ClampedArray(picture.width * picture.height * 4);
      return decoder.decodeInto(bytes, target).data;
    };
  }],
  'decode-into-drawn': ['package: decodeInto, drawn onto a canvas', () => {
    let target, context;
    return async () => {
      const picture = await m.info(bytes);
      if (target?.length !== picture.width * picture.height * 4)
        target = new Uint8ClampedArray(picture.width * picture.height * 4);
      await m.decodeInto(bytes, target);
      context ??= new OffscreenCanvas(picture.width, picture.height).getContext('2d');
      context.putImageData(new ImageData(target, picture.width, picture.height), 0, 0);
      return target;
    };
  }],
  'browser-drawn-read-back': ['browser BMP decoder: createImageBitmap, drawn and read back', () => {
    let context;
    return async () => {
      const bitmap = await createImageBitmap(new Blob([bytes], { type: 'image/bmp' }));
      context ??= new OffscreenCanvas(bitmap.width, bitmap.height)
                      .getContext('2d', { willReadFrequently: true });
      context.drawImage(bitmap, 0, 0);
      bitmap.close();
      return context.getImageData(0, 0, width, height).data;
    };
  }],
  'browser-bitmap': ['browser BMP decoder: createImageBitmap alone (no pixels in hand)',
                     () => async () => {
                       (await createImageBitmap(new Blob([bytes], { type: 'image/bmp' }))).close();
                     }],
};

const results = { userAgent: navigator.userAgent, width, height, measure, times: [],
                  label: MEASURES[measure]?.[0] };
if (!MEASURES[measure]) {
  results.error = `unknown measure; the measures: ${Object.keys(MEASURES).join(', ')}`;
} else if (measure.startsWith('decode-into') && typeof m.decodeInto !== 'function') {
  results.error = 'this package has no decodeInto';
} else {
  const load = MEASURES[measure][1]();
  let pixels;
  for (let i = 0; i < loads; ++i) {
    const start = performance.now();
    pixels = await load();
    results.times.push(performance.now() - start);
  }
  // Checked once, after the loads: the size, and how far the browser's
  // pixels are from the exact ones.
  if (pixels !== undefined && pixels.length !== size) results.error = 'wrong size decoded';
  if (measure.startsWith('browser') && pixels !== undefined) {
    const exact = (await m.decode(bytes)).data;
    let differing = 0;
    for (let i = 0; i < size; i += 4)
      if (exact[i] !== pixels[i] || exact[i + 1] !== pixels[i + 1] || exact[i + 2] !== pixels[i + 2])
        ++differing;
    results.differing = differing;
  }
}
document.querySelector('#results').textContent = JSON.stringify(results, null, 2);
document.body.dataset.results = JSON.stringify(results);
