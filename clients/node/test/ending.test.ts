// How a capture or a listing ends, as a host's loop and promises see it: programs played by sh.

import assert from 'node:assert/strict';
import { existsSync, mkdtempSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { QuillmereError, listSessions, startCapture, type CaptureResult, type ExitStatus } from '../src/index';
import { endedAsReported } from '../src/lines';
import { delay } from './support';

const STARTED = `printf '[win-helper] Windows WASAPI process-excluded loopback capture started.\\n[win-helper] Format: 48000Hz, 2 channels, 32 bits, float\\n' >&2`;
// Stops in order on "exit", and says if it read anything else.
const AWAIT_EXIT = `read line; [ "$line" = exit ] && exit 0; exit 9`;

interface Ending {
  name: string;
  script?: string;
  exePath?: string;
  act?: (capture: ReturnType<typeof startCapture>, controller: AbortController) => void | Promise<void>;
  samples: number;
  /** What the loop over samples() throws: an error's name and code, or nothing. */
  thrown?: { name: string; code: string };
  readyRejects?: string;
  result: CaptureResult;
}

const endings: Ending[] = [
  {
    name: 'an exit status other than 0 after the start',
    script: `${STARTED}; head -c 7 /dev/zero; exit 3`,
    samples: 3,
    thrown: { name: 'QuillmereError', code: 'EXITED' },
    result: { exitCode: 3, signal: null, killed: false, reason: 'ended' },
  },
  {
    name: 'a signal stop() did not send',
    script: `${STARTED}; head -c 4 /dev/zero; kill -TERM $$`,
    samples: 2,
    thrown: { name: 'QuillmereError', code: 'EXITED' },
    result: { exitCode: null, signal: 'SIGTERM', killed: false, reason: 'ended' },
  },
  {
    name: 'status 0 after the start (its output closed)',
    script: `${STARTED}; head -c 4 /dev/zero`,
    samples: 2,
    result: { exitCode: 0, signal: null, killed: false, reason: 'ended' },
  },
  {
    name: 'a start failure',
    script: `echo '[win-helper] Failed to connect to the sound server: Connection refused' >&2; exit 1`,
    samples: 0,
    thrown: { name: 'QuillmereError', code: 'START_FAILED' },
    readyRejects: 'START_FAILED',
    result: { exitCode: 1, signal: null, killed: false, reason: 'ended' },
  },
  {
    name: 'no such program',
    exePath: '/nonexistent/quillmere',
    samples: 0,
    thrown: { name: 'QuillmereError', code: 'ENOENT' },
    readyRejects: 'ENOENT',
    result: { exitCode: null, signal: null, killed: false, reason: 'spawnFailed' },
  },
  {
    name: 'stop() before the start',
    script: AWAIT_EXIT,
    act: (capture) => void capture.stop(),
    samples: 0,
    readyRejects: 'STOPPED',
    result: { exitCode: 0, signal: null, killed: false, reason: 'stopped' },
  },
  {
    name: 'an abort before the start',
    script: AWAIT_EXIT,
    act: (_capture, controller) => controller.abort('the host is quitting'),
    samples: 0,
    thrown: { name: 'AbortError', code: 'ABORT_ERR' },
    readyRejects: 'ABORT_ERR',
    result: { exitCode: 0, signal: null, killed: false, reason: 'stopped' },
  },
  {
    name: 'an abort after the start',
    script: `${STARTED}; head -c 2 /dev/zero; ${AWAIT_EXIT}`,
    act: async (capture, controller) => {
      await capture.ready;
      controller.abort('the host is quitting');
    },
    samples: 1,
    result: { exitCode: 0, signal: null, killed: false, reason: 'stopped' },
  },
];

test('a loop over samples() ends quietly or throws what ended the capture; pcm only ever ends', async () => {
  for (const ending of endings) {
    const controller = new AbortController();
    const capture = startCapture({
      pid: 4242,
      exePath: ending.exePath ?? 'quillmere',
      ...(ending.script === undefined ? {} : { launcher: ['sh', '-c', ending.script, 'quillmere'] }),
      signal: controller.signal,
    });
    let pcmErrors = 0;
    capture.pcm.on('error', () => ++pcmErrors);
    const acted = ending.act?.(capture, controller);
    let samples = 0;
    let thrown: unknown;
    try {
      for await (const chunk of capture.samples()) {
        samples += chunk.length;
      }
    } catch (error) {
      thrown = error;
    }
    await acted;
    const { name } = ending;
    assert.equal(samples, ending.samples, name);
    if (ending.thrown) {
      assert.ok(thrown instanceof Error, name);
      assert.deepEqual({ name: thrown.name, code: (thrown as QuillmereError).code }, ending.thrown, name);
    } else {
      assert.equal(thrown, undefined, name);
    }
    const readyError = await capture.ready.then(() => undefined, (e: { code: string }) => e);
    assert.equal(readyError?.code, ending.readyRejects, name);
    if (thrown && readyError) {
      assert.equal(thrown, readyError, `${name}: the loop throws what ready rejected with`);
    }
    if (ending.thrown?.name === 'AbortError') {
      assert.equal((thrown as Error).cause, 'the host is quitting', name);
    }
    assert.deepEqual(await capture.exited, ending.result, name);
    assert.ok(capture.pcm.readableEnded && pcmErrors === 0, `${name}: pcm ended without an error`);
  }
});

test('an end by the stop the program reported is no failure; any other end by a signal or 0xC000013A is', () => {
  const linux = (name: string) => `[win-helper] Received signal: ${name}`;
  const windows = '[win-helper] Received console control signal: 0';
  const bySignal = (signal: NodeJS.Signals): ExitStatus => ({ exitCode: null, signal });
  const byCode = (exitCode: number): ExitStatus => ({ exitCode, signal: null });
  const rows: Array<[string | undefined, ExitStatus, boolean]> = [
    [linux('SIGINT'), bySignal('SIGINT'), true],
    [linux('SIGHUP'), bySignal('SIGHUP'), true],
    [linux('SIGTERM'), bySignal('SIGTERM'), true],
    // Killed after it said it stops: the orderly end never came.
    [linux('SIGINT'), bySignal('SIGKILL'), false],
    [linux('SIGINT'), bySignal('SIGTERM'), false],
    [linux('SIGINT'), byCode(3221225786), false],
    [windows, byCode(3221225786), true],
    ['[win-helper] Received console control signal: 2', byCode(0xc000013a), true],
    [windows, byCode(1), false],
    [windows, bySignal('SIGINT'), false],
    [undefined, bySignal('SIGINT'), false],
    [undefined, byCode(3221225786), false],
    ['[win-helper] Received exit command via stdin. Stopping capture gracefully...', bySignal('SIGTERM'), false],
    ['[win-helper] Host process ended; stopping capture.', byCode(3221225786), false],
  ];
  for (const [line, status, reported] of rows) {
    assert.equal(endedAsReported(line, status), reported, `${String(line)} ${JSON.stringify(status)}`);
  }
});

test('an already aborted signal starts nothing', async () => {
  const folder = mkdtempSync(join(tmpdir(), 'quillmere-aborted-'));
  const launcher = ['sh', '-c', `touch ${folder}/started`, 'quillmere'];
  const signal = AbortSignal.abort('too late');
  assert.throws(
    () => startCapture({ pid: 4242, exePath: 'quillmere', launcher, signal }),
    (e: unknown) => e instanceof Error && e.name === 'AbortError' && e.cause === 'too late',
  );
  await assert.rejects(listSessions({ exePath: 'quillmere', launcher, signal }), { name: 'AbortError', code: 'ABORT_ERR' });
  await delay(100);
  assert.equal(existsSync(join(folder, 'started')), false);
});

test('a listing that hangs is ended by its time-out or an abort; a failed one says how it ended', async () => {
  const hang = { exePath: 'quillmere', launcher: ['sh', '-c', 'exec sleep 30', 'quillmere'] };
  await assert.rejects(listSessions({ ...hang, timeoutMs: 200 }), { name: 'QuillmereError', code: 'TIMEOUT' });
  const controller = new AbortController();
  setTimeout(() => controller.abort('closing'), 200);
  await assert.rejects(listSessions({ ...hang, signal: controller.signal }), { name: 'AbortError', code: 'ABORT_ERR', cause: 'closing' });
  const failed = { exePath: 'quillmere', launcher: ['sh', '-c', 'echo "[win-helper] Failed to connect to the sound server: x" >&2; exit 1'] };
  await assert.rejects(listSessions(failed), {
    code: 'EXITED',
    exitCode: 1,
    lines: ['[win-helper] Failed to connect to the sound server: x'],
  });
});
