export * from '../dist/index.js';
