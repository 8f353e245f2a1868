// The client against the real Quillmere.exe under Wine and the audio engine double.

import assert from 'node:assert/strict';
import { spawn, spawnSync } from 'node:child_process';
import { mkdtempSync, openSync, closeSync, readFileSync } from 'node:fs';
import { tmpdir } from 'node:os';
import { join } from 'node:path';
import { test } from 'node:test';

import { QuillmereError, listApps, listSessions, startCapture } from '../src/index';
import type { SessionVolumeEvent } from '../src/lines';
import { delay, exePath, runUnderWine, testBin, until, withScript } from './support';

const TIMEOUT = { timeout: 60_000 };

// Two packet sizes, so that packets straddle the 16 kHz grid; the 300th poll of the engine fails,
// which ends the capture in order after a fixed number of packets.
const FINITE_TONE = `mix_format ext-float 48000 2 32
packet 441 tone 1000 0.5
packet 300 tone 440 0.25
repeat
packet_size_fail 0x80004005 300
`;

const LIVE_TONE = `mix_format ext-float 48000 2 32
packet 480 tone 440 0.5
repeat
realtime
session speakers pid=3999996 id=ghost volume=0.5
`;

test('the stream is the bytes the program writes, garbage on standard error notwithstanding', TIMEOUT, async () => {
  const direct = withScript(FINITE_TONE);
  const file = join(mkdtempSync(join(tmpdir(), 'quillmere-direct-')), 'direct.raw');
  const fd = openSync(file, 'w');
  const run = spawnSync(runUnderWine, [exePath, '4242'], { env: direct.env, stdio: ['ignore', fd, 'ignore'] });
  closeSync(fd);
  assert.equal(run.status, 0);
  const expected = readFileSync(file);
  assert.ok(expected.length > 0);

  // A launcher that writes bytes that are no UTF-8 and a garbled line before the program starts.
  const garbage = `printf '\\377\\376 not a line of ours\\r\\n[win-helper] Ducking session : ->\\r\\n' >&2; exec "$0" "$@"`;
  const capture = startCapture({ ...withScript(FINITE_TONE, ['sh', '-c', garbage, runUnderWine]), pid: 4242, quality: 'linear', clock: 'packets' });
  const log: string[] = [];
  capture.on('log', (line) => log.push(line));
  const chunks: Buffer[] = [];
  for await (const chunk of capture.pcm) {
    chunks.push(chunk as Buffer);
  }
  assert.ok(chunks.every((chunk) => chunk.length % 2 === 0));
  assert.deepEqual(Buffer.concat(chunks), expected);
  assert.deepEqual(await capture.exited, { exitCode: 0, signal: null, killed: false, reason: 'ended' });
  assert.deepEqual(log.slice(0, 2), ['\ufffd\ufffd not a line of ours', '[win-helper] Ducking session : ->']);
  assert.equal((await capture.ready).format.sampleRate, 48000);
});

