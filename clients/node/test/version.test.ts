// The program's version against the client's, before its first start: programs played by sh.

import assert from 'node:assert/strict';
import { chmodSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { listSessions, startCapture, type WarningEvent } from '../src/index';
import { compareVersion } from '../src/version';
import { packageRoot } from './support';

const STARTED = `printf '[win-helper] Windows WASAPI process-excluded loopback capture started.\\n[win-helper] Format: 48000Hz, 2 channels, 32 bits, float\\n' >&2`;

test("a program's --version output matches the client's version by its major and minor version", () => {
  const rows: Array<[string, number | null, string | undefined, boolean]> = [
    ['0.2.0\n', 0, '0.2.0', true],
    ['0.2.13\r\n', 0, '0.2.13', true],
    ['0.2.0-rc.1\r\n', 0, '0.2.0-rc.1', true],
    ['0.2.0', 0, '0.2.0', true],
    ['0.3.0\r\n', 0, '0.3.0', false],
    ['1.2.0\n', 0, '1.2.0', false],
    ['0.20.0\n', 0, '0.20.0', false],
    // A program older than --version reads it as a pid of 0 and writes its usage line.
    ['', 1, undefined, false],
    ['0.2.0\n', 1, undefined, false],
    ['0.2.0\n', null, undefined, false],
    ['0.2\n', 0, undefined, false],
    ['0.2.0\n0.2.0\n', 0, undefined, false],
    ['v0.2.0\n', 0, undefined, false],
  ];
  for (const [output, exitCode, version, matches] of rows) {
    assert.deepEqual(compareVersion(output, exitCode, '0.2.0'), { version, matches }, JSON.stringify([output, exitCode]));
  }
});

interface Played {
  folder: string;
  launcher: string[];
  /** Each run of the program, one line each: "version" or "capture". */
  runs: () => string[];
}

// A program that answers --version with this text (after a pause, if given) and otherwise
// starts a capture that stops on "exit".
function program(version: string, pauseSeconds = 0): Played {
  const folder = mkdtempSync(join(tmpdir(), 'quillmere-version-'));
  const runs = join(folder, 'runs');
  const script = `if [ "$2" = --version ]; then echo version >>'${runs}'; sleep ${pauseSeconds}; printf '${version}\\n'; exit 0; fi
echo capture >>'${runs}'; ${STARTED}; read line; exit 0`;
  return {
    folder,
    launcher: ['sh', '-c', script, 'quillmere'],
    runs: () => (existsSync(runs) ? readFileSync(runs, 'utf8').split('\n').filter(Boolean) : []),
  };
}

const clientVersion = (JSON.parse(readFileSync(join(packageRoot, 'package.json'), 'utf8')) as { version: string }).version;
const [major, minor] = clientVersion.split('.').map(Number) as [number, number];

test('a program the host chose is started whatever its version, with a warning when it differs', async () => {
  const rows: Array<[string, boolean]> = [
    [`${major}.${minor}.99`, false],
    [`${major}.${minor + 1}.0`, true],
    [`${major + 1}.${minor}.0`, true],
  ];
  for (const [version, warns] of rows) {
    const played = program(version);
    const exePath = join(played.folder, 'quillmere');
    const capture = startCapture({ pid: 4242, exePath, launcher: played.launcher });
    const warnings: WarningEvent[] = [];
    capture.on('warning', (event) => warnings.push(event));
    await capture.ready;
    assert.deepEqual(await capture.stop(), { exitCode: 0, signal: null, killed: false, reason: 'stopped' }, version);
    assert.deepEqual(
      warnings.map((event) => event.kind),
      warns ? ['programMismatch'] : [],
      version,
    );
    if (warns) {
      assert.ok(warnings[0]?.line.includes(exePath) && warnings[0].line.includes(version), warnings[0]?.line);
    }
    assert.deepEqual(played.runs(), ['version', 'capture'], version);
  }
});

test('a program is asked its version once, however many start it at once', async () => {
  const played = program(`${major}.${minor}.0`);
  const options = { exePath: join(played.folder, 'quillmere'), launcher: played.launcher };
  const captures = [startCapture({ pid: 1, ...options }), startCapture({ pid: 2, ...options })];
  await Promise.all(captures.map((capture) => capture.ready));
  await Promise.all(captures.map((capture) => capture.stop()));
  const third = startCapture({ pid: 3, ...options });
  await third.ready;
  await third.stop();
  assert.deepEqual(played.runs(), ['version', 'capture', 'capture', 'capture']);
});

test('a stop while the program is asked its version starts no capture', async () => {
  const played = program(`${major}.${minor}.0`, 1);
  const capture = startCapture({ pid: 4242, exePath: join(played.folder, 'quillmere'), launcher: played.launcher });
  assert.deepEqual(await capture.stop(), { exitCode: null, signal: null, killed: false, reason: 'stopped' });
  await assert.rejects(capture.ready, { name: 'QuillmereError', code: 'STOPPED' });
  // The answer comes a second later; the capture must still not start then.
  const later = startCapture({ pid: 4242, exePath: join(played.folder, 'quillmere'), launcher: played.launcher });
  await later.ready;
  await later.stop();
  assert.deepEqual(played.runs(), ['version', 'capture']);
});

test("the platform package's program of another minor version is never started", async (t) => {
  // The client in build/src finds packages in build/node_modules first.
  const folder = join(__dirname, '..', 'node_modules', '@quillmere', `${process.platform}-${process.arch}`);
  mkdirSync(folder, { recursive: true });
  t.after(() => rmSync(join(__dirname, '..', 'node_modules'), { recursive: true, force: true }));
  const runs = join(folder, 'runs');
  writeFileSync(join(folder, 'package.json'), `{ "name": "@quillmere/${process.platform}-${process.arch}" }\n`);
  writeFileSync(join(folder, 'quillmere'), `#!/bin/sh\necho "$1" >>'${runs}'\n[ "$1" = --version ] && echo ${major}.${minor + 1}.0\n`);
  chmodSync(join(folder, 'quillmere'), 0o755);
  const saved = process.env['QUILLMERE_EXE'];
  delete process.env['QUILLMERE_EXE'];
  t.after(() => {
    if (saved !== undefined) {
      process.env['QUILLMERE_EXE'] = saved;
    }
  });

  const capture = startCapture({ pid: 4242 });
  const mismatch = (error: unknown) =>
    error instanceof Error &&
    (error as { code?: string }).code === 'PROGRAM_MISMATCH' &&
    error.message.includes(`${major}.${minor + 1}.0`) &&
    error.message.includes(clientVersion);
  await assert.rejects(capture.ready, mismatch);
  assert.deepEqual(await capture.exited, { exitCode: null, signal: null, killed: false, reason: 'spawnFailed' });
  await assert.rejects(listSessions(), mismatch);
  let thrown: unknown;
  try {
    for await (const samples of capture.samples()) {
      assert.fail(`${samples.length} samples from a program never started`);
    }
  } catch (error) {
    thrown = error;
  }
  assert.ok(mismatch(thrown));
  assert.deepEqual(readFileSync(runs, 'utf8'), '--version\n');
});
