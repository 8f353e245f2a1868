import assert from 'node:assert/strict';
import { test } from 'node:test';

import { LineSplitter, parseLine, RecentLines, type ParsedLine } from '../src/lines';

const warning = (kind: string, line: string, hresult?: number, session?: string): ParsedLine =>
  ({ type: 'warning', event: { kind, line, hresult, session } }) as ParsedLine;

test('each line of standard error means one thing', () => {
  const rows: Array<[string, ParsedLine]> = [
    ['[win-helper] build v3-mingw-uuid-fix', { type: 'build' }],
    ['[win-helper] Windows WASAPI process-excluded loopback capture started.', { type: 'captureStarted' }],
    ['[win-helper] Excluding PID: 4242', { type: 'targetPid', pid: 4242 }],
    ['[win-helper] Including PID: 7', { type: 'targetPid', pid: 7 }],
    [
      '[win-helper] Format: 44100Hz, 2 channels, 16 bits, integer',
      { type: 'format', format: { sampleRate: 44100, channels: 2, bitsPerSample: 16, float: false } },
    ],
    [
      '[win-helper] Ducking session player.exe (pid 4242): 1 -> 0.2',
      { type: 'ducked', event: { session: 'player.exe (pid 4242)', pid: 4242, name: 'player.exe', before: 1, after: 0.2 } },
    ],
    [
      '[win-helper] Ducking session My App (beta).exe (pid 12): 0.8 -> 1e-05',
      {
        type: 'ducked',
        event: { session: 'My App (beta).exe (pid 12)', pid: 12, name: 'My App (beta).exe', before: 0.8, after: 0.00001 },
      },
    ],
    [
      '[win-helper] Updating ducking session pid 3999996: 0.5 -> 0.15',
      { type: 'duckUpdated', event: { session: 'pid 3999996', pid: 3999996, name: undefined, before: 0.5, after: 0.15 } },
    ],
    ['[win-helper] Ducking session pid 1: 1 ->', { type: 'other' }],
    ['[win-helper] Restored session volume to: 0.8', { type: 'restored', event: { volume: 0.8, earlierRun: false } }],
    [
      '[win-helper] Restored session volume left lowered by an earlier run to: 1',
      { type: 'restored', event: { volume: 1, earlierRun: true } },
    ],
    ['[win-helper] Restored session volume to: loud', { type: 'other' }],
    ['[win-helper] Real-time duck ratio updated to 0.5', { type: 'ratioChanged', event: { ratio: 0.5 } }],
    ['[win-helper] Real-time duck ratio updated to -0', { type: 'ratioChanged', event: { ratio: -0 } }],
    ['[win-helper] Ignoring invalid duck ratio command: 1.5', { type: 'ratioRefused', event: { text: '1.5' } }],
    [
      '[win-helper] Failed to duck session player.exe (pid 4242) hr=-2147024809',
      warning('duckFailed', '[win-helper] Failed to duck session player.exe (pid 4242) hr=-2147024809', -2147024809, 'player.exe (pid 4242)'),
    ],
    [
      '[win-helper] Failed to read session volume for pid 9 hr=-2147024891',
      warning('volumeReadFailed', '[win-helper] Failed to read session volume for pid 9 hr=-2147024891', -2147024891, 'pid 9'),
    ],
    [
      '[win-helper] Failed to restore session volume hr=-2147467259',
      warning('restoreFailed', '[win-helper] Failed to restore session volume hr=-2147467259', -2147467259),
    ],
    [
      '[win-helper] ActivateAudioInterfaceAsync failed (hr=-2147467259).',
      warning('activationRetry', '[win-helper] ActivateAudioInterfaceAsync failed (hr=-2147467259).', -2147467259),
    ],
    [
      '[win-helper] Failed to get default render endpoint: -2147023728',
      warning('formatFallback', '[win-helper] Failed to get default render endpoint: -2147023728', -2147023728),
    ],
    [
      '[win-helper] Failed to write ducking journal: C:\\j\\journal-1-2.txt error=5',
      warning('journalWriteFailed', '[win-helper] Failed to write ducking journal: C:\\j\\journal-1-2.txt error=5'),
    ],
    [
      '[win-helper] Failed to start the volume guardian: error 5',
      warning('guardianNotStarted', '[win-helper] Failed to start the volume guardian: error 5'),
    ],
    [
      '[win-helper] Ignoring invalid duck ratio argument: loud',
      warning('ratioArgumentIgnored', '[win-helper] Ignoring invalid duck ratio argument: loud'),
    ],
    ['[win-helper] Received exit command via stdin. Stopping capture gracefully...', { type: 'stopping', cause: 'stdinCommand' }],
    ['[win-helper] Write to stdout failed (pipe closed)', { type: 'stopping', cause: 'stdoutClosed' }],
    ['[win-helper] Host process ended; stopping capture.', { type: 'stopping', cause: 'hostEnded' }],
    ['[win-helper] Received console control signal: 0', { type: 'stopping', cause: 'consoleSignal' }],
    ['[win-helper] GetNextPacketSize failed in loop: -2147467259', { type: 'stopping', cause: 'captureCallFailed' }],
    ['[win-helper] Received signal: SIGTERM', { type: 'stopping', cause: 'signal' }],
    ['[win-helper] Failed to reconnect to the sound server', { type: 'stopping', cause: 'serverGone' }],
    [
      '[win-helper] Lost the sound server: Connection terminated',
      { type: 'serverLost', event: { reason: 'Connection terminated' } },
    ],
    ['[win-helper] Reconnected to the sound server', { type: 'serverReconnected' }],
    ['[win-helper] Target process not found: 4242', { type: 'targetNotFound', event: { pid: 4242 } }],
    ['[win-helper] Target process tree ended: 4294967295', { type: 'targetEnded', event: { pid: 4294967295 } }],
    ['[win-helper] Target process tree ended: ', { type: 'other' }],
    ['[win-helper] Target process not found: -5', { type: 'other' }],
    ['[win-helper] Capture silent while its sessions play', { type: 'silence', event: { silent: true } }],
    ['[win-helper] Capture no longer silent', { type: 'silence', event: { silent: false } }],
    ['[win-helper] Audio lost: 1250 ms', { type: 'audioLost', event: { ms: 1250 } }],
    ['[win-helper] Audio lost: 12.5 ms', { type: 'other' }],
    ['[win-helper] Stream clock adjusted by 20 ms', { type: 'clockAdjusted', event: { ms: 20 } }],
    ['[win-helper] Stream clock adjusted by -20 ms', { type: 'clockAdjusted', event: { ms: -20 } }],
    ['[win-helper] Stream clock adjusted by 2.5 ms', { type: 'other' }],
    [
      '[win-helper] Failed to duck session tone_player (pid 4242) hr=3',
      warning('duckFailed', '[win-helper] Failed to duck session tone_player (pid 4242) hr=3', 3, 'tone_player (pid 4242)'),
    ],
    ['[win-helper] Failed to connect to the sound server: Connection refused', { type: 'failure' }],
    ['[win-helper] The sound server has no default sink', { type: 'failure' }],
    ['[win-helper] No X11 display: no windows to list', { type: 'other' }],
    ['Activation completed with error: -2147024891', { type: 'failure' }],
    ['[win-helper] Activation failed permanently: -2147467259', { type: 'failure' }],
    ['[win-helper] ActivateAudioInterfaceAsync did not complete in time', { type: 'failure' }],
    ['Usage: Quillmere.exe <pid> [duck_ratio] [include/exclude] (or Quillmere.exe --list-sessions)', { type: 'failure' }],
    ['[win-helper] Params size: 12', { type: 'other' }],
    ['[win-helper]', { type: 'other' }],
    ['', { type: 'other' }],
    ['\ufffd\ufffd garbage \u0000', { type: 'other' }],
  ];
  for (const [line, expected] of rows) {
    assert.deepEqual(parseLine(line), expected, line);
  }
});

