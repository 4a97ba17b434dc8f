// The offline page in a second engine, by hand, outside CI and the set-up:
// Debian's Firefox ESR (WebDriver BiDi) and Debian's Chromium (DevTools),
// both headless and driven through puppeteer-core, open index.html from its
// folder and get the same files through the file input. Every canvas is read
// back (getImageData) in both and compared byte for byte; each file's line,
// the PNG that "Save as PNG" makes (read by the tests' own PNG reader) and
// the console are reported; Firefox's window with the first two pictures at
// 200 % is saved as docs/web-firefox.png.
//
// Needs puppeteer-core installed (no browser download) in a folder named by
// MRVLN_PUPPETEER, e.g. `npm install puppeteer-core` in /tmp/driver:
//   MRVLN_PUPPETEER=/tmp/driver node scripts/screenshots/web-page-firefox.mjs \
//       build/wasm32/readers/web OUT_DIR ODD.bmp TOP_DOWN.bmp OTHER_FILE...
// OUT_DIR gets each browser's canvases (RGBA) and saved PNG. Exits 1 if a canvas
// differs, a saved PNG is not its canvas or either console says anything.
import assert from 'node:assert/strict';
import { existsSync, mkdirSync, mkdtempSync, readdirSync, readFileSync, rmSync,
         writeFileSync } from 'node:fs';
import { createRequire } from 'node:module';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath, pathToFileURL } from 'node:url';

const [webDir, outDir, ...files] = process.argv.slice(2).map((p) => resolve(p));
if (!process.env.MRVLN_PUPPETEER || !webDir || !outDir || files.length < 2) {
  console.error('usage: MRVLN_PUPPETEER=DIR node scripts/screenshots/web-page-firefox.mjs ' +
                'WEB_DIR OUT_DIR ODD.bmp TOP_DOWN.bmp [FILE...]');
  process.exit(2);
}
// The tests' helpers want their two folders named; only readPng is used here.
process.env.MRVLN_WEB = webDir;
process.env.MRVLN_WEB_INPUTS ??= outDir;
const { readPng } = await import('../../tests/web/helpers.mjs');
const puppeteer = createRequire(join(resolve(process.env.MRVLN_PUPPETEER), 'package.json'))(
    'puppeteer-core');
const ROOT = join(dirname(fileURLToPath(import.meta.url)), '../..');
const PAGE_URL = pathToFileURL(join(webDir, 'page', 'index.html')).href;
const BROWSERS = {
  firefox: { browser: 'firefox', executablePath: '/usr/bin/firefox-esr' },
  chromium: {
    browser: 'chrome', executablePath: '/usr/bin/chromium',
    args: ['--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync',
           '--force-color-profile=srgb'],
  },
};
const SHOWN = `document.body.dataset.busy === 'no' && [...document.querySelectorAll('.file')]
    .every((li) => li.dataset.kind !== 'checking' &&
                   (li.dataset.kind !== 'picture' || li.dataset.state === 'shown'))`;

async function openWith(page, paths) {
  await page.goto(PAGE_URL, { waitUntil: 'load' });
  await (await page.$('#file-input')).uploadFile(...paths);
  await page.waitForFunction(`document.querySelectorAll('.file').length === ${paths.length} &&
                              ${SHOWN}`, { timeout: 60_000 });
}

