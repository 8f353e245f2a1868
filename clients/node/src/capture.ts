// A capture run: the program as a child process, its stream, its log as typed events, and the
// stdin commands that change the ratio and stop it in order.

import type { ChildProcess } from 'node:child_process';
import { EventEmitter } from 'node:events';
import type { Readable } from 'node:stream';

import { AbortError, QuillmereError, describeStatus, type ExitStatus } from './errors';
import {
  LineSplitter,
  endedAsReported,
  isFailureLine,
  parseLine,
  type AudioFormat,
  type AudioLostEvent,
  type CaptureMode,
  type ClockAdjustedEvent,
  type RatioChangedEvent,
  type RatioRefusedEvent,
  type RestoredEvent,
  type SessionVolumeEvent,
  type ServerLostEvent,
  type SilenceEvent,
  type StopCause,
  type TargetEvent,
  type WarningEvent,
  RecentLines,
} from './lines';
import { KILL_SIGNAL, locateProgram, startProgram, whenEnded, type ProgramLocation, type ProgramOptions } from './program';
import { CHANNELS, SAMPLE_RATE, SampleAligner, toSamples } from './samples';
import { askVersion, knownVersion, mismatchError, mismatchMessage, type ProgramVersion } from './version';

export type Quality = 'linear' | 'high';
export type StreamClock = 'steady' | 'packets';
/** Which sessions are lowered, whatever the mode: the target's tree, or everything outside it. */
export type DuckSessions = 'target' | 'others';

export interface CaptureOptions extends ProgramOptions {
  /** The target process: captured alone (include) or left out with its descendants (exclude). */
  pid: number;
  /**
   * The fraction of their own volume the lowered sessions are set to, 0..1 (default 0.2; 0.999
   * or more: none). Without duckSessions, exclude mode lowers every session outside the target's
   * process tree, include mode the target's tree: in both modes, the sessions the capture records.
   */
  duckRatio?: number | undefined;
  /** Default 'exclude'. */
  mode?: CaptureMode | undefined;
  /**
   * What is lowered, in either mode: 'target', the target's tree (and the program's own);
   * 'others', every session outside both trees (include mode: record one application, lower the
   * rest). Default: what the mode records (see duckRatio).
   */
  duckSessions?: DuckSessions | undefined;
  /**
   * Processes whose sessions, and their descendants', are never lowered. Default: this process
   * ([process.pid]), so that the host's own sounds stay as they are; a list replaces it ([] keeps
   * nothing).
   */
  keep?: readonly number[] | undefined;
  /**
   * The status events (targetNotFound, targetEnded, silence, audioLost). Default true; false
   * leaves the program's --status out.
   */
  status?: boolean | undefined;
  /**
   * 'high' (the default here) low-pass filters the stream before 16 kHz, so that nothing above
   * 8 kHz folds into the speech band (the stream then starts with the filter's delay, about
   * 2.4 ms); 'linear' is the program's own default, plain linear interpolation.
   */
  quality?: Quality | undefined;
  /**
   * How the Windows program's stream keeps time. 'steady' (the default here): 16,000 samples per
   * second of wall-clock time, silence while the target plays nothing, so a sample's position
   * says when it was heard ('clockAdjusted' reports each 20 ms drift correction); 'packets', the
   * program's own default: only the audio that came, back to back. The Linux program's stream
   * always keeps steady time: no option is passed to it.
   */
  clock?: StreamClock | undefined;
  /**
   * Before the capture has started, an abort rejects ready (and ends samples()) with an
   * AbortError and stops the program; after, it is stop().
   */
  signal?: AbortSignal | undefined;
}

/** The capture has started: what was asked for, and the format the engine delivers. */
export interface StartedEvent {
  mode: CaptureMode;
  pid: number;
  format: AudioFormat;
}

/**
 * How a capture ended. reason: 'stopped' after stop() wrote "exit"; 'killed' when stop() timed out
 * and killed the process (no orderly restoration: the program's guardian puts volumes back);
 * 'ended' when the program ended without being asked (a failure, its output closed, its host
 * gone, a console signal); 'spawnFailed' when it could not be started.
 */
export interface CaptureResult extends ExitStatus {
  killed: boolean;
  reason: 'stopped' | 'killed' | 'ended' | 'spawnFailed';
}

export interface StopOptions {
  /** How long to wait for the orderly end before killing the process (default 2000 ms). */
  timeoutMs?: number | undefined;
}

