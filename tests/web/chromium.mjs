// Debian's Chromium, headless, driven over the DevTools protocol through a
// pipe (--remote-debugging-pipe: JSON messages ending in a NUL byte on file
// descriptors 3 and 4), so that no package and no network port is needed.
import { spawn } from 'node:child_process';
import { mkdtempSync, rmSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';

export const CHROMIUM = process.env.MRVLN_CHROMIUM || '/usr/bin/chromium';

export class Chromium {
  #process;
  #profile;
  #next = 1;
  #calls = new Map();
  #listeners = new Set();
  #buffer = Buffer.alloc(0);
  #exited;

  // Starts the browser with a fresh profile and every background connection off.
  constructor(extraArguments = []) {
    this.#profile = mkdtempSync(join(tmpdir(), 'mrvln-chromium-'));
    this.#process = spawn(CHROMIUM, [
      '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
      '--disable-background-networking', '--disable-component-update', '--disable-sync',
      '--disable-default-apps', '--disable-extensions', '--mute-audio',
      `--user-data-dir=${this.#profile}`, '--remote-debugging-pipe', ...extraArguments,
      'about:blank',
    ], { stdio: ['ignore', 'ignore', 'pipe', 'pipe', 'pipe'] });
    this.stderr = '';
    this.#process.stderr.on('data', (chunk) => { this.stderr += chunk; });
    this.#exited = new Promise((resolve) => this.#process.on('exit', resolve));
    this.#process.stdio[4].on('data', (chunk) => this.#receive(chunk));
    this.#exited.then(() => {
      for (const { reject } of this.#calls.values())
        reject(new Error(`Chromium exited: ${this.stderr.slice(-2000)}`));
      this.#calls.clear();
    });
  }

  #receive(chunk) {
    this.#buffer = Buffer.concat([this.#buffer, chunk]);
    for (let end; (end = this.#buffer.indexOf(0)) >= 0;) {
      const message = JSON.parse(this.#buffer.subarray(0, end).toString('utf8'));
      this.#buffer = this.#buffer.subarray(end + 1);
      if (message.id !== undefined) {
        const call = this.#calls.get(message.id);
        this.#calls.delete(message.id);
        if (message.error) call.reject(new Error(`${call.method}: ${message.error.message}`));
        else call.resolve(message.result);
      } else {
        for (const listener of this.#listeners) listener(message);
      }
    }
  }

  // One protocol call; `session` for a page's session.
  send(method, params = {}, session = undefined) {
    const id = this.#next++;
    const message = { id, method, params, ...(session ? { sessionId: session } : {}) };
    return new Promise((resolve, reject) => {
      this.#calls.set(id, { resolve, reject, method });
      this.#process.stdio[3].write(JSON.stringify(message) + '\0');
    });
  }

  // Every event: listener({ method, params, sessionId }).
  listen(listener) {
    this.#listeners.add(listener);
    return () => this.#listeners.delete(listener);
  }

  // The first event `method` of `session` for which `test(params)` holds.
  event(method, session, test = () => true, timeout = 30_000) {
    return new Promise((resolve, reject) => {
      const timer = setTimeout(() => {
        stop();
        reject(new Error(`no ${method} within ${timeout} ms`));
      }, timeout);
      const stop = this.listen((message) => {
        if (message.method === method && message.sessionId === session && test(message.params)) {
          clearTimeout(timer);
          stop();
          resolve(message.params);
        }
      });
    });
  }

  // A new page of `width` x `height` CSS pixels at device pixel ratio 1; its session id.
  async newPage(width = 1280, height = 2000) {
    const { targetId } = await this.send('Target.createTarget', { url: 'about:blank' });
    const { sessionId } = await this.send('Target.attachToTarget', { targetId, flatten: true });
    await this.send('Page.enable', {}, sessionId);
    await this.send('Runtime.enable', {}, sessionId);
    await this.send('Emulation.setDeviceMetricsOverride',
                    { width, height, deviceScaleFactor: 1, mobile: false }, sessionId);
    return sessionId;
  }

  async navigate(session, url) {
    const loaded = this.event('Page.loadEventFired', session);
    const { errorText } = await this.send('Page.navigate', { url }, session);
    if (errorText) throw new Error(`cannot open ${url}: ${errorText}`);
    await loaded;
  }

  // The value of a JavaScript expression in the page (awaited if a promise).
  async evaluate(session, expression) {
    const { result, exceptionDetails } = await this.send(
        'Runtime.evaluate', { expression, awaitPromise: true, returnByValue: true }, session);
    if (exceptionDetails)
      throw new Error(`in the page: ${exceptionDetails.exception?.description ??
                                      exceptionDetails.text}`);
    return result.value;
  }

  // Polls `expression` until it is truthy; its value.
  async waitFor(session, expression, timeout = 30_000) {
    const end = Date.now() + timeout;
    for (;;) {
      const value = await this.evaluate(session, expression);
      if (value) return value;
      if (Date.now() > end) throw new Error(`still false after ${timeout} ms: ${expression}`);
      await new Promise((resolve) => setTimeout(resolve, 50));
    }
  }

  async close() {
    this.send('Browser.close').catch(() => {});
    const timer = setTimeout(() => this.#process.kill('SIGKILL'), 5000);
    await this.#exited;
    clearTimeout(timer);
    rmSync(this.#profile, { recursive: true, force: true });
  }
}
