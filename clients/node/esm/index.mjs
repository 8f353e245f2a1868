// The ES module entry: the CommonJS build re-exported, so that both entries share one set of
// classes (a QuillmereError from either passes instanceof for both).
import quillmere from '../dist/index.js';

export const {
  BYTES_PER_SAMPLE,
  CHANNELS,
  Capture,
  QuillmereError,
  SAMPLE_RATE,
  listApps,
  listSessions,
  parseLine,
  resolveExePath,
  startCapture,
  wavHeader,
} = quillmere;
