// The page in a real browser: Debian's Chromium, headless, with networking
// off, opens index.html from its folder; the samples and fixtures go in
// through the file input. Checked: the pixels on every canvas and on the
// screen at 100 % and 200 %, each file's line (refusals and other files),
// the PNG and zip that saving makes, the keys, a phone's screen, and that
// no request leaves the folder. And the package itself in the browser, with
// both modules, on every fixture and fuzz seed, through decode and decodeInto.
import assert from 'node:assert/strict';
import { existsSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, dirname, join } from 'node:path';
import { after, before, test } from 'node:test';
import { fileURLToPath, pathToFileURL } from 'node:url';

import { Chromium } from './chromium.mjs';
import { INPUTS, manifest, PACKAGE, PAGE, readPng, readZip } from './helpers.mjs';

const ROOT = join(dirname(fileURLToPath(import.meta.url)), '../..');
const PAGE_URL = pathToFileURL(join(PAGE, 'index.html')).href;

// What goes in, in this order, with what each must show: the samples (as
// the native core decodes them), fixtures (from the channel tables) and a
// PNG file of the project's own documentation.
const known = new Map([...manifest('core'), ...manifest('fixtures')].map((e) => [e.input, e]));
const sample = (name) => known.get(join(INPUTS, 'samples', name));
const fixture = (name) => known.get(join(INPUTS, 'fixtures', `${name}.bmp`));
const FILES = [
  sample('colour_chart_odd_173x97.bmp'),
  sample('blend_top_down_255x-128.bmp'),
  sample('not_morvellane_24bit.bmp'),
  sample('truncated_64x64.bmp'),
  fixture('every_value'),
  fixture('every_value_top_down'),
  fixture('chart_1x-2'),
  fixture('limit_passed'),
  fixture('negative_width'),
  fixture('cut_0'),
  { input: join(ROOT, 'docs/sample.png'), reason: 'not-morvellane', what: 'a PNG image' },
];
// Refusals in the core's words, unchanged.
const LINES = {
  'not-morvellane': (f) => `Not a Morvellane bitmap (${f.what ?? 'an ordinary BMP image'}): left alone.`,
  truncated: () => 'truncated Morvellane bitmap: the file ends after 4129 of the 8258 bytes of ' +
                   'its 64 x 64 pixels',
  'too-large': () => 'Morvellane bitmap too large: 8192 x 8193 pixels, more than the limit of ' +
                     '256 MiB decoded',
  'negative-width': () => 'broken Morvellane bitmap: its width is negative (-4)',
};
fixture('cut_0').what = 'an empty file';

let browser, page, downloads;
const requests = [];

before(async () => {
  for (const f of FILES) assert.ok(f && existsSync(f.input), 'every input is written');
  downloads = mkdtempSync(join(tmpdir(), 'mrvln-downloads-'));
  browser = new Chromium(['--force-color-profile=srgb']);
  page = await browser.newPage(1280, 2400);
  browser.listen(({ method, params }) => {
    if (method === 'Network.requestWillBeSent') requests.push(params.request.url);
  });
  await browser.send('Network.enable', {}, page);
  await browser.send('Network.emulateNetworkConditions',
                     { offline: true, latency: 0, downloadThroughput: -1, uploadThroughput: -1 },
                     page);
  await browser.send('Browser.setDownloadBehavior',
                     { behavior: 'allow', downloadPath: downloads, eventsEnabled: true });
  await browser.navigate(page, PAGE_URL);
  await chooseFiles(page, FILES.map((f) => f.input));
});

after(async () => {
  await browser?.close();
  rmSync(downloads, { recursive: true, force: true });
});

async function chooseFiles(session, paths) {
  const { root } = await browser.send('DOM.getDocument', {}, session);
  const { nodeId } = await browser.send('DOM.querySelector',
                                        { nodeId: root.nodeId, selector: '#file-input' }, session);
  await browser.send('DOM.setFileInputFiles', { nodeId, files: paths }, session);
  await browser.waitFor(session, `document.body.dataset.busy === 'no' &&
      document.querySelectorAll('.file').length === ${paths.length} &&
      [...document.querySelectorAll('.file')].every((li) => li.dataset.kind !== 'checking' &&
          (li.dataset.kind !== 'picture' || li.dataset.state === 'shown'))`);
}

// The RGBA of the canvas of file `index`.
async function canvasPixels(index) {
  const base64 = await browser.evaluate(page, `(() => {
    const canvas = document.querySelectorAll('.file')[${index}].querySelector('canvas');
    const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
    let text = '';
    for (let i = 0; i < data.length; i += 0x8000)
      text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
    return btoa(text);
  })()`);
  return Buffer.from(base64, 'base64');
}

