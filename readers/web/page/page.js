// The page: files are picked or dropped, the worker says what each one is and
// decodes the Morvellane bitmaps among them, which are drawn at a whole
// scale (1, 2, 3, 4, 6 or 8 CSS pixels a side per picture pixel, never
// smoothed) as they come into view. Nothing leaves the machine: no request,
// no upload; saving makes the files here.
'use strict';

const worker = new Worker(URL.createObjectURL(
    new Blob([MORVELLANE_WORKER_SOURCE], { type: 'text/javascript' })));
const waiting = new Map();  // request id -> { resolve, progress }
let nextRequest = 1;

function ask(request, progress) {
  return new Promise((resolve) => {
    const id = nextRequest++;
    waiting.set(id, { resolve, progress });
    worker.postMessage({ id, ...request });
  });
}

worker.onmessage = ({ data }) => {
  const request = waiting.get(data.id);
  if (!request) return;
  if (data.progress) return request.progress?.(data.progress);
  waiting.delete(data.id);
  request.resolve(data);
};
worker.onerror = (event) => {
  event.preventDefault();
  status.textContent = `The decoder stopped: ${event.message || 'unknown error'}. Reload the page.`;
};

const $ = (selector) => document.querySelector(selector);
const list = $('#files');
const status = $('#status');
const progress = $('#progress');
const zoomSelect = $('#zoom');
const saveAll = $('#save-all');
const entries = [];
const work = { total: 0, done: 0 };

// ---- progress ----
function began(count = 1) {
  work.total += count;
  showProgress();
}
function ended() {
  work.done += 1;
  showProgress();
}
function showProgress() {
  const busy = work.done < work.total;
  progress.hidden = !busy;
  progress.max = work.total;
  progress.value = work.done;
  const pictures = entries.filter((e) => e.kind === 'picture').length;
  const shown = entries.filter((e) => e.state === 'shown').length;
  const counts = `${entries.length} ${entries.length === 1 ? 'file' : 'files'}, ` +
                 `${pictures} Morvellane ${pictures === 1 ? 'bitmap' : 'bitmaps'}, ${shown} shown`;
  status.textContent = busy ? `Working: ${work.done} of ${work.total} steps done (${counts})`
                            : entries.length ? `Done: ${counts}` : '';
  document.body.dataset.busy = busy ? 'yes' : 'no';
  saveAll.disabled = pictures === 0;
}

// ---- scale ----
function zoom() {
  return Number(zoomSelect.value);
}
// At 100 % one picture pixel takes one CSS pixel, as every picture on the
// web: a block of 2 x 2 screen pixels on a screen of ratio 2, 3 x 3 on one of
// 3. Whole numbers only, so that every block is the same size; the frame
// holds the place until the picture is decoded.
function applyZoom(entry) {
  if (!entry.frame) return;
  const target = entry.canvas ?? entry.frame;
  target.style.width = `${entry.width * zoom()}px`;
  target.style.height = `${entry.height * zoom()}px`;
}
function applyZoomToAll() {
  for (const entry of entries) applyZoom(entry);
}
zoomSelect.addEventListener('change', applyZoomToAll);
function stepZoom(step) {
  const index = zoomSelect.selectedIndex + step;
  if (index < 0 || index >= zoomSelect.options.length) return;
  zoomSelect.selectedIndex = index;
  applyZoomToAll();
}
document.addEventListener('keydown', (event) => {
  if (event.ctrlKey || event.metaKey || event.altKey) return;
  if (event.target.closest('input, select, textarea')) return;
  if (event.key === '+' || event.key === '=') stepZoom(1);
  else if (event.key === '-') stepZoom(-1);
  else if (event.key === '0') {
    zoomSelect.selectedIndex = 0;
    applyZoomToAll();
  } else return;
  event.preventDefault();
});

// ---- names ----
function pngName(path) {
  return /\.bmp$/i.test(path) ? path.replace(/\.bmp$/i, '.png') : `${path}.png`;
}
// Different files may have the same name (from different folders).
function uniqueName(name, taken) {
  let candidate = name;
  for (let n = 2; taken.has(candidate); ++n) candidate = name.replace(/(\.png)$/i, ` (${n})$1`);
  taken.add(candidate);
  return candidate;
}

function saveBlob(blob, name) {
  const url = URL.createObjectURL(blob);
  const link = document.createElement('a');
  link.href = url;
  link.download = name;
  document.body.append(link);
  link.click();
  link.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60_000);
}

// ---- one file ----
function element(tag, attributes = {}, text = '') {
  const node = document.createElement(tag);
  for (const [name, value] of Object.entries(attributes)) node.setAttribute(name, value);
  if (text) node.textContent = text;
  return node;
}

const visible = new IntersectionObserver((seen) => {
  for (const item of seen) {
    if (!item.isIntersecting) continue;
    visible.unobserve(item.target);
    show(entries.find((e) => e.frame === item.target));
  }
}, { rootMargin: '600px' });

