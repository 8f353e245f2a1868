// What one line of the program's standard error means. The program's texts are fixed (hosts
// match them byte for byte), so each rule below is the exact text the program writes.

import { StringDecoder } from 'node:string_decoder';

import type { ExitStatus } from './errors';

export type CaptureMode = 'include' | 'exclude';

/** The audio engine's format, as the program captures it before turning it into 16 kHz mono. */
export interface AudioFormat {
  sampleRate: number;
  channels: number;
  bitsPerSample: number;
  float: boolean;
}

/** One session volume the program lowered, or lowered again for a new ratio. */
export interface SessionVolumeEvent {
  /**
   * The program's name for the session's process: "player.exe (pid 4242)" or "pid 4242". The
   * name is the process's own choice: the program writes each control byte in it as \x and two
   * hex digits (a newline as \x0a), and a backslash as it is.
   */
  session: string;
  pid: number | undefined;
  /** The executable's file name, when the program could read it, written as in `session`. */
  name: string | undefined;
  before: number;
  after: number;
}

export interface RestoredEvent {
  volume: number;
  /** True when the volume was left lowered by an earlier run that did not end in order. */
  earlierRun: boolean;
}

/** The Windows program's steady stream (--clock=steady) corrected its drift from the wall clock. */
export interface ClockAdjustedEvent {
  /** 20: silence was inserted; -20: audio was dropped. */
  ms: number;
}

/** The Linux program lost its sound server during the capture (a restart, a crash). */
export interface ServerLostEvent {
  /** libpulse's words for why. */
  reason: string;
}

/** The target process (--status): not running at the start, or gone with every process of its tree. */
export interface TargetEvent {
  pid: number;
}

/**
 * The capture hears nothing while the sessions it records play (silent: true), or hears again
 * (silent: false). On Windows: a recorded session's meter shows sound for 2 s while every captured
 * sample was zero; on Linux: every playing recorded stream muted or at volume 0 for 2 s.
 */
export interface SilenceEvent {
  silent: boolean;
}

/** Audio lost between the audio engine and the host (the host read too slowly, or the engine dropped it). */
export interface AudioLostEvent {
  /** Milliseconds lost since the last such event, at most one event a second. */
  ms: number;
}

export interface RatioChangedEvent {
  ratio: number;
}

export interface RatioRefusedEvent {
  /** The line the program refused, as it logged it. */
  text: string;
}

export type WarningKind =
  | 'activationRetry'
  | 'formatFallback'
  | 'duckFailed'
  | 'duckUpdateFailed'
  | 'volumeAccessFailed'
  | 'volumeReadFailed'
  | 'restoreFailed'
  | 'journalWriteFailed'
  | 'journalUnreadable'
  | 'guardianNotStarted'
  | 'hostWatchNotStarted'
  | 'ratioArgumentIgnored'
  | 'noStdin'
  | 'programMismatch';

/**
 * A known failure line that does not end the run, or (kind 'programMismatch') the client's own
 * word that the program from exePath or QUILLMERE_EXE is of another major or minor version.
 */
export interface WarningEvent {
  kind: WarningKind;
  /** The program's line; for 'programMismatch', the client's message. */
  line: string;
  /**
   * The HRESULT the line carries, as the program writes it (signed decimal); from the Linux
   * program, libpulse's error number (PA_ERR_...).
   */
  hresult: number | undefined;
  /** The session the line is about, for the ducking warnings. */
  session: string | undefined;
}

/**
 * Why the program said it is ending the capture. 'consoleSignal' is a Windows console control
 * event, 'signal' a SIGINT, SIGTERM or SIGHUP to the Linux program, 'serverGone' a sound server
 * that did not come back within 30 s of its loss (Linux).
 */
export type StopCause =
  | 'stdinCommand'
  | 'stdoutClosed'
  | 'hostEnded'
  | 'consoleSignal'
  | 'signal'
  | 'captureCallFailed'
  | 'serverGone';