// `rgba` scaled up `scale` times by repeating each pixel.
function repeated(rgba, width, height, scale) {
  const out = Buffer.alloc(rgba.length * scale * scale);
  for (let y = 0; y < height * scale; ++y)
    for (let x = 0; x < width * scale; ++x) {
      const from = 4 * (Math.floor(y / scale) * width + Math.floor(x / scale));
      rgba.copy(out, 4 * (y * width * scale + x), from, from + 4);
    }
  return out;
}

// Whether the screen shows file `index`'s picture exactly, each pixel as a
// block of `scale` x `scale` screen pixels: the block grid is looked for a
// screen pixel or two around where the layout puts the canvas, since the
// browser rounds positions onto the screen's pixels.
async function shownExactly(index, want, width, height, scale, session = page) {
  const box = await browser.evaluate(session, `(() => {
    const canvas = document.querySelectorAll('.file')[${index}].querySelector('canvas');
    canvas.scrollIntoView();
    const r = canvas.getBoundingClientRect();
    return { x: r.x * devicePixelRatio, y: r.y * devicePixelRatio };
  })()`);
  const { data } = await browser.send('Page.captureScreenshot', { format: 'png' }, session);
  const screen = readPng(Buffer.from(data, 'base64'));
  const expected = repeated(want, width, height, scale);
  const rowBytes = 4 * width * scale;
  for (let y = Math.floor(box.y) - 2; y <= Math.ceil(box.y) + 2; ++y)
    for (let x = Math.floor(box.x) - 2; x <= Math.ceil(box.x) + 2; ++x) {
      if (x < 0 || y < 0 || x + width * scale > screen.width || y + height * scale > screen.height)
        continue;
      let same = true;
      for (let row = 0; row < height * scale && same; ++row) {
        const at = 4 * ((y + row) * screen.width + x);
        same = Buffer.from(screen.rgba.buffer, at, rowBytes)
                   .equals(expected.subarray(row * rowBytes, (row + 1) * rowBytes));
      }
      if (same) return true;
    }
  return false;
}

async function pressKey(key) {
  for (const type of ['keyDown', 'keyUp'])
    await browser.send('Input.dispatchKeyEvent', { type, key, text: key }, page);
}

async function download(click, name) {
  const done = browser.event('Browser.downloadProgress', undefined,
                             (p) => p.state === 'completed' || p.state === 'canceled');
  await browser.evaluate(page, click);
  assert.equal((await done).state, 'completed');
  return new Uint8Array(readFileSync(join(downloads, name)));
}

test('each file gets its line: size, reason or what it is', async () => {
  const lines = await browser.evaluate(page, `[...document.querySelectorAll('.file')].map((li) =>
      ({ name: li.querySelector('h2').textContent, kind: li.dataset.kind,
         reason: li.dataset.reason, line: li.querySelector('.verdict').firstChild.textContent }))`);
  FILES.forEach((f, i) => {
    const got = lines[i];
    assert.equal(got.name, basename(f.input));
    if (!f.reason) {
      assert.equal(got.kind, 'picture', got.name);
      assert.equal(got.line, `Morvellane bitmap, ${f.width} × ${f.height} pixels`, got.name);
      return;
    }
    assert.equal(got.kind, f.reason === 'not-morvellane' ? 'other' : 'refused', got.name);
    if (got.kind === 'refused') assert.equal(got.reason, f.reason, got.name);
    assert.equal(got.line, LINES[f.reason](f), got.name);
  });
});

test('every canvas holds the exact pixels', async () => {
  for (const [i, f] of FILES.entries()) {
    if (f.reason) continue;
    assert.ok((await canvasPixels(i)).equals(readFileSync(f.rgba)), basename(f.input));
  }
});

test('the screen shows them exactly at 100 % and 200 %, never smoothed', async () => {
  const odd = FILES[0];
  assert.equal(await browser.evaluate(page, `getComputedStyle(document.querySelector('canvas'))
                                              .imageRendering`), 'pixelated');
  for (const index of [0, 1, 5]) {
    const f = FILES[index];
    assert.ok(await shownExactly(index, readFileSync(f.rgba), f.width, f.height, 1),
              basename(f.input));
  }
  await pressKey('+');
  assert.equal(await browser.evaluate(page, 'document.querySelector("#zoom").value'), '2');
  assert.ok(await shownExactly(0, readFileSync(odd.rgba), odd.width, odd.height, 2));
  await pressKey('0');
  assert.equal(await browser.evaluate(page, 'document.querySelector("#zoom").value'), '1');
});