export interface CaptureEvents {
  started: [StartedEvent];
  ducked: [SessionVolumeEvent];
  duckUpdated: [SessionVolumeEvent];
  restored: [RestoredEvent];
  ratioChanged: [RatioChangedEvent];
  clockAdjusted: [ClockAdjustedEvent];
  ratioRefused: [RatioRefusedEvent];
  warning: [WarningEvent];
  stopping: [StopCause];
  /** The Linux program lost its sound server; the stream goes on, silent, while it reconnects. */
  serverLost: [ServerLostEvent];
  /** A sound server answers again: its streams are captured and lowered as at the start. */
  serverReconnected: [];
  /** No process had the target's pid when the capture started: it records nothing of it. */
  targetNotFound: [TargetEvent];
  /** The target and every process of its tree have ended; the capture goes on until stopped. */
  targetEnded: [TargetEvent];
  /** The capture hears nothing while the sessions it records play (silent), or hears again. */
  silence: [SilenceEvent];
  /** Audio was lost on its way to the host, and replaced by silence. */
  audioLost: [AudioLostEvent];
  /** Every line of standard error, known or not, without its line end. */
  log: [string];
}

type Listener<E extends keyof CaptureEvents> = (...args: CaptureEvents[E]) => void;

export interface Capture {
  on<E extends keyof CaptureEvents>(event: E, listener: Listener<E>): this;
  once<E extends keyof CaptureEvents>(event: E, listener: Listener<E>): this;
  off<E extends keyof CaptureEvents>(event: E, listener: Listener<E>): this;
  emit<E extends keyof CaptureEvents>(event: E, ...args: CaptureEvents[E]): boolean;
}

interface PendingRatio {
  resolve: (ratio: number) => void;
  reject: (error: Error) => void;
}

type Settings = ProgramOptions & {
  pid: number;
  duckRatio: number;
  mode: CaptureMode;
  duckSessions: DuckSessions | undefined;
  keep: readonly number[];
  status: boolean;
  quality: Quality;
  clock: StreamClock;
  signal: AbortSignal | undefined;
};

export class Capture extends EventEmitter {
  readonly sampleRate = SAMPLE_RATE;
  readonly channels = CHANNELS;
  /**
   * 16 kHz mono signed 16-bit little-endian samples, every chunk whole samples. It ends when the
   * program's output ends, however the program ended: a failure is never an 'error' here.
   */
  readonly pcm: Readable;
  /** Settles when the capture has started; rejects with a QuillmereError (or an AbortError) if it never does. */
  readonly ready: Promise<StartedEvent>;
  /** Settles once the program has ended, however it ended. */
  readonly exited: Promise<CaptureResult>;

  private readonly aligner = new SampleAligner();
  // The program, once it has been started; until then the lines for its standard input wait.
  private child: ChildProcess | undefined;
  private output: Readable | undefined;
  private readonly unsent: string[] = [];
  private readonly log = new RecentLines();
  private readonly pendingRatios: PendingRatio[] = [];
  private captureStarted = false;
  // The program's line for the first signal it received: a host that stops on the same Ctrl+C
  // writes "exit" after it, and the program ends by the signal all the same.
  private signalLine: string | undefined;
  private started: StartedEvent | undefined;
  private result: CaptureResult | undefined;
  private stopping: Promise<CaptureResult> | undefined;
  private killed = false;
  private draining = false;
  // What ready rejected with or samples() throws, once known.
  private failure: QuillmereError | AbortError | undefined;
  private resolveReady!: (event: StartedEvent) => void;
  private rejectReady!: (error: QuillmereError | AbortError) => void;
  private resolveExited!: (result: CaptureResult) => void;

  private constructor(private readonly options: Settings) {
    super();
    this.ready = new Promise((resolve, reject) => {
      this.resolveReady = resolve;
      this.rejectReady = reject;
    });
    // A host that awaits only exited must not see an unhandled rejection.
    this.ready.catch(() => undefined);
    this.exited = new Promise((resolve) => {
      this.resolveExited = resolve;
    });

    const program = locateProgram(options.exePath);
    this.pcm = this.aligner;
    // Destroying pcm closes the program's standard output, which stops the capture in order; a
    // program not started yet is not started.
    this.aligner.on('close', () => (this.output ? this.output.destroy() : void this.stop()));
    const answer = knownVersion(program.path);
    if (answer) {
      this.startChecked(program, answer);
    } else {
      void askVersion(program, options).then((asked) => this.startChecked(program, asked));
    }

    const { signal } = options;
    if (signal) {
      const onAbort = () => this.abort(signal.reason);
      signal.addEventListener('abort', onAbort, { once: true });
      void this.exited.then(() => signal.removeEventListener('abort', onAbort));
    }
  }

