import assert from 'node:assert/strict';
import { test } from 'node:test';

import { QuillmereError, startCapture } from '../src/index';
import { findProgram, type Host } from '../src/program';

// A launcher that reports the arguments it was given, one per line, instead of running the program.
const echo = ['sh', '-c', 'for a in "$@"; do echo "$a" >&2; done; exit 1', 'echo'];

test('the program gets an argument array it reads as the host meant', async () => {
  // By default the status lines are asked for, and the host's own sessions are kept as they are.
  const host = [`--status`, `--keep=${process.pid}`];
  const cases: Array<[Parameters<typeof startCapture>[0], string[]]> = [
    [{ pid: 4242 }, ['4242', '0.2', 'exclude', '--quality=high', '--clock=steady', ...host]],
    [{ pid: 7, duckRatio: 0, mode: 'include', quality: 'high' }, ['7', '0', 'include', '--quality=high', '--clock=steady', ...host]],
    [
      { pid: 4294967291, duckRatio: 1e-7, quality: 'linear', clock: 'packets' },
      ['-5', '1e-7', 'exclude', '--quality=linear', '--clock=packets', ...host],
    ],
    // The Linux program's stream keeps steady time without being asked.
    [{ pid: 4242, exePath: '/opt/quillmere', clock: 'packets' }, ['4242', '0.2', 'exclude', '--quality=high', ...host]],
    [
      { pid: 9, mode: 'include', duckSessions: 'others', keep: [4294967295, 1], status: false },
      ['9', '0.2', 'include', '--quality=high', '--clock=steady', '--duck=others', '--keep=4294967295', '--keep=1'],
    ],
    [{ pid: 9, duckSessions: 'target', keep: [], status: undefined }, ['9', '0.2', 'exclude', '--quality=high', '--clock=steady', '--status', '--duck=target']],
  ];
  for (const [options, args] of cases) {
    const capture = startCapture({ exePath: 'Quillmere.exe', ...options, launcher: echo });
    const error = await capture.ready.catch((e: unknown) => e);
    assert.ok(error instanceof QuillmereError);
    assert.deepEqual(error.log, [options.exePath ?? 'Quillmere.exe', ...args]);
  }
  for (const bad of [{ pid: 0 }, { pid: 1.5 }, { pid: 2 ** 32 }, { pid: 1, duckRatio: 1.01 }, { pid: 1, duckRatio: NaN }]) {
    assert.throws(() => startCapture({ ...bad, launcher: echo }), RangeError, JSON.stringify(bad));
  }
  assert.throws(() => startCapture({ pid: 1, quality: 'best' as 'high', launcher: echo }), RangeError);
  assert.throws(() => startCapture({ pid: 1, clock: 'wall' as 'steady', launcher: echo }), RangeError);
  for (const bad of [{ duckSessions: 'all' }, { keep: [0] }, { keep: [1.5] }, { keep: [2 ** 32] }, { keep: '4242' }, { status: 'yes' }]) {
    assert.throws(() => startCapture({ pid: 1, ...(bad as object), launcher: echo }), RangeError, JSON.stringify(bad));
  }
});

test('the program is exePath, else QUILLMERE_EXE, else the platform package outside app.asar', () => {
  const installed: Record<string, string> = {
    '@quillmere/linux-x64/package.json': '/home/me/app/node_modules/@quillmere/linux-x64/package.json',
    '@quillmere/win32-x64/package.json': 'C:\\Users\\me\\app\\node_modules\\@quillmere\\win32-x64\\package.json',
  };
  const packaged: Record<string, string> = {
    '@quillmere/linux-x64/package.json': '/opt/App/resources/app.asar/node_modules/@quillmere/linux-x64/package.json',
    '@quillmere/win32-x64/package.json':
      'C:\\Program Files\\App\\resources\\app.asar\\node_modules\\@quillmere\\win32-x64\\package.json',
  };
  const unpacked = {
    '@quillmere/win32-x64/package.json':
      'C:\\App\\resources\\app.asar.unpacked\\node_modules\\@quillmere\\win32-x64\\package.json',
  };
  const asarLike = { '@quillmere/linux-x64/package.json': '/srv/app.asar-old/node_modules/@quillmere/linux-x64/package.json' };
  const host = (platform: string, arch: string, packages: Record<string, string>, env: NodeJS.ProcessEnv = {}): Host => ({
    platform,
    arch,
    env,
    resolve: (request) => {
      const path = packages[request];
      if (path === undefined) {
        throw new Error(`Cannot find module '${request}'`);
      }
      return path;
    },
  });
  const rows: Array<[string | undefined, Host, string]> = [
    ['D:\\tools\\Quillmere.exe', host('win32', 'x64', installed, { QUILLMERE_EXE: 'C:\\q.exe' }), 'D:\\tools\\Quillmere.exe'],
    [undefined, host('win32', 'x64', installed, { QUILLMERE_EXE: 'C:\\q.exe' }), 'C:\\q.exe'],
    [undefined, host('linux', 'x64', installed, { QUILLMERE_EXE: '' }), '/home/me/app/node_modules/@quillmere/linux-x64/quillmere'],
    [undefined, host('win32', 'x64', installed), 'C:\\Users\\me\\app\\node_modules\\@quillmere\\win32-x64\\Quillmere.exe'],
    // Windows on ARM runs the x64 program under its emulation.
    [undefined, host('win32', 'arm64', installed), 'C:\\Users\\me\\app\\node_modules\\@quillmere\\win32-x64\\Quillmere.exe'],
    [undefined, host('linux', 'x64', packaged), '/opt/App/resources/app.asar.unpacked/node_modules/@quillmere/linux-x64/quillmere'],
    [
      undefined,
      host('win32', 'x64', packaged),
      'C:\\Program Files\\App\\resources\\app.asar.unpacked\\node_modules\\@quillmere\\win32-x64\\Quillmere.exe',
    ],
    [undefined, host('win32', 'x64', unpacked), 'C:\\App\\resources\\app.asar.unpacked\\node_modules\\@quillmere\\win32-x64\\Quillmere.exe'],
    [undefined, host('linux', 'x64', asarLike), '/srv/app.asar-old/node_modules/@quillmere/linux-x64/quillmere'],
  ];
  for (const [exePath, where, expected] of rows) {
    assert.equal(findProgram(exePath, where), expected, `${where.platform} ${JSON.stringify(where.env)} ${String(exePath)}`);
  }
  const help =
    'install the platform package (@quillmere/win32-x64 on Windows x64 and arm64, @quillmere/linux-x64 on Linux x64), ' +
    "set QUILLMERE_EXE to the program's path, or pass exePath";
  for (const [where, target] of [
    [host('linux', 'x64', {}), 'linux-x64'],
    [host('win32', 'x64', { '@quillmere/linux-x64/package.json': '/x/package.json' }), 'win32-x64'],
    [host('darwin', 'arm64', installed), 'darwin-arm64'],
    [host('linux', 'arm64', installed), 'linux-arm64'],
    [host('win32', 'arm64', {}), 'win32-arm64'],
  ] as const) {
    assert.throws(
      () => findProgram(undefined, where),
      (e: unknown) => e instanceof QuillmereError && e.code === 'NO_PROGRAM' && e.message === `no Quillmere program for ${target}: ${help}`,
    );
  }
});
