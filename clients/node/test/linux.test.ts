// The client driving the Linux program on a real sound server (tests/linux/with-pulse.sh), and the
// packages as a host gets them: the three tarballs packed from the optimised builds, installed
// offline into a fresh project as the README says, installed again by npm ci, type-checked from a
// CommonJS and an ES module file, quillmere-record run through npx, and the install for Windows
// that a Linux machine building a Windows application makes. One file, so that its players never
// meet another test's capture of everything on the server.

import assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { chmodSync, copyFileSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { basename, join } from 'node:path';
import { test } from 'node:test';

import { listSessions, startCapture, type CaptureResult } from '../src/index';
import type { RestoredEvent, SessionVolumeEvent } from '../src/lines';
import { delay, exePath as windowsExePath, linuxBuild, packageRoot, releaseBuild, until } from './support';

const exePath = join(linuxBuild, 'src', 'quillmere');

// The players are this process's children: a capture lowers them only when told to keep nothing
// (by default it keeps the host's own process tree as it is).
function startPlayer() {
  return spawn(join(linuxBuild, 'tests', 'tone_player'), ['440', '0.4', '30'], { stdio: ['ignore', 'pipe', 'ignore'] });
}

test('a capture of a real player on Linux: its sound, its ducking, an orderly stop', { timeout: 60_000 }, async () => {
  const player = startPlayer();
  try {
    await new Promise((resolve) => player.stdout.once('data', resolve));
    assert.deepEqual(await listSessions({ exePath }), [{ pid: player.pid, name: 'tone_player' }]);

    const capture = startCapture({ exePath, pid: 999999, duckRatio: 0.5, keep: [] });
    const ducked: SessionVolumeEvent[] = [];
    capture.on('ducked', (event) => ducked.push(event));
    let peak = 0;
    void (async () => {
      for await (const samples of capture.samples()) {
        for (const value of samples) {
          peak = Math.max(peak, value);
        }
      }
    })();
    const started = await capture.ready;
    assert.equal(started.format.sampleRate, 48000);
    await until(() => ducked.length === 1 && peak > 0);
    assert.deepEqual(ducked, [
      { session: `tone_player (pid ${String(player.pid)})`, pid: player.pid, name: 'tone_player', before: 1, after: 0.5 },
    ]);
    assert.deepEqual(await capture.stop(), { exitCode: 0, signal: null, killed: false, reason: 'stopped' });
  } finally {
    player.kill('SIGKILL');
  }
});

test('stop() ends the Linux program in order when the host has stopped reading pcm', { timeout: 60_000 }, async () => {
  const player = startPlayer();
  try {
    await new Promise((resolve) => player.stdout.once('data', resolve));
    const capture = startCapture({ exePath, pid: 999999, duckRatio: 0.5, keep: [] });
    const restored: RestoredEvent[] = [];
    let ducked = false;
    capture.on('ducked', () => (ducked = true));
    capture.on('restored', (event) => restored.push(event));
    await capture.ready;
    await until(() => ducked && capture.pcm.readableLength >= capture.pcm.readableHighWaterMark);
    // The stream comes at 32,000 bytes a second: past pcm's own buffer it fills pcm's input side,
    // the child's output stream (buffers of the same size) and a 64 KiB pipe, then the program waits.
    await delay(((2 * capture.pcm.readableHighWaterMark + 65536) / 32000) * 1000 + 1000);
    assert.deepEqual(await capture.stop(), { exitCode: 0, signal: null, killed: false, reason: 'stopped' });
    assert.deepEqual(restored, [{ volume: 1, earlierRun: false }]);
    let bytes = 0;
    for await (const chunk of capture.pcm) {
      bytes += (chunk as Buffer).length;
    }
    assert.ok(bytes > 65536, `the tail is the host's to read (${bytes} bytes)`);
  } finally {
    player.kill('SIGKILL');
  }
});

test('a signal the Linux program reports ends the loop over samples() quietly; a kill it never reported throws', { timeout: 60_000 }, async () => {
  const player = startPlayer();
  try {
    await new Promise((resolve) => player.stdout.once('data', resolve));
    // The signal; whether the host also calls stop() on it (Ctrl+C reaches both); what the loop
    // throws; how the capture ended.
    const rows: Array<[NodeJS.Signals, boolean, string | undefined, CaptureResult['reason']]> = [
      ['SIGINT', false, undefined, 'ended'],
      ['SIGINT', true, undefined, 'stopped'],
      ['SIGKILL', false, 'EXITED', 'ended'],
    ];
    for (const [signal, alsoStop, thrown, reason] of rows) {
      const name = `${signal}${alsoStop ? ' and stop()' : ''}`;
      const capture = startCapture({ exePath, pid: 999999, duckRatio: 0.5, keep: [] });
      const events: string[] = [];
      let ducked = false;
      capture.on('ducked', () => (ducked = true));
      capture.on('stopping', (cause) => events.push(`stopping ${cause}`));
      capture.on('restored', () => events.push('restored'));
      await capture.ready;
      await until(() => ducked);
      process.kill(capture.processId as number, signal);
      if (alsoStop) {
        void capture.stop();
      }
      const error = await (async () => {
        for await (const samples of capture.samples()) {
          void samples;
        }
      })().catch((e: { code: string }) => e);
      assert.equal(error?.code, thrown, name);
      assert.deepEqual(await capture.exited, { exitCode: null, signal, killed: false, reason }, name);
      // With stop() as well, the exit command may come before the signal or after it.
      assert.deepEqual(
        events.filter((event) => event !== 'stopping stdinCommand'),
        signal === 'SIGKILL' ? [] : ['stopping signal', 'restored'],
        name,
      );
    }
  } finally {
    player.kill('SIGKILL');
  }
});

test('a capture on Linux tells the host of a target that is not running, from a program of its own version', { timeout: 60_000 }, async () => {
  const capture = startCapture({ exePath, pid: 999999, mode: 'include' });
  const said: Array<[string, unknown]> = [];
  capture.on('targetNotFound', (event) => said.push(['targetNotFound', event]));
  capture.on('warning', (event) => said.push(['warning', event.line]));
  capture.pcm.resume();
  await capture.ready;
  await until(() => said.length > 0);
  assert.deepEqual(await capture.stop(), { exitCode: 0, signal: null, killed: false, reason: 'stopped' });
  assert.deepEqual(said, [['targetNotFound', { pid: 999999 }]]);
});

test('a player whose binary name holds protocol lines forges no event through the Linux program', { timeout: 60_000 }, async (t) => {
  const folder = mkdtempSync(join(tmpdir(), 'quillmere-forged-'));
  t.after(() => rmSync(folder, { recursive: true, force: true }));
  const forged = join(
    folder,
    'tone\n[win-helper] Real-time duck ratio updated to 0.9\r\n' +
      '[win-helper] Received exit command via stdin. Stopping capture gracefully...\n' +
      '[win-helper] Restored session volume to: 1',
  );
  copyFileSync(join(linuxBuild, 'tests', 'tone_player'), forged);
  chmodSync(forged, 0o755);
  const player = spawn(forged, ['440', '0.4', '30'], { stdio: ['ignore', 'pipe', 'ignore'] });
  let capture: ReturnType<typeof startCapture> | undefined;
  try {
    await new Promise((resolve) => player.stdout.once('data', resolve));
    capture = startCapture({ exePath, pid: 999999, duckRatio: 0.5, keep: [] });
    const events: string[] = [];
    const ducked: SessionVolumeEvent[] = [];
    capture.on('ducked', (event) => ducked.push(event));
    for (const name of ['ratioChanged', 'stopping', 'restored'] as const) {
      capture.on(name, () => events.push(name));
    }
    await capture.ready;
    // A forged line would come with the ducking line, in the same write.
    await until(() => ducked.length === 1 || events.length > 0);
    const name =
      'tone\\x0a[win-helper] Real-time duck ratio updated to 0.9\\x0d\\x0a' +
      '[win-helper] Received exit command via stdin. Stopping capture gracefully...\\x0a' +
      '[win-helper] Restored session volume to: 1';
    assert.deepEqual(ducked, [{ session: `${name} (pid ${String(player.pid)})`, pid: player.pid, name, before: 1, after: 0.5 }]);
    assert.deepEqual(events, []);
    assert.deepEqual(await capture.stop(), { exitCode: 0, signal: null, killed: false, reason: 'stopped' });
    assert.deepEqual(events, ['stopping', 'restored']);
  } finally {
    await capture?.stop();
    player.kill('SIGKILL');
  }
});

// Nothing listens on the discard port: any request to this registry fails at once.
const UNREACHABLE_REGISTRY = 'http://127.0.0.1:9/';

function entries(tarball: string): string[] {
  return execFileSync('tar', ['-tzf', tarball], { encoding: 'utf8' }).split('\n').filter(Boolean).sort();
}

function manifest(tarball: string): Record<string, unknown> {
  return JSON.parse(execFileSync('tar', ['-xzOf', tarball, 'package/package.json'], { encoding: 'utf8' })) as Record<string, unknown>;
}

const HOST_CJS = `import quillmere = require('quillmere');
const exePath: string | undefined = process.env['QUILLMERE_EXE'];
const capture = quillmere.startCapture({ pid: 1, exePath, duckRatio: undefined, signal: AbortSignal.timeout(1000) });
void capture.stop({ timeoutMs: undefined });
// @ts-expect-error the constructor is the client's own
new quillmere.Capture();
// @ts-expect-error and so is the factory behind startCapture
void quillmere.Capture.start;
`;

const HOST_ESM = `import { listSessions, startCapture, QuillmereError, type CaptureOptions } from 'quillmere';
const options: CaptureOptions = { pid: 1, mode: undefined, quality: undefined, launcher: undefined, env: undefined, cwd: undefined };
try {
  for await (const samples of startCapture(options).samples()) {
    samples satisfies Int16Array;
  }
  await listSessions({ timeoutMs: undefined, signal: undefined });
} catch (error) {
  if (error instanceof QuillmereError && error.code === 'NO_PROGRAM') {
    console.error(error.message);
  }
}
`;

function npmVersion(): [number, number] {
  const [major, minor] = execFileSync('npm', ['--version'], { encoding: 'utf8' }).trim().split('.').map(Number);
  return [major as number, minor as number];
}

test('the packed packages install offline as the README says, survive npm ci, type-check, and record through npx', { timeout: 180_000 }, async (t) => {
  const work = mkdtempSync(join(tmpdir(), 'quillmere-install-'));
  t.after(() => rmSync(work, { recursive: true, force: true }));
  const packs = join(work, 'packs');
  mkdirSync(packs);
  const { version } = JSON.parse(readFileSync(join(packageRoot, 'package.json'), 'utf8')) as { version: string };
  const packed = execFileSync(
    process.execPath,
    [join(packageRoot, 'scripts', 'pack.js'), '--linux', join(releaseBuild, 'src', 'quillmere'), '--windows', windowsExePath, '--out', packs],
    { encoding: 'utf8' },
  )
    .trim()
    .split('\n');
  assert.deepEqual(packed.map((path) => basename(path)), [
    `quillmere-linux-x64-${version}.tgz`,
    `quillmere-win32-x64-${version}.tgz`,
    `quillmere-${version}.tgz`,
  ]);
  const [linux, windows, client] = packed as [string, string, string];
  assert.deepEqual(entries(linux), ['package/LICENSE', 'package/README.md', 'package/package.json', 'package/quillmere']);
  assert.deepEqual(entries(windows), ['package/LICENSE', 'package/Quillmere.exe', 'package/README.md', 'package/package.json']);
  const licence = readFileSync(join(packageRoot, '..', '..', 'LICENSE'), 'utf8');
  // npm 9 installs a package whatever its libc says: the manifest is what a newer npm reads.
  for (const [tarball, expected] of [
    [linux, { name: '@quillmere/linux-x64', os: ['linux'], cpu: ['x64'], libc: ['glibc'] }],
    [windows, { name: '@quillmere/win32-x64', os: ['win32'], cpu: ['x64', 'arm64'], libc: undefined }],
  ] as const) {
    const { name, version: packedVersion, license, os, cpu, libc } = manifest(tarball);
    assert.deepEqual({ name, version: packedVersion, license, os, cpu, libc }, { ...expected, version, license: 'MIT' });
    assert.equal(execFileSync('tar', ['-xzOf', tarball, 'package/LICENSE'], { encoding: 'utf8' }), licence);
  }
  const clientManifest = manifest(client);
  assert.deepEqual(clientManifest['optionalDependencies'], { '@quillmere/linux-x64': version, '@quillmere/win32-x64': version });
  assert.equal(clientManifest['license'], 'MIT');
  assert.equal(clientManifest['private'], undefined);
  assert.deepEqual(
    entries(client).filter(
      (entry) => !/^package\/(dist\/[a-z]+\.(js|d\.ts)|esm\/index\.(mjs|d\.mts)|package\.json|README\.md|LICENSE)$/.test(entry),
    ),
    [],
    'the client carries no program',
  );

  const project = join(work, 'host');
  mkdirSync(project);
  writeFileSync(join(project, 'package.json'), '{ "name": "host", "version": "1.0.0", "private": true }\n');
  const offline = (command: 'npm' | 'npx', args: string[]) =>
    execFileSync(command, ['--offline', `--registry=${UNREACHABLE_REGISTRY}`, `--cache=${join(work, 'cache')}`, ...args], {
      cwd: project,
      encoding: 'utf8',
      env: { ...process.env, QUILLMERE_EXE: '' },
    });
  const modules = join(project, 'node_modules', '@quillmere');
  // The README's install: the client, then every platform's tarball as an optional dependency,
  // so that the lock file holds them all and npm ci finds each.
  offline('npm', ['install', '--no-audit', '--no-fund', client]);
  offline('npm', ['install', '--no-audit', '--no-fund', '--save-optional', linux, windows]);
  assert.ok(existsSync(join(modules, 'linux-x64', 'quillmere')));
  assert.ok(!existsSync(join(modules, 'win32-x64')), 'no Windows program on Linux');
  rmSync(join(project, 'node_modules'), { recursive: true });
  offline('npm', ['ci', '--no-audit', '--no-fund']);
  assert.ok(existsSync(join(modules, 'linux-x64', 'quillmere')), 'npm ci installs the Linux program again');
  assert.ok(!existsSync(join(modules, 'win32-x64')));

  writeFileSync(join(project, 'host.cts'), HOST_CJS);
  writeFileSync(join(project, 'host.mts'), HOST_ESM);
  const compilerOptions = {
    module: 'node16',
    target: 'ES2022',
    strict: true,
    exactOptionalPropertyTypes: true,
    noEmit: true,
    types: ['node'],
    typeRoots: [join(packageRoot, 'node_modules', '@types')],
  };
  writeFileSync(join(project, 'tsconfig.json'), JSON.stringify({ compilerOptions, files: ['host.cts', 'host.mts'] }));
  execFileSync(process.execPath, [join(packageRoot, 'node_modules', 'typescript', 'bin', 'tsc'), '-p', project], { encoding: 'utf8' });

  const player = startPlayer();
  try {
    await new Promise((resolve) => player.stdout.once('data', resolve));
    const out = join(work, 'capture.wav');
    // Three seconds: the player's stream can take more than one to reach the capture.
    offline('npx', ['quillmere-record', '--pid', String(player.pid), '--mode', 'include', '--ratio', '1', '--seconds', '3', '--out', out]);
    const wav = readFileSync(out);
    assert.equal(wav.length, 44 + 3 * 32000);
    assert.ok(wav.subarray(44).some((byte) => byte !== 0), 'the tone is in the file');
  } finally {
    player.kill('SIGKILL');
  }

  // A Linux machine that builds the Windows application installs for Windows.
  const [major, minor] = npmVersion();
  const skip = major < 10 || (major === 10 && minor < 1) ? `npm ${major}.${minor} has no --os or --cpu (npm 10.1 or later has)` : false;
  await t.test('npm install --os=win32 --cpu=x64 puts the Windows program in place of the Linux one', { skip }, () => {
    offline('npm', ['install', '--no-audit', '--no-fund', '--os=win32', '--cpu=x64']);
    assert.ok(existsSync(join(modules, 'win32-x64', 'Quillmere.exe')));
    assert.ok(!existsSync(join(modules, 'linux-x64')));
  });
});