test('"Save as PNG" gives the exact picture', async () => {
  const odd = FILES[0];
  const png = await download(`document.querySelector('.file .save').click()`,
                             'colour_chart_odd_173x97.png');
  const back = readPng(png);
  assert.deepEqual([back.width, back.height], [odd.width, odd.height]);
  assert.ok(Buffer.from(back.rgba).equals(readFileSync(odd.rgba)));
});

test('"Save all" gives a zip with every picture as an exact PNG', async () => {
  const zip = await download(`document.querySelector('#save-all').click()`,
                             'morvellane-pictures.zip');
  const pictures = FILES.filter((f) => !f.reason);
  const entries = readZip(zip);
  assert.deepEqual(entries.map((e) => e.name),
                   pictures.map((f) => basename(f.input).replace(/\.bmp$/, '.png')));
  entries.forEach((e, i) => {
    const back = readPng(e.bytes);
    assert.deepEqual([back.width, back.height], [pictures[i].width, pictures[i].height]);
    assert.ok(Buffer.from(back.rgba).equals(readFileSync(pictures[i].rgba)), e.name);
  });
});

test('on a phone: no sideways scrolling, each picture pixel 3 x 3 screen pixels at 100 %', async () => {
  const phone = await browser.newPage(390, 844);
  await browser.send('Emulation.setDeviceMetricsOverride',
                     { width: 390, height: 844, deviceScaleFactor: 3, mobile: true }, phone);
  await browser.navigate(phone, PAGE_URL);
  await chooseFiles(phone, [FILES[0].input, join(INPUTS, 'fixtures', 'chart_320x240.bmp')]);
  const layout = await browser.evaluate(phone, `({
    page: document.documentElement.scrollWidth, screen: innerWidth,
    canvas: document.querySelector('canvas').getBoundingClientRect().width,
    font: parseFloat(getComputedStyle(document.body).fontSize) })`);
  assert.ok(layout.page <= layout.screen, `page ${layout.page} px wide on ${layout.screen}`);
  assert.equal(layout.screen, 390);
  assert.equal(layout.canvas, FILES[0].width);
  assert.ok(layout.font >= 16);
  assert.ok(await shownExactly(0, readFileSync(FILES[0].rgba), FILES[0].width, FILES[0].height, 3,
                               phone));
});

test('the package in the browser: every fixture and fuzz seed, both modules', async () => {
  const session = await browser.newPage(400, 300);
  const source = readFileSync(join(PACKAGE, 'morvellane.js'), 'utf8');
  await browser.evaluate(session, `(async () => {
    const url = URL.createObjectURL(new Blob([${JSON.stringify(source)}],
                                              { type: 'text/javascript' }));
    const m = await import(url);
    window.decoders = [await m.createDecoder({ simd: true }), await m.createDecoder({ simd: false })];
    // decode, and decodeInto a target that agrees with it.
    window.answer = (base64) => {
      const bytes = Uint8Array.from(atob(base64), (c) => c.charCodeAt(0));
      return window.decoders.map((decoder) => {
        try {
          const { width, height, data } = decoder.decode(bytes);
          const target = new Uint8ClampedArray(data.length);
          decoder.decodeInto(bytes, target);
          let text = '';
          for (let i = 0; i < data.length; i += 0x8000)
            text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
          return { width, height, rgba: btoa(text), path: decoder.path,
                   into: target.every((v, i) => v === data[i]) };
        } catch (error) {
          return { reason: error.reason, code: error.code, message: error.message,
                   path: decoder.path };
        }
      });
    };
  })()`);
  const entries = [...manifest('fixtures'), ...manifest('core')];
  for (const entry of entries) {
    const bytes = readFileSync(entry.input).toString('base64');
    for (const got of await browser.evaluate(session, `answer(${JSON.stringify(bytes)})`)) {
      const what = `${basename(entry.input)} (${got.path})`;
      if (entry.reason) {
        assert.deepEqual([got.reason, got.code, got.message],
                         [entry.reason, entry.code, entry.message], what);
      } else {
        assert.deepEqual([got.width, got.height, got.into], [entry.width, entry.height, true], what);
        assert.ok(Buffer.from(got.rgba, 'base64').equals(readFileSync(entry.rgba)), what);
      }
    }
  }
  assert.deepEqual(await browser.evaluate(session, 'decoders.map((d) => d.path)'),
                   ['simd128', 'plain']);
});

test('nothing is requested but the page\'s own files', () => {
  assert.ok(requests.length >= 3, 'the requests were seen');
  for (const url of requests) assert.match(url, /^(file|blob|data):/);
});