async function run(name) {
  const downloads = mkdtempSync(join(tmpdir(), `mrvln-${name}-`));
  const browser = await puppeteer.launch({ headless: true, ...BROWSERS[name] });
  const messages = [], requests = [];
  try {
    console.log(`${name}: ${await browser.version()}`);
    const context = await browser.createBrowserContext(
        { downloadBehavior: { policy: 'allow', downloadPath: downloads } });
    const page = await context.newPage();
    page.on('console', (m) => messages.push(`${m.type()}: ${m.text()}`));
    page.on('pageerror', (e) => messages.push(`pageerror: ${e.message}`));
    page.on('request', (r) => requests.push(r.url()));
    await page.setViewport({ width: 1280, height: 2400, deviceScaleFactor: 1 });
    await openWith(page, files);
    const lines = await page.$$eval('.file', (items) => items.map((li) => ({
      name: li.querySelector('h2').textContent, kind: li.dataset.kind,
      line: li.querySelector('.verdict').firstChild.textContent })));
    const canvases = await page.$$eval('.file canvas', (all) => all.map((c) => {
      const data = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;
      let text = '';
      for (let i = 0; i < data.length; i += 0x8000)
        text += String.fromCharCode.apply(null, data.subarray(i, i + 0x8000));
      return { name: c.closest('.file').querySelector('h2').textContent,
               width: c.width, height: c.height, rgba: btoa(text) };
    }));
    for (const c of canvases) c.rgba = Buffer.from(c.rgba, 'base64');
    mkdirSync(join(outDir, name), { recursive: true });
    for (const c of canvases) writeFileSync(join(outDir, name, `${c.name}.rgba`), c.rgba);

    await page.$eval('.file .save', (button) => button.click());
    const pngName = canvases[0].name.replace(/\.bmp$/i, '.png');
    for (let t = 0; !existsSync(join(downloads, pngName)) ||
                    readdirSync(downloads).some((f) => f.endsWith('.part')); ++t) {
      if (t > 200) throw new Error(`${name}: no ${pngName} in ${downloads}`);
      await new Promise((r) => setTimeout(r, 50));
    }
    const png = readFileSync(join(downloads, pngName));
    writeFileSync(join(outDir, name, pngName), png);
    const back = readPng(new Uint8Array(png));
    const saved = back.width === canvases[0].width && back.height === canvases[0].height &&
                  Buffer.from(back.rgba).equals(canvases[0].rgba);

    if (name === 'firefox') {
      await page.setViewport({ width: 900, height: 1000, deviceScaleFactor: 1 });
      await openWith(page, files.slice(0, 2));
      await page.select('#zoom', '2');
      await page.waitForFunction(SHOWN);
      await page.screenshot({ path: join(ROOT, 'docs/web-firefox.png') });
    }
    return { lines, canvases, saved, messages, requests };
  } finally {
    await browser.close();
    rmSync(downloads, { recursive: true, force: true });
  }
}

const got = {};
for (const name of Object.keys(BROWSERS)) got[name] = await run(name);
const { firefox, chromium } = got;
for (const [name, r] of Object.entries(got)) {
  for (const l of r.lines) console.log(`${name}: ${l.name}: ${l.kind}: ${l.line}`);
  console.log(`${name}: saved PNG equals its canvas: ${r.saved}`);
  console.log(`${name}: console: ${r.messages.length ? r.messages.join(' | ') : 'nothing'}`);
  const outside = r.requests.filter((u) => !/^(file|blob|data):/.test(u));
  console.log(`${name}: ${r.requests.length} requests, ${outside.length} outside the folder`);
}
assert.deepEqual(firefox.lines, chromium.lines, 'the same lines in both');
assert.equal(firefox.canvases.length, chromium.canvases.length);
let bytes = 0, differing = 0;
firefox.canvases.forEach((f, i) => {
  const c = chromium.canvases[i];
  assert.deepEqual([f.name, f.width, f.height], [c.name, c.width, c.height]);
  bytes += f.rgba.length;
  const same = f.rgba.equals(c.rgba);
  if (!same) ++differing;
  console.log(`${f.name}: ${f.width} x ${f.height}, ${f.rgba.length} bytes, ` +
              `${same ? 'identical' : 'DIFFERENT'}`);
});
console.log(`${firefox.canvases.length} canvases, ${bytes} bytes compared, ` +
            `${differing} differing`);
process.exitCode = differing || !firefox.saved || !chromium.saved ||
                   firefox.messages.length || chromium.messages.length ? 1 : 0;