  // Starts the program once its version is known (undefined: it could not be asked, and its own
  // start says why), unless the capture has ended meanwhile or the platform package's program
  // is of another version. A program the host chose only gets a warning.
  private startChecked(program: ProgramLocation, answer: ProgramVersion | undefined): void {
    if (this.result) {
      return;
    }
    if (answer && !answer.matches) {
      if (program.packaged) {
        this.failure = mismatchError(program.path, answer);
        this.finish({ exitCode: null, signal: null }, undefined, true);
        return;
      }
      const event: WarningEvent = {
        kind: 'programMismatch',
        line: mismatchMessage(program.path, answer),
        hresult: undefined,
        session: undefined,
      };
      // A capture whose version was known at once is still being set up by its host.
      process.nextTick(() => this.emit('warning', event));
    }
    try {
      this.startProgram(program.path);
    } catch (error) {
      this.finish({ exitCode: null, signal: null }, error as NodeJS.ErrnoException);
    }
  }

  private startProgram(program: string): void {
    const { options, aligner } = this;
    const args = [pidArgument(options.pid), String(options.duckRatio), options.mode, `--quality=${options.quality}`];
    // Only the Windows program has a choice of clock.
    if (/\.exe$/i.test(program)) {
      args.push(`--clock=${options.clock}`);
    }
    if (options.status) {
      args.push('--status');
    }
    if (options.duckSessions !== undefined) {
      args.push(`--duck=${options.duckSessions}`);
    }
    args.push(...options.keep.map((pid) => `--keep=${String(pid)}`));
    const child = startProgram({ ...options, exePath: program }, args, ['pipe', 'pipe', 'pipe']);
    this.child = child;
    const { stdin, stdout, stderr } = child;
    if (!stdin || !stdout || !stderr) {
      throw new Error('the child process has no pipes');
    }
    // A write after the program ended fails with EPIPE: the end is reported through exited.
    stdin.on('error', () => undefined);
    for (const line of this.unsent.splice(0)) {
      stdin.write(line);
    }

    this.output = stdout;
    stdout.on('error', () => undefined);
    // Backpressure as pipe() does it, until the program is ending: from then on everything it
    // writes is taken into pcm whether or not the host reads, so that its writes complete and it
    // reaches its restoration and its end.
    stdout.on('data', (chunk: Buffer) => {
      if (!aligner.write(chunk) && !this.draining) {
        stdout.pause();
      }
    });
    aligner.on('drain', () => stdout.resume());
    stdout.on('end', () => aligner.end());

    const splitter = new LineSplitter();
    stderr.on('data', (chunk: Buffer) => splitter.push(chunk).forEach((line) => this.onLine(line)));
    stderr.on('end', () => splitter.end().forEach((line) => this.onLine(line)));

    child.on('error', (error) => {
      if (child.pid === undefined) {
        this.finish({ exitCode: null, signal: null }, error as NodeJS.ErrnoException);
      }
    });
    child.once('exit', () => this.drain());
    whenEnded(
      child,
      (exitCode, signal) => this.finish({ exitCode, signal }),
      () => {
        stdout.destroy();
        stderr.destroy();
        aligner.end();
      },
    );
  }

  /** @internal Use startCapture(). */
  static start(options: Settings): Capture {
    return new Capture(options);
  }

  /** The program's process id (undefined if it could not be started). */
  get processId(): number | undefined {
    return this.child?.pid;
  }

  /**
   * The stream as Int16Arrays, read from pcm: use one or the other. Once the stream has ended it
   * throws what ended it badly: the QuillmereError of a start that failed or of a program that
   * ended with a failure (an exit status other than 0, a signal neither stop() sent nor the
   * program reported), or the AbortError of an abort before the start. A stop the program
   * reported (a signal on Linux, a console control event on Windows) ends it quietly.
   */
  async *samples(): AsyncGenerator<Int16Array, void, undefined> {
    for await (const chunk of this.pcm) {
      yield toSamples(chunk as Buffer);
    }
    await this.exited;
    if (this.failure && this.failure.code !== 'STOPPED') {
      throw this.failure;
    }
  }