test('lines end at LF with or without CR, characters survive chunk boundaries, bad bytes do not throw', () => {
  const splitter = new LineSplitter();
  const lines = [
    ...splitter.push(Buffer.from('one\r\ntw')),
    ...splitter.push(Buffer.from('o\nCaf\xc3', 'latin1')),
    ...splitter.push(Buffer.from('\xa9 \xff\r\n\r\nlast', 'latin1')),
    ...splitter.end(),
  ];
  assert.deepEqual(lines, ['one', 'two', 'Café \ufffd', '', 'last']);
  assert.deepEqual(splitter.end(), []);
});

test('a log keeps its last 1,000 lines, and no more than 256 KiB of them', () => {
  const rows: Array<[string, string[], string[]]> = [
    ['1,500 short lines: the last 1,000', Array.from({ length: 1500 }, (_, i) => `line ${i}`), Array.from({ length: 1000 }, (_, i) => `line ${i + 500}`)],
    // 1023 bytes each with its line end: 256 of them fit in 262,144 bytes, not 257.
    ['300 lines of a kilobyte: the last 256', Array.from({ length: 300 }, (_, i) => `${i}`.padEnd(1022, '.')), Array.from({ length: 256 }, (_, i) => `${i + 44}`.padEnd(1022, '.'))],
  ];
  for (const [name, pushed, kept] of rows) {
    const log = new RecentLines();
    pushed.forEach((line) => log.push(line));
    assert.deepEqual(log.snapshot(), kept, name);
  }
});