test('a ducking run reports its volumes, confirms ratios, refuses bad ones unwritten and stops in order', TIMEOUT, async () => {
  const capture = startCapture({ ...withScript(LIVE_TONE), pid: 4242, duckRatio: 0.2, mode: 'exclude', clock: 'packets' });
  const events: Array<[string, unknown]> = [];
  for (const name of ['ducked', 'duckUpdated', 'restored', 'ratioChanged'] as const) {
    capture.on(name, (event: unknown) => events.push([name, event]));
  }
  const log: string[] = [];
  capture.on('log', (line) => log.push(line));
  capture.pcm.resume();
  assert.deepEqual(await capture.ready, {
    mode: 'exclude',
    pid: 4242,
    format: { sampleRate: 48000, channels: 2, bitsPerSample: 32, float: true },
  });
  await until(() => events.length === 1);
  await assert.rejects(capture.setDuckRatio(1.5), RangeError);
  await assert.rejects(capture.setDuckRatio(Number.NaN), RangeError);
  assert.equal(await capture.setDuckRatio(0.3), 0.3);
  await until(() => events.length === 3);
  const stopped = capture.stop();
  assert.equal(capture.stop(), stopped, 'a second stop is the same stop');
  assert.deepEqual(await stopped, { exitCode: 0, signal: null, killed: false, reason: 'stopped' });

  const ghost = (before: number, after: number): SessionVolumeEvent => ({
    session: 'pid 3999996',
    pid: 3999996,
    name: undefined,
    before,
    after,
  });
  assert.deepEqual(events, [
    ['ducked', ghost(0.5, 0.1)],
    ['ratioChanged', { ratio: 0.3 }],
    ['duckUpdated', ghost(0.5, 0.15)],
    ['restored', { volume: 0.5, earlierRun: false }],
  ]);
  assert.ok(!log.some((line) => line.includes('Ignoring invalid duck ratio')), 'refused ratios are never written');
  await assert.rejects(capture.setDuckRatio(0.5), QuillmereError);
});

// As fast as the double can deliver it, without end: the pipe is full as soon as nobody reads it.
const UNPACED_TONE = `mix_format ext-float 48000 2 32
packet 480 tone 440 0.5
repeat
session speakers pid=3999996 id=ghost volume=0.5
`;

test('stop() ends in order when the host has stopped reading pcm', TIMEOUT, async () => {
  const capture = startCapture({ ...withScript(UNPACED_TONE), pid: 4242, clock: 'packets' });
  const volumes: Array<[string, unknown]> = [];
  capture.on('ducked', (event) => volumes.push(['ducked', event.after]));
  capture.on('restored', (event) => volumes.push(['restored', event]));
  await capture.ready;
  await until(() => volumes.length === 1);
  await delay(1000);
  assert.ok(capture.pcm.readableLength >= capture.pcm.readableHighWaterMark, 'nobody has read pcm');
  assert.deepEqual(await capture.stop(), { exitCode: 0, signal: null, killed: false, reason: 'stopped' });
  assert.deepEqual(volumes, [
    ['ducked', 0.1],
    ['restored', { volume: 0.5, earlierRun: false }],
  ]);
  let bytes = 0;
  for await (const chunk of capture.pcm) {
    bytes += (chunk as Buffer).length;
  }
  assert.ok(bytes > 64 * 1024, `the tail is the host's to read (${bytes} bytes)`);
});

test('stop() kills a program that does not answer within the timeout', TIMEOUT, async () => {
  // The activation never completes, so the program reads no command yet.
  const capture = startCapture({ ...withScript('completion_later_ms never\n'), pid: 4242, clock: 'packets' });
  const log: string[] = [];
  capture.on('log', (line) => log.push(line));
  await until(() => log.includes('[win-helper] Params size: 12'));
  const result = await capture.stop({ timeoutMs: 1500 });
  assert.deepEqual(result, { exitCode: null, signal: 'SIGKILL', killed: true, reason: 'killed' });
  await assert.rejects(capture.ready, QuillmereError);
});

test('a start failure rejects ready, and ends a loop over samples(), with the failure line and status 1', TIMEOUT, async () => {
  const capture = startCapture({ ...withScript('completion 0x80070005\n'), pid: 4242, clock: 'packets' });
  const loop = (async () => {
    for await (const samples of capture.samples()) {
      assert.fail(`${samples.length} samples from a capture that never started`);
    }
  })();
  const error = await capture.ready.then(
    () => assert.fail('the capture started'),
    (e: unknown) => e,
  );
  assert.ok(error instanceof QuillmereError);
  assert.equal(error.code, 'START_FAILED');
  assert.deepEqual(error.lines, ['Activation completed with error: -2147024891']);
  assert.equal(error.exitCode, 1);
  await assert.rejects(loop, (thrown) => thrown === error);
  assert.deepEqual(await capture.exited, { exitCode: 1, signal: null, killed: false, reason: 'ended' });
});