  /** Sets a new duck ratio; resolves with the ratio once the program has confirmed it. */
  setDuckRatio(ratio: number): Promise<number> {
    const invalid = duckRatioError(ratio, 'duck ratio');
    if (invalid) {
      return Promise.reject(invalid);
    }
    if (this.result || this.stopping) {
      return Promise.reject(new QuillmereError('the capture is ending', { code: 'CAPTURE_ENDED', log: this.log.snapshot() }));
    }
    return new Promise((resolve, reject) => {
      this.pendingRatios.push({ resolve, reject });
      this.send(`${String(ratio)}\n`);
    });
  }

  /**
   * Asks the program to stop ("exit") and waits for it to end, which includes putting other
   * applications' volumes back. Past the timeout the process is killed. Safe to call again.
   */
  stop(options: StopOptions = {}): Promise<CaptureResult> {
    if (this.stopping) {
      return this.stopping;
    }
    const timeoutMs = options.timeoutMs ?? 2000;
    this.stopping = this.exited;
    const { child } = this;
    if (!this.result && !child) {
      // Still asking the program its version: nothing to stop.
      this.finish({ exitCode: null, signal: null });
    } else if (!this.result && child) {
      this.drain();
      child.stdin?.write('exit\n');
      const timer = setTimeout(() => {
        if (!this.result) {
          this.killed = true;
          child.kill(KILL_SIGNAL);
        }
      }, timeoutMs);
      void this.exited.then(() => clearTimeout(timer));
    }
    return this.stopping;
  }

  private onLine(line: string): void {
    this.log.push(line);
    this.emit('log', line);
    const parsed = parseLine(line);
    switch (parsed.type) {
      case 'captureStarted':
        this.captureStarted = true;
        return;
      case 'format':
        if (this.captureStarted && !this.started) {
          this.started = { mode: this.options.mode, pid: this.options.pid, format: parsed.format };
          this.emit('started', this.started);
          this.resolveReady(this.started);
        }
        return;
      case 'ducked':
      case 'duckUpdated':
        this.emit(parsed.type, parsed.event);
        return;
      case 'restored':
        this.emit('restored', parsed.event);
        return;
      case 'ratioChanged':
        this.pendingRatios.shift()?.resolve(parsed.event.ratio);
        this.emit('ratioChanged', parsed.event);
        return;
      case 'ratioRefused':
        this.pendingRatios
          .shift()
          ?.reject(new QuillmereError(line, { code: 'RATIO_REFUSED', lines: [line], log: this.log.snapshot() }));
        this.emit('ratioRefused', parsed.event);
        return;
      case 'clockAdjusted':
        this.emit('clockAdjusted', parsed.event);
        return;
      case 'warning':
        this.emit('warning', parsed.event);
        return;
      case 'serverLost':
        this.emit('serverLost', parsed.event);
        return;
      case 'serverReconnected':
        this.emit('serverReconnected');
        return;
      case 'targetNotFound':
      case 'targetEnded':
        this.emit(parsed.type, parsed.event);
        return;
      case 'silence':
        this.emit('silence', parsed.event);
        return;
      case 'audioLost':
        this.emit('audioLost', parsed.event);
        return;
      case 'stopping':
        if (parsed.cause === 'signal' || parsed.cause === 'consoleSignal') {
          this.signalLine ??= line;
        }
        this.drain();
        this.emit('stopping', parsed.cause);
        return;
      default:
        return;
    }
  }

  private send(line: string): void {
    if (this.child) {
      this.child.stdin?.write(line);
    } else {
      this.unsent.push(line);
    }
  }

  // Takes everything the program still writes into pcm, read or not.
  private drain(): void {
    if (!this.draining) {
      this.draining = true;
      this.output?.resume();
    }
  }

  private abort(reason: unknown): void {
    if (this.result) {
      return;
    }
    if (!this.started) {
      this.failure = new AbortError(reason);
      this.rejectReady(this.failure);
    }
    void this.stop();
  }

