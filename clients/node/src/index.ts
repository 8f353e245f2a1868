export { Capture, startCapture } from './capture';
export type {
  CaptureEvents,
  CaptureOptions,
  CaptureResult,
  DuckSessions,
  Quality,
  StartedEvent,
  StopOptions,
  StreamClock,
} from './capture';
export { QuillmereError } from './errors';
export type { ExitStatus, QuillmereErrorCode } from './errors';
export { parseLine } from './lines';
export type {
  AudioFormat,
  AudioLostEvent,
  CaptureMode,
  ClockAdjustedEvent,
  ParsedLine,
  RatioChangedEvent,
  RatioRefusedEvent,
  RestoredEvent,
  ServerLostEvent,
  SessionVolumeEvent,
  SilenceEvent,
  StopCause,
  TargetEvent,
  WarningEvent,
  WarningKind,
} from './lines';
export { listApps, listSessions } from './listing';
export type { AppRecord, ListingOptions, SessionRecord } from './listing';
export { resolveExePath } from './program';
export type { ProgramOptions } from './program';
export { BYTES_PER_SAMPLE, CHANNELS, SAMPLE_RATE } from './samples';
export { wavHeader } from './wav';