test('Quillmere.exe tells the host of a target that is not running, and is of the client\'s own version', TIMEOUT, async () => {
  // Windows process ids are multiples of 4: no process has 4242.
  const capture = startCapture({ ...withScript(LIVE_TONE), pid: 4242, clock: 'packets' });
  const said: Array<[string, unknown]> = [];
  capture.on('targetNotFound', (event) => said.push(['targetNotFound', event]));
  capture.on('warning', (event) => said.push(['warning', event.line]));
  capture.pcm.resume();
  await capture.ready;
  await until(() => said.length > 0);
  assert.deepEqual(await capture.stop(), { exitCode: 0, signal: null, killed: false, reason: 'stopped' });
  assert.deepEqual(said, [['targetNotFound', { pid: 4242 }]]);
});

test('both listings come back as typed records; anything but one JSON array is refused', TIMEOUT, async () => {
  const sessions = await listSessions(withScript('session speakers pid=3999984 id=gone instance=x\\Apps\\NotRunning.exe\n'));
  assert.deepEqual(sessions, [{ pid: 3999984, name: 'NotRunning.exe' }]);

  const app = spawn(runUnderWine, [join(testBin, 'described_app.exe'), 'visible:Client'], { stdio: 'ignore' });
  try {
    let apps = await listApps(withScript(''));
    for (let i = 0; i < 100 && !apps.some((record) => record.exe === 'described_app.exe'); ++i) {
      await delay(100);
      apps = await listApps(withScript(''));
    }
    const described = apps.find((record) => record.exe === 'described_app.exe');
    assert.equal(described?.name, 'Say "hi" C:\\Apps Café Ω');
    assert.match(described?.path ?? '', /\\test-bin\\described_app\.exe$/);
  } finally {
    app.kill('SIGKILL');
  }

  const notJson = { exePath, launcher: ['sh', '-c', 'echo "[{]"; echo "a line of stderr" >&2'] };
  await assert.rejects(
    listSessions(notJson),
    (e: unknown) => e instanceof QuillmereError && e.code === 'BAD_OUTPUT' && e.lines[0] === 'a line of stderr',
  );
  const twoLines = { exePath, launcher: ['sh', '-c', 'printf "[]\\r\\n[]\\r\\n"'] };
  await assert.rejects(listApps(twoLines), { name: 'QuillmereError', code: 'BAD_OUTPUT' });
  const wrongShape = { exePath, launcher: ['sh', '-c', 'printf \'[{"pid":"1","name":"a"}]\\r\\n\''] };
  await assert.rejects(listSessions(wrongShape), { name: 'QuillmereError', code: 'BAD_OUTPUT' });
});

test('quillmere-record writes a WAV file of the seconds asked for', TIMEOUT, async () => {
  const out = join(mkdtempSync(join(tmpdir(), 'quillmere-record-')), 'capture.wav');
  const options = withScript(LIVE_TONE);
  const cli = join(__dirname, '..', 'src', 'cli.js');
  const run = spawnSync(
    process.execPath,
    [cli, '--pid', '4242', '--seconds', '0.5', '--out', out, '--exe', exePath, '--launcher', runUnderWine],
    { env: options.env, encoding: 'utf8' },
  );
  assert.equal(run.status, 0, run.stderr);
  const wav = readFileSync(out);
  assert.equal(wav.length, 44 + 16000);
  assert.equal(wav.toString('ascii', 0, 4), 'RIFF');
  assert.equal(wav.readUInt32LE(4), 36 + 16000);
  assert.equal(wav.toString('ascii', 8, 16), 'WAVEfmt ');
  assert.equal(wav.readUInt32LE(24), 16000);
  assert.equal(wav.readUInt32LE(40), 16000);
  assert.ok(wav.subarray(44).some((byte) => byte !== 0), 'the tone is in the file');
});
