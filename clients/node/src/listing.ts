// The two listings: one JSON line on standard output.

import type { ChildProcess } from 'node:child_process';

import { AbortError, QuillmereError, describeStatus } from './errors';
import { LineSplitter } from './lines';
import { KILL_SIGNAL, locateProgram, startProgram, whenEnded, type ProgramOptions } from './program';
import { askVersion, mismatchError } from './version';

/** A process with an audio session on an active playback device. */
export interface SessionRecord {
  pid: number;
  /** The executable's file name. */
  name: string;
}

/** A process with a visible top-level window. */
export interface AppRecord {
  pid: number;
  /** The file description from the executable's version information, or its name without extension. */
  name: string;
  /** The executable's file name; empty when the process could not be read. */
  exe: string;
  /** The executable's full path; empty when the process could not be read. */
  path: string;
}

export interface ListingOptions extends ProgramOptions {
  /** An abort ends the listing program and rejects with an AbortError. */
  signal?: AbortSignal | undefined;
  /**
   * How long the listing may take before the program is ended and the call rejects with code
   * 'TIMEOUT' (default 30,000 ms: a cold Wine prefix takes seconds to start).
   */
  timeoutMs?: number | undefined;
}

/** The processes that own audio sessions, in ascending pid order. */
export function listSessions(options: ListingOptions = {}): Promise<SessionRecord[]> {
  return list(options, '--list-sessions', (record) => isCount(record['pid']) && typeof record['name'] === 'string');
}

/** The processes with visible windows, in ascending pid order. */
export function listApps(options: ListingOptions = {}): Promise<AppRecord[]> {
  return list(
    options,
    '--list-apps',
    (record) =>
      isCount(record['pid']) &&
      typeof record['name'] === 'string' &&
      typeof record['exe'] === 'string' &&
      typeof record['path'] === 'string',
  );
}

function isCount(value: unknown): boolean {
  return typeof value === 'number' && Number.isInteger(value) && value >= 0;
}

function list<T>(
  options: ListingOptions,
  option: string,
  isRecord: (record: Record<string, unknown>) => boolean,
): Promise<T[]> {
  return new Promise((resolve, reject) => {
    const { signal, timeoutMs = 30_000 } = options;
    if (!(timeoutMs > 0 && timeoutMs <= MAX_TIMEOUT_MS)) {
      reject(new RangeError(`timeoutMs must be more than 0 and at most ${MAX_TIMEOUT_MS}, not ${String(timeoutMs)}`));
      return;
    }
    if (signal?.aborted) {
      reject(new AbortError(signal.reason));
      return;
    }
    const program = locateProgram(options.exePath);
    let child: ChildProcess | undefined;
    const output: Buffer[] = [];
    const splitter = new LineSplitter();
    const log: string[] = [];
    let settled = false;
    const settle = (outcome: () => void) => {
      if (!settled) {
        settled = true;
        clearTimeout(timer);
        signal?.removeEventListener('abort', onAbort);
        outcome();
      }
    };
    const end = (error: Error) =>
      settle(() => {
        child?.kill(KILL_SIGNAL);
        child?.stdout?.destroy();
        child?.stderr?.destroy();
        reject(error);
      });
    const onAbort = () => end(new AbortError(signal?.reason));
    const timer = setTimeout(
      () =>
        end(new QuillmereError(`Quillmere ${option} did not end within ${timeoutMs} ms`, { code: 'TIMEOUT', lines: log, log })),
      timeoutMs,
    );
    signal?.addEventListener('abort', onAbort, { once: true });

    const run = () => {
      const started = startProgram({ ...options, exePath: program.path }, [option], ['ignore', 'pipe', 'pipe']);
      child = started;
      started.stdout?.on('data', (chunk: Buffer) => output.push(chunk));
      started.stderr?.on('data', (chunk: Buffer) => log.push(...splitter.push(chunk)));
      started.on('error', (error: NodeJS.ErrnoException) =>
        settle(() =>
          reject(
            new QuillmereError(`Quillmere could not be started: ${error.message}`, {
              code: error.code ?? 'START_FAILED',
              cause: error,
            }),
          ),
        ),
      );
      whenEnded(started, (exitCode, exitSignal) =>
        settle(() => {
          log.push(...splitter.end());
          const status = { exitCode, signal: exitSignal };
          const text = Buffer.concat(output).toString('utf8');
          const records = parseListing(text, isRecord);
          if (exitCode !== 0) {
            reject(new QuillmereError(`Quillmere ${option} ended (${describeStatus(status)})`, { code: 'EXITED', lines: log, log, status }));
          } else if (records) {
            resolve(records as T[]);
          } else {
            reject(
              new QuillmereError(`Quillmere ${option} did not print one JSON array: ${JSON.stringify(text.slice(0, 200))}`, {
                code: 'BAD_OUTPUT',
                lines: log,
                log,
                status,
              }),
            );
          }
        }),
      );
    };
    // The platform package's program of another version is not started; one the host chose is.
    void askVersion(program, options).then((answer) => {
      if (settled) {
        return;
      }
      if (answer && !answer.matches && program.packaged) {
        settle(() => reject(mismatchError(program.path, answer)));
        return;
      }
      try {
        run();
      } catch (error) {
        settle(() => reject(error));
      }
    });
  });
}

// The longest time setTimeout keeps.
const MAX_TIMEOUT_MS = 2 ** 31 - 1;

// Exactly one line (CR LF or LF at its end) holding a JSON array of records of the right shape.
function parseListing(text: string, isRecord: (record: Record<string, unknown>) => boolean): unknown[] | undefined {
  const line = text.replace(/\r?\n$/, '');
  if (line.includes('\n')) {
    return undefined;
  }
  let value: unknown;
  try {
    value = JSON.parse(line);
  } catch {
    return undefined;
  }
  const isRecordValue = (item: unknown) =>
    typeof item === 'object' && item !== null && !Array.isArray(item) && isRecord(item as Record<string, unknown>);
  return Array.isArray(value) && value.every(isRecordValue) ? value : undefined;
}