  // unstarted: the program was never started (it could not be, or was of another version).
  private finish(status: ExitStatus, spawnError?: NodeJS.ErrnoException, unstarted = spawnError !== undefined): void {
    if (this.result) {
      return;
    }
    if (!this.child) {
      this.aligner.end();
    }
    const reason = unstarted ? 'spawnFailed' : this.killed ? 'killed' : this.stopping ? 'stopped' : 'ended';
    this.result = { ...status, killed: this.killed, reason };
    this.failure ??= this.endError(status, spawnError);
    if (!this.started && this.failure) {
      this.rejectReady(this.failure);
    }
    for (const pending of this.pendingRatios.splice(0)) {
      pending.reject(
        new QuillmereError(`Quillmere ended (${describeStatus(status)})`, { code: 'CAPTURE_ENDED', log: this.log.snapshot(), status }),
      );
    }
    this.resolveExited(this.result);
  }

  // Why the capture never started, or how it ended badly; undefined for an end that was no failure.
  private endError(status: ExitStatus, spawnError: NodeJS.ErrnoException | undefined): QuillmereError | undefined {
    const log = this.log.snapshot();
    const lines = log.filter(isFailureLine);
    const details = { lines, log, status, cause: spawnError };
    if (spawnError) {
      return new QuillmereError(`Quillmere could not be started: ${spawnError.message}`, {
        ...details,
        code: spawnError.code ?? 'START_FAILED',
      });
    }
    const failed =
      ((status.exitCode !== null && status.exitCode !== 0) || (status.signal !== null && !this.killed)) &&
      !endedAsReported(this.signalLine, status);
    if (this.started && !failed) {
      return undefined;
    }
    const code = this.started ? 'EXITED' : failed || !this.stopping ? 'START_FAILED' : 'STOPPED';
    const said = lines.length > 0 ? `: ${lines[lines.length - 1] as string}` : '';
    return new QuillmereError(`Quillmere ended (${describeStatus(status)})${said}`, { ...details, code });
  }
}

// The program takes a duck ratio from 0 to 1 (NaN is none of them); the error names the ratio as
// the caller knows it.
function duckRatioError(ratio: unknown, name: string): RangeError | undefined {
  return typeof ratio === 'number' && ratio >= 0 && ratio <= 1
    ? undefined
    : new RangeError(`${name} must be a number from 0 to 1, not ${String(ratio)}`);
}

// The program reads its pid argument as a 32-bit signed number and takes a negative one as its
// unsigned value: a pid above 2147483647 is written as the negative number with its bits.
function pidArgument(pid: number): string {
  return String(pid > 0x7fffffff ? pid - 0x100000000 : pid);
}

/**
 * Starts a capture. Throws, before anything starts, a RangeError for a pid or ratio the program
 * would misread, a QuillmereError with code 'NO_PROGRAM' when there is no program to start, and
 * an AbortError when the signal is already aborted.
 */
export function startCapture(options: CaptureOptions): Capture {
  const { pid, duckRatio = 0.2, mode = 'exclude', duckSessions, keep = [process.pid], status = true } = options;
  const { quality = 'high', clock = 'steady', signal } = options;
  if (!isPid(pid)) {
    throw new RangeError(`pid must be a whole number from 1 to 4294967295, not ${String(pid)}`);
  }
  const invalidRatio = duckRatioError(duckRatio, 'duckRatio');
  if (invalidRatio) {
    throw invalidRatio;
  }
  if (mode !== 'include' && mode !== 'exclude') {
    throw new RangeError(`mode must be 'include' or 'exclude', not ${String(mode)}`);
  }
  if (duckSessions !== undefined && duckSessions !== 'target' && duckSessions !== 'others') {
    throw new RangeError(`duckSessions must be 'target' or 'others', not ${String(duckSessions)}`);
  }
  if (!Array.isArray(keep) || !keep.every(isPid)) {
    throw new RangeError(`keep must be a list of pids, each a whole number from 1 to 4294967295, not ${String(keep)}`);
  }
  if (typeof status !== 'boolean') {
    throw new RangeError(`status must be true or false, not ${String(status)}`);
  }
  if (quality !== 'linear' && quality !== 'high') {
    throw new RangeError(`quality must be 'linear' or 'high', not ${String(quality)}`);
  }
  if (clock !== 'steady' && clock !== 'packets') {
    throw new RangeError(`clock must be 'steady' or 'packets', not ${String(clock)}`);
  }
  if (signal?.aborted) {
    throw new AbortError(signal.reason);
  }
  return Capture.start({ ...options, pid, duckRatio, mode, duckSessions, keep: [...keep], status, quality, clock, signal });
}

function isPid(pid: unknown): boolean {
  return Number.isInteger(pid) && (pid as number) > 0 && (pid as number) <= 0xffffffff;
}
