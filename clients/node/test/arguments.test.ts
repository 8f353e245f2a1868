import assert from 'node:assert/strict';
import { test } from 'node:test';

import { basename } from 'node:path';

import { QuillmereError, defaultExePath, startCapture } from '../src/index';

// A launcher that reports the arguments it was given, one per line, instead of running the program.
const echo = ['sh', '-c', 'for a in "$@"; do echo "$a" >&2; done; exit 1', 'echo'];

test('the program gets an argument array it reads as the host meant', async () => {
  const cases: Array<[Parameters<typeof startCapture>[0], string[]]> = [
    [{ pid: 4242 }, ['4242', '0.2', 'exclude', '--quality=high']],
    [{ pid: 7, duckRatio: 0, mode: 'include', quality: 'high' }, ['7', '0', 'include', '--quality=high']],
    [{ pid: 4294967291, duckRatio: 1e-7, quality: 'linear' }, ['-5', '1e-7', 'exclude', '--quality=linear']],
  ];
  for (const [options, args] of cases) {
    const capture = startCapture({ ...options, exePath: 'Quillmere.exe', launcher: echo });
    const error = await capture.ready.catch((e: unknown) => e);
    assert.ok(error instanceof QuillmereError);
    assert.deepEqual(error.log, ['Quillmere.exe', ...args]);
  }
  for (const bad of [{ pid: 0 }, { pid: 1.5 }, { pid: 2 ** 32 }, { pid: 1, duckRatio: 1.01 }, { pid: 1, duckRatio: NaN }]) {
    assert.throws(() => startCapture({ ...bad, launcher: echo }), RangeError, JSON.stringify(bad));
  }
  assert.throws(() => startCapture({ pid: 1, quality: 'best' as 'high', launcher: echo }), RangeError);
});

test('the default program is the Windows build on Windows and the Linux build elsewhere', () => {
  assert.equal(basename(defaultExePath('win32')), 'Quillmere.exe');
  assert.equal(basename(defaultExePath('linux')), 'quillmere');
});