export type ParsedLine =
  | { type: 'build' }
  | { type: 'captureStarted' }
  | { type: 'targetPid'; pid: number }
  | { type: 'format'; format: AudioFormat }
  | { type: 'ducked'; event: SessionVolumeEvent }
  | { type: 'duckUpdated'; event: SessionVolumeEvent }
  | { type: 'restored'; event: RestoredEvent }
  | { type: 'ratioChanged'; event: RatioChangedEvent }
  | { type: 'clockAdjusted'; event: ClockAdjustedEvent }
  | { type: 'ratioRefused'; event: RatioRefusedEvent }
  | { type: 'warning'; event: WarningEvent }
  | { type: 'stopping'; cause: StopCause }
  | { type: 'serverLost'; event: ServerLostEvent }
  | { type: 'serverReconnected' }
  | { type: 'targetNotFound'; event: TargetEvent }
  | { type: 'targetEnded'; event: TargetEvent }
  | { type: 'silence'; event: SilenceEvent }
  | { type: 'audioLost'; event: AudioLostEvent }
  | { type: 'failure' }
  | { type: 'other' };

const TAG = '[win-helper] ';

// Prefix of a known, non-fatal failure line → its kind. The line's session label, when there is
// one, sits between the prefix and " hr=".
const WARNINGS: ReadonlyArray<readonly [string, WarningKind]> = [
  ['[win-helper] ActivateAudioInterfaceAsync failed (hr=', 'activationRetry'],
  ['[win-helper] Failed to create device enumerator: ', 'formatFallback'],
  ['[win-helper] Failed to get default render endpoint: ', 'formatFallback'],
  ['[win-helper] Failed to activate default client: ', 'formatFallback'],
  ['[win-helper] GetMixFormat on default client failed: ', 'formatFallback'],
  ['[win-helper] GetMixFormat on virtual device failed (hr=', 'formatFallback'],
  ['[win-helper] Primary Initialize failed (hr=', 'formatFallback'],
  ['[win-helper] Failed to duck session ', 'duckFailed'],
  ['[win-helper] Failed to update ducked session ', 'duckUpdateFailed'],
  ['[win-helper] Failed to access session volume for ', 'volumeAccessFailed'],
  ['[win-helper] Failed to read session volume for ', 'volumeReadFailed'],
  ['[win-helper] Failed to restore session volume hr=', 'restoreFailed'],
  ['[win-helper] Failed to write ducking journal: ', 'journalWriteFailed'],
  ['[win-helper] Ignoring unreadable ducking journal: ', 'journalUnreadable'],
  ['[win-helper] Failed to start the volume guardian: ', 'guardianNotStarted'],
  ['[win-helper] Failed to start the host watch thread: ', 'hostWatchNotStarted'],
  ['[win-helper] Ignoring invalid duck ratio argument: ', 'ratioArgumentIgnored'],
  ['[win-helper] No stdin handle available for live ducking updates.', 'noStdin'],
];

const SESSION_WARNINGS: ReadonlySet<WarningKind> = new Set([
  'duckFailed',
  'duckUpdateFailed',
  'volumeAccessFailed',
  'volumeReadFailed',
]);

const CONSOLE_SIGNAL = '[win-helper] Received console control signal: ';
const RECEIVED_SIGNAL = '[win-helper] Received signal: ';
// The status Windows gives a process that a console control event ended (STATUS_CONTROL_C_EXIT).
const CONTROL_C_EXIT = 0xc000013a;

const STOPS: ReadonlyArray<readonly [string, StopCause]> = [
  ['[win-helper] Received exit command via stdin.', 'stdinCommand'],
  ['[win-helper] Write to stdout failed (pipe closed)', 'stdoutClosed'],
  ['[win-helper] Host process ended; stopping capture.', 'hostEnded'],
  [CONSOLE_SIGNAL, 'consoleSignal'],
  [RECEIVED_SIGNAL, 'signal'],
  ['[win-helper] GetNextPacketSize failed', 'captureCallFailed'],
  ['[win-helper] GetBuffer failed: ', 'captureCallFailed'],
  ['[win-helper] Failed to reconnect to the sound server', 'serverGone'],
];

