// What the panel's tests share: their options, a pause, and the programs of
// the build they start (Windows programs under Wine with --emulator WINE).
import { spawn } from 'node:child_process';

export const option = (name) => (process.argv.includes(`--${name}`) ? process.argv[process.argv.indexOf(`--${name}`) + 1] : null);
export const emulator = option('emulator');
export const sleep = (ms) => new Promise((done) => setTimeout(done, ms));

// A program of the build, its output gathered.
export class Program {
  constructor(file, args) {
    this.child = spawn(emulator ?? file, emulator ? [file, ...args] : args);
    this.out = '';
    this.err = '';
    this.child.stdout.on('data', (data) => { this.out += data; });
    this.child.stderr.on('data', (data) => { this.err += data; });
    this.exit = new Promise((done) => this.child.on('exit', (code) => done(code)));
  }
  async waitFor(stream, pattern, ms = 20000) {
    for (const end = Date.now() + ms; Date.now() < end; await sleep(20)) {
      const match = this[stream].match(pattern);
      if (match) return match;
    }
    throw new Error(`no ${pattern} from ${this.child.spawnargs.join(' ')} within ${ms} ms:\n${this[stream]}`);
  }
  // Its exit code, or 'still running' when it has not ended within ms.
  async exited(ms = 15000) {
    let timer;
    const late = new Promise((done) => { timer = setTimeout(() => done('still running'), ms); });
    return Promise.race([this.exit, late]).finally(() => clearTimeout(timer));
  }
  end() {
    this.child.stdin.end();
    return this.exited();
  }
}
