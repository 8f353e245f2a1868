// The two listings: one JSON line on standard output.

import { QuillmereError } from './errors';
import { LineSplitter } from './lines';
import { startProgram, whenEnded, type ProgramOptions } from './program';

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

export type ListingOptions = ProgramOptions;

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
    const child = startProgram(options, [option], ['ignore', 'pipe', 'pipe']);
    const output: Buffer[] = [];
    const splitter = new LineSplitter();
    const log: string[] = [];
    child.stdout?.on('data', (chunk: Buffer) => output.push(chunk));
    child.stderr?.on('data', (chunk: Buffer) => log.push(...splitter.push(chunk)));
    child.on('error', (error) =>
      reject(new QuillmereError(`Quillmere could not be started: ${error.message}`, { cause: error })),
    );
    whenEnded(child, (exitCode, signal) => {
      log.push(...splitter.end());
      const status = { exitCode, signal };
      const text = Buffer.concat(output).toString('utf8');
      const records = parseListing(text, isRecord);
      if (records && exitCode === 0) {
        resolve(records as T[]);
        return;
      }
      reject(
        new QuillmereError(`Quillmere ${option} did not print one JSON array: ${JSON.stringify(text.slice(0, 200))}`, {
          lines: log,
          log,
          status,
        }),
      );
    });
  });
}

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