const DECIMAL = String.raw`-?(?:\d+\.?\d*|\.\d+)(?:e[-+]?\d+)?|-?inf|-?nan`;
const VOLUME_CHANGE = new RegExp(`^(.+): (${DECIMAL}) -> (${DECIMAL})$`, 'i');
const FORMAT = /^\[win-helper\] Format: (\d+)Hz, (\d+) channels, (\d+) bits, (float|integer)$/;
const LABEL = /^(?:(.+) \(pid (\d+)\)|pid (\d+))$/;

function sessionVolume(rest: string): SessionVolumeEvent | undefined {
  const match = VOLUME_CHANGE.exec(rest);
  if (!match) {
    return undefined;
  }
  const session = match[1] as string;
  const label = LABEL.exec(session);
  return {
    session,
    pid: label ? Number(label[2] ?? label[3]) : undefined,
    name: label?.[1],
    before: Number(match[2]),
    after: Number(match[3]),
  };
}

function hresultOf(line: string): number | undefined {
  const match = /hr=(-?\d+)/.exec(line) ?? /: (-?\d+)$/.exec(line);
  return match ? Number(match[1]) : undefined;
}

function sessionOf(line: string, prefix: string): string | undefined {
  const rest = line.slice(prefix.length);
  const end = rest.lastIndexOf(' hr=');
  return end < 0 ? undefined : rest.slice(0, end);
}

function afterPrefix(line: string, prefix: string): string | undefined {
  return line.startsWith(prefix) ? line.slice(prefix.length) : undefined;
}

/**
 * @internal Whether the program ended the way the stop line it wrote says it will, which is no
 * failure: the Linux program, after its orderly end, ends by the signal its `Received signal:`
 * line names; after its console control line, Windows ends the Windows program with 0xC000013A.
 */
export function endedAsReported(stopLine: string | undefined, status: ExitStatus): boolean {
  if (stopLine === undefined) {
    return false;
  }
  const signal = afterPrefix(stopLine, RECEIVED_SIGNAL);
  if (signal !== undefined) {
    return status.signal !== null && status.signal === signal;
  }
  return stopLine.startsWith(CONSOLE_SIGNAL) && status.signal === null && status.exitCode === CONTROL_C_EXIT;
}

/** True for a line that reports a failure, known or not. */
export function isFailureLine(line: string): boolean {
  return /fail|error|did not complete|has no default sink|^Usage: /i.test(line);
}