async function addFile(file, path) {
  const entry = { file, path, kind: 'checking', state: 'checking' };
  entries.push(entry);
  entry.item = element('li', { class: 'file', 'data-kind': 'checking' });
  entry.title = element('h2', {}, path);
  entry.line = element('p', { class: 'verdict' }, 'Checking…');
  entry.item.append(entry.title, entry.line);
  list.append(entry.item);
  began();
  const verdict = await ask({ type: 'classify', file });
  ended();
  entry.kind = verdict.kind;
  entry.item.dataset.kind = verdict.kind;
  if (verdict.kind === 'other') {
    entry.state = 'left';
    entry.line.textContent = `Not a Morvellane bitmap (${verdict.what}): left alone.`;
  } else if (verdict.kind === 'refused') {
    entry.state = 'refused';
    entry.item.dataset.reason = verdict.reason;
    entry.line.textContent = verdict.message;
  } else {
    entry.width = verdict.width;
    entry.height = verdict.height;
    entry.state = 'waiting';
    entry.line.textContent = `Morvellane bitmap, ${verdict.width} × ${verdict.height} pixels`;
    const save = element('button', { type: 'button', class: 'save' }, 'Save as PNG');
    save.setAttribute('aria-label', `Save ${path} as PNG`);
    save.addEventListener('click', () => savePng(entry, save));
    entry.line.append(' ', save);
    entry.frame = element('div', { class: 'frame', tabindex: '0', role: 'group',
                                   'aria-label': `${path}, ${verdict.width} by ${verdict.height} pixels` });
    entry.item.append(entry.frame);
    applyZoom(entry);
    visible.observe(entry.frame);
  }
  showProgress();
}

async function show(entry) {
  entry.state = 'decoding';
  began();
  const answer = await ask({ type: 'decode', file: entry.file });
  ended();
  if (answer.kind !== 'picture') {
    entry.state = 'refused';
    entry.kind = 'refused';
    entry.item.dataset.kind = 'refused';
    entry.item.dataset.reason = answer.reason;
    entry.line.textContent = answer.message;
    entry.frame.remove();
    return showProgress();
  }
  const canvas = element('canvas', { width: answer.width, height: answer.height });
  canvas.getContext('2d').putImageData(new ImageData(answer.data, answer.width, answer.height),
                                       0, 0);
  // The canvas holds its own copy: the buffer goes back for the next picture.
  worker.postMessage({ type: 'give-back', buffer: answer.data.buffer }, [answer.data.buffer]);
  entry.canvas = canvas;
  entry.frame.style.width = entry.frame.style.height = '';
  entry.frame.append(canvas);
  applyZoom(entry);
  entry.state = 'shown';
  entry.item.dataset.state = 'shown';
  showProgress();
}

async function savePng(entry, button) {
  button.disabled = true;
  began();
  const answer = await ask({ type: 'png', file: entry.file });
  ended();
  button.disabled = false;
  if (answer.png) saveBlob(new Blob([answer.png], { type: 'image/png' }), pngName(entry.file.name));
  else entry.line.textContent = answer.message;
}

saveAll.addEventListener('click', async () => {
  const pictures = entries.filter((e) => e.kind === 'picture');
  const taken = new Set();
  const request = pictures.map((e) => ({ file: e.file, name: uniqueName(pngName(e.path), taken) }));
  saveAll.disabled = true;
  began(pictures.length);
  let reported = 0;
  const answer = await ask({ type: 'zip', entries: request }, ({ done }) => {
    for (; reported < done; ++reported) ended();
  });
  for (; reported < pictures.length; ++reported) ended();
  if (answer.zip) {
    saveBlob(answer.zip, 'morvellane-pictures.zip');
    if (answer.failed.length) status.textContent += `; not in the zip: ${answer.failed.join(', ')}`;
  } else {
    status.textContent = `No zip made: ${answer.message}`;
  }
});

// ---- files in ----
function addFiles(files) {
  for (const { file, path } of files) addFile(file, path);
}

const fileInput = $('#file-input');
const folderInput = $('#folder-input');
$('#choose-files').addEventListener('click', () => fileInput.click());
if ('webkitdirectory' in folderInput) {
  $('#choose-folder').addEventListener('click', () => folderInput.click());
} else {
  $('#choose-folder').hidden = true;
}
for (const input of [fileInput, folderInput]) {
  input.addEventListener('change', () => {
    addFiles([...input.files].map((file) => ({ file, path: file.webkitRelativePath || file.name })));
    input.value = '';
  });
}

$('#clear').addEventListener('click', () => {
  visible.disconnect();
  entries.length = 0;
  list.replaceChildren();
  showProgress();
});

// Dropped folders are walked through the entries API, where there is one.
async function filesOfEntry(entry) {
  if (entry.isFile)
    return [{ file: await new Promise((ok, fail) => entry.file(ok, fail)),
              path: entry.fullPath.replace(/^\//, '') }];
  const reader = entry.createReader();
  const found = [];
  for (;;) {
    const batch = await new Promise((ok, fail) => reader.readEntries(ok, fail));
    if (batch.length === 0) break;
    for (const child of batch) found.push(...(await filesOfEntry(child)));
  }
  return found;
}

const dropZone = document.documentElement;
dropZone.addEventListener('dragover', (event) => {
  event.preventDefault();
  event.dataTransfer.dropEffect = 'copy';
  document.body.classList.add('dragging');
});
dropZone.addEventListener('dragleave', (event) => {
  if (event.relatedTarget === null) document.body.classList.remove('dragging');
});
dropZone.addEventListener('drop', async (event) => {
  event.preventDefault();
  document.body.classList.remove('dragging');
  const items = [...event.dataTransfer.items].filter((item) => item.kind === 'file');
  const walked = items.map((item) => item.webkitGetAsEntry?.()).filter(Boolean);
  if (walked.length === items.length && items.length > 0) {
    for (const entry of walked) addFiles(await filesOfEntry(entry));
  } else {
    addFiles([...event.dataTransfer.files].map((file) => ({ file, path: file.name })));
  }
});

showProgress();
