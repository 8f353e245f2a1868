/** How the program ended. */
export interface ExitStatus {
  /** The process's exit code, or null when it ended by a signal. */
  exitCode: number | null;
  signal: NodeJS.Signals | null;
}

/** The program failed: what it said and how it ended. */
export class QuillmereError extends Error {
  /** The failure lines the program wrote to standard error, in order. */
  readonly lines: readonly string[];
  /** Every line it wrote to standard error. */
  readonly log: readonly string[];
  readonly exitCode: number | null;
  readonly signal: NodeJS.Signals | null;

  constructor(
    message: string,
    details: { lines?: readonly string[]; log?: readonly string[]; status?: ExitStatus; cause?: unknown },
  ) {
    super(message, details.cause === undefined ? undefined : { cause: details.cause });
    this.name = 'QuillmereError';
    this.lines = details.lines ?? [];
    this.log = details.log ?? [];
    this.exitCode = details.status?.exitCode ?? null;
    this.signal = details.status?.signal ?? null;
  }
}

export function describeStatus(status: ExitStatus): string {
  return status.signal !== null ? `signal ${status.signal}` : `exit status ${String(status.exitCode)}`;
}