/** What a line of standard error means. Never throws: an unknown or garbled line is 'other'. */
export function parseLine(line: string): ParsedLine {
  if (!line.startsWith(TAG)) {
    return isFailureLine(line) ? { type: 'failure' } : { type: 'other' };
  }
  if (line === '[win-helper] Windows WASAPI process-excluded loopback capture started.') {
    return { type: 'captureStarted' };
  }
  if (line.startsWith('[win-helper] build ')) {
    return { type: 'build' };
  }
  const target = /^\[win-helper\] (?:Excluding|Including) PID: (\d+)$/.exec(line);
  if (target) {
    return { type: 'targetPid', pid: Number(target[1]) };
  }
  const format = FORMAT.exec(line);
  if (format) {
    return {
      type: 'format',
      format: {
        sampleRate: Number(format[1]),
        channels: Number(format[2]),
        bitsPerSample: Number(format[3]),
        float: format[4] === 'float',
      },
    };
  }
  for (const [prefix, type] of [
    ['[win-helper] Ducking session ', 'ducked'],
    ['[win-helper] Updating ducking session ', 'duckUpdated'],
  ] as const) {
    const rest = afterPrefix(line, prefix);
    const event = rest === undefined ? undefined : sessionVolume(rest);
    if (event) {
      return { type, event };
    }
  }
  for (const [prefix, earlierRun] of [
    ['[win-helper] Restored session volume to: ', false],
    ['[win-helper] Restored session volume left lowered by an earlier run to: ', true],
  ] as const) {
    const rest = afterPrefix(line, prefix);
    if (rest !== undefined && new RegExp(`^(?:${DECIMAL})$`, 'i').test(rest)) {
      return { type: 'restored', event: { volume: Number(rest), earlierRun } };
    }
  }
  const ratio = afterPrefix(line, '[win-helper] Real-time duck ratio updated to ');
  if (ratio !== undefined && new RegExp(`^(?:${DECIMAL})$`, 'i').test(ratio)) {
    return { type: 'ratioChanged', event: { ratio: Number(ratio) } };
  }
  const adjusted = /^\[win-helper\] Stream clock adjusted by (-?\d+) ms$/.exec(line);
  if (adjusted) {
    return { type: 'clockAdjusted', event: { ms: Number(adjusted[1]) } };
  }
  const lost = afterPrefix(line, '[win-helper] Lost the sound server: ');
  if (lost !== undefined) {
    return { type: 'serverLost', event: { reason: lost } };
  }
  if (line === '[win-helper] Reconnected to the sound server') {
    return { type: 'serverReconnected' };
  }
  for (const [prefix, type] of [
    ['[win-helper] Target process not found: ', 'targetNotFound'],
    ['[win-helper] Target process tree ended: ', 'targetEnded'],
  ] as const) {
    const pid = afterPrefix(line, prefix);
    if (pid !== undefined && /^\d+$/.test(pid)) {
      return { type, event: { pid: Number(pid) } };
    }
  }
  if (line === '[win-helper] Capture silent while its sessions play') {
    return { type: 'silence', event: { silent: true } };
  }
  if (line === '[win-helper] Capture no longer silent') {
    return { type: 'silence', event: { silent: false } };
  }
  const audioLost = /^\[win-helper\] Audio lost: (\d+) ms$/.exec(line);
  if (audioLost) {
    return { type: 'audioLost', event: { ms: Number(audioLost[1]) } };
  }
  const refused = afterPrefix(line, '[win-helper] Ignoring invalid duck ratio command: ');
  if (refused !== undefined) {
    return { type: 'ratioRefused', event: { text: refused } };
  }
  for (const [prefix, kind] of WARNINGS) {
    if (line.startsWith(prefix)) {
      const session = SESSION_WARNINGS.has(kind) ? sessionOf(line, prefix) : undefined;
      return { type: 'warning', event: { kind, line, hresult: hresultOf(line), session } };
    }
  }
  for (const [prefix, cause] of STOPS) {
    if (line.startsWith(prefix)) {
      return { type: 'stopping', cause };
    }
  }
  return isFailureLine(line) ? { type: 'failure' } : { type: 'other' };
}

/**
 * Splits a byte stream into lines at LF, dropping a CR before it (the Windows program writes
 * CR LF). Bytes that are not UTF-8 become U+FFFD; a character split across chunks is kept whole.
 */
export class LineSplitter {
  private readonly decoder = new StringDecoder('utf8');
  private pending = '';

  /** The lines this chunk completes. */
  push(chunk: Buffer): string[] {
    this.pending += this.decoder.write(chunk);
    const lines = this.pending.split('\n');
    this.pending = lines.pop() ?? '';
    return lines.map(stripCr);
  }

  /** The unterminated last line, if any, once the stream has ended. */
  end(): string[] {
    const last = this.pending + this.decoder.end();
    this.pending = '';
    return last === '' ? [] : [stripCr(last)];
  }
}

function stripCr(line: string): string {
  return line.endsWith('\r') ? line.slice(0, -1) : line;
}

/** The most lines, and the most bytes of them (UTF-8, each with its line end), a log keeps. */
export const LOG_LINE_LIMIT = 1000;
export const LOG_BYTE_LIMIT = 256 * 1024;

/**
 * The last lines of a program's log, as many as fit both limits: a capture that runs for hours
 * writes a line per new ratio and per lowered stream, and a host keeps no more than it needs.
 */
export class RecentLines {
  private readonly lines: string[] = [];
  private bytes = 0;

  push(line: string): void {
    this.lines.push(line);
    this.bytes += Buffer.byteLength(line) + 1;
    while (this.lines.length > LOG_LINE_LIMIT || this.bytes > LOG_BYTE_LIMIT) {
      this.bytes -= Buffer.byteLength(this.lines.shift() ?? '') + 1;
    }
  }

  /** A copy of the lines kept, oldest first. */
  snapshot(): string[] {
    return [...this.lines];
  }
}
