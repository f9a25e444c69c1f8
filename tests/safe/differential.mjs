// Differential test of the safe-mode scanner against parse5's tokenizer
// (with its simulation of the tree builder's raw-text switches): for random
// and hostile documents, and for documents that bring each state of the
// scanner to each class of byte (and to the end of the input), every tag
// and comment must begin and end at the same bytes. Text runs are what lies
// between, so they agree too.
//
//   node differential.mjs PIECES_BINARY [COUNT] [SEED]
//
// Documents are read as Latin-1 so that string offsets are byte offsets.
// They include foreign content (svg, math), where <style> and the like are
// ordinary elements and CDATA sections exist.
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { SAXParser } from 'parse5-sax-parser';
import { makeRandom, probeDocuments, randomDocument } from './generators.mjs';

const [binary, countArg, seedArg] = process.argv.slice(2);
const count = Number(countArg ?? 3000);
// The same documents on every run.
const rng = makeRandom(Number(seedArg ?? 20261210));

// Hostile documents: the payloads of the security corpus, without NUL or
// ESC bytes (which the scanner removes before splitting).
function hostileDocuments() {
  const url = new URL('vectors.jsonl', import.meta.url);
  let lines = [];
  try {
    lines = readFileSync(url, 'latin1').split('\n').filter(Boolean);
  } catch {
    return [];
  }
  return lines.map((line) => JSON.parse(line).payload)
    .map((p) => Buffer.from(p, 'utf8').toString('latin1'))
    .filter((p) => !p.includes('\0') && !p.includes('\x01') && !p.includes('\x1b'));
}

// The tags and comments parse5 finds, each as the text between '<' and '>'.
function browserPieces(doc) {
  const pieces = [];
  const parser = new SAXParser({ sourceCodeLocationInfo: true });
  const record = (kind) => (token) => {
    const { startOffset, endOffset } = token.sourceCodeLocation;
    pieces.push({ kind, raw: doc.slice(startOffset, endOffset) });
  };
  parser.on('startTag', record('T'));
  parser.on('endTag', record('T'));
  parser.on('comment', record('C'));
  parser.on('doctype', record('C'));
  parser.end(doc);
  return pieces;
}

function scannerPieces(docs) {
  const input = Buffer.from(docs.map((d) => d + '\x01').join(''), 'latin1');
  const run = spawnSync(binary, [], { input, maxBuffer: 1 << 28 });
  if (run.status !== 0) throw new Error(`pieces binary failed: ${run.stderr}`);
  const result = [[]];
  for (const line of run.stdout.toString('latin1').split('\n')) {
    if (line === '=') result.push([]);
    else if (line) result.at(-1).push({ kind: line[0], text: Buffer.from(line.slice(2), 'hex').toString('latin1') });
  }
  result.pop();
  return result;
}

// Whether a comment (or declaration) as parse5 found it was closed: a
// comment left open runs to the end of the input.
function closed(raw) {
  return raw.startsWith('<!--') ? /^<!--(?:-?>|[\s\S]*--!?>)$/.test(raw) : raw.endsWith('>');
}

function agree(ours, theirs, doc) {
  // The scanner drops a comment left open at the end of the input.
  const last = theirs.at(-1);
  if (last && last.kind === 'C' && doc.endsWith(last.raw) && !closed(last.raw)) theirs = theirs.slice(0, -1);
  if (ours.length !== theirs.length) return false;
  return ours.every((piece, i) => piece.kind === theirs[i].kind && theirs[i].raw === `<${piece.text}>`);
}

const docs = [...hostileDocuments(), ...probeDocuments(rng)];
for (let i = 0; i < count; i++) docs.push(randomDocument(rng));
const ours = scannerPieces(docs);
let failures = 0;
docs.forEach((doc, i) => {
  const theirs = browserPieces(doc);
  if (!agree(ours[i], theirs, doc)) {
    if (++failures <= 10) {
      console.log(`MISMATCH in document ${JSON.stringify(doc)}`);
      console.log(`  scanner: ${JSON.stringify(ours[i].map((p) => p.kind + ' ' + p.text))}`);
      console.log(`  parse5:  ${JSON.stringify(theirs.map((p) => p.kind + ' ' + p.raw))}`);
    }
  }
});
console.log(`${docs.length - failures} of ${docs.length} documents split alike`);
process.exit(failures === 0 ? 0 : 1);
