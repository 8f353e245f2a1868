/** How the program ended. */
export interface ExitStatus {
  /** The process's exit code, or null when it ended by a signal. */
  exitCode: number | null;
  signal: NodeJS.Signals | null;
}

/**
 * What went wrong, for a host to branch on:
 * - 'NO_PROGRAM': no program for this platform (no platform package, no QUILLMERE_EXE, no exePath);
 * - 'PROGRAM_MISMATCH': the platform package's program is of another major or minor version than
 *   the client (it was not started);
 * - 'ENOENT', 'EACCES', ...: the system could not start the program (its own error code);
 * - 'START_FAILED': the program ended before the capture started;
 * - 'STOPPED': stop() was called before the capture started (ready rejects; samples() ends quietly);
 * - 'EXITED': the program ended with a failure after the capture started (or a listing did);
 * - 'TIMEOUT': a listing did not end within its time;
 * - 'BAD_OUTPUT': a listing's output was not one JSON array of records;
 * - 'RATIO_REFUSED': the program refused a new duck ratio;
 * - 'CAPTURE_ENDED': a new duck ratio for a capture that is ending or has ended.
 */
export type QuillmereErrorCode =
  | 'NO_PROGRAM'
  | 'PROGRAM_MISMATCH'
  | 'START_FAILED'
  | 'STOPPED'
  | 'EXITED'
  | 'TIMEOUT'
  | 'BAD_OUTPUT'
  | 'RATIO_REFUSED'
  | 'CAPTURE_ENDED'
  | (string & {});

/** The program failed: what it said and how it ended. */
export class QuillmereError extends Error {
  readonly code: QuillmereErrorCode;
  /** The failure lines the program wrote to standard error, in order. */
  readonly lines: readonly string[];
  /** Every line it wrote to standard error. */
  readonly log: readonly string[];
  readonly exitCode: number | null;
  readonly signal: NodeJS.Signals | null;

  constructor(
    message: string,
    details: {
      code: QuillmereErrorCode;
      lines?: readonly string[] | undefined;
      log?: readonly string[] | undefined;
      status?: ExitStatus | undefined;
      cause?: unknown;
    },
  ) {
    super(message, details.cause === undefined ? undefined : { cause: details.cause });
    this.name = 'QuillmereError';
    this.code = details.code;
    this.lines = details.lines ?? [];
    this.log = details.log ?? [];
    this.exitCode = details.status?.exitCode ?? null;
    this.signal = details.status?.signal ?? null;
  }
}

/** Node's convention for an aborted operation: name 'AbortError', code 'ABORT_ERR', the reason as cause. */
export class AbortError extends Error {
  readonly code = 'ABORT_ERR';

  constructor(reason: unknown) {
    super('The operation was aborted', { cause: reason });
    this.name = 'AbortError';
  }
}

export function describeStatus(status: ExitStatus): string {
  return status.signal !== null ? `signal ${status.signal}` : `exit status ${String(status.exitCode)}`;
}
