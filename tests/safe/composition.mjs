// Composition test: filtered output is pasted into pages next to other text
// and other filtered fragments, so whatever follows it must be read as it
// would be alone. Every payload of the security corpus and every generated
// document of the other checks is filtered with a configuration, its output
// followed by each of a few trailers that are clean alone (hostile markup
// inside a quoted title, the bare text of a tag without its '<', and the
// next document's filtered output), and the whole parsed as a browser
// parses it (parse5), read as UTF-8, with scripting off and as ISO-2022-JP.
// No element, attribute or URL outside the policy may appear.
//
//   node composition.mjs SAFE_FILTER CONFIG VECTORS_JSONL...
//
// SAFE_FILTER filters all the documents in one process (see filter.cpp).
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { attributeTag, makeRandom, randomDocument } from './generators.mjs';
import { readPolicy, violationsOfReadings } from './policy.mjs';

const [filter, configPath, ...vectorsPaths] = process.argv.slice(2);

// The documents: the corpus, the differential test's random documents and
// the attribute test's documents of kept tags (the same seeds and counts).
const docs = vectorsPaths.flatMap((path) =>
  readFileSync(path, 'utf8').split('\n').filter(Boolean).map((l) => Buffer.from(JSON.parse(l).payload, 'utf8')));
const documents = makeRandom(20261210);
for (let i = 0; i < 3000; i++) docs.push(Buffer.from(randomDocument(documents), 'latin1'));
const tags = makeRandom(1);
for (let done = 0; done < 30000; done += 250) {
  const batch = Array.from({ length: 250 }, () => attributeTag(tags));
  docs.push(Buffer.from(batch.join('x\n') + 'x\n', 'utf8'));
}

function filterAll(inputs) {
  const framed = Buffer.concat(inputs.flatMap((d) => [Buffer.from(`${d.length}\n`), d]));
  const run = spawnSync(filter, [configPath], { input: framed, maxBuffer: 1 << 30, stdio: ['pipe', 'pipe', 'ignore'] });
  if (run.status !== 0) throw new Error(`${filter} failed with status ${run.status}`);
  const outputs = [];
  for (let at = 0; at < run.stdout.length;) {
    const newline = run.stdout.indexOf(10, at);
    const length = Number(run.stdout.subarray(at, newline).toString('latin1'));
    outputs.push(run.stdout.subarray(newline + 1, newline + 1 + length));
    at = newline + 1 + length;
  }
  if (outputs.length !== inputs.length) throw new Error(`${outputs.length} outputs for ${inputs.length} documents`);
  return outputs;
}

const TRAILERS = [
  '<a title="--></textarea></style></title></xmp></iframe></noembed></noframes></noscript></script>--!>' +
    '\u001b(B<img src=x onerror=alert(1)>">x</a>',
  'img src=x onerror=alert(1)>',
].map((t) => Buffer.from(t, 'utf8'));

const policy = readPolicy(readFileSync(configPath, 'latin1'));
const outputs = filterAll(docs);
let bad = 0;
for (const trailer of TRAILERS) {
  if (violationsOfReadings(trailer, policy).length > 0) throw new Error(`trailer not clean alone: ${trailer}`);
}
outputs.forEach((output, i) => {
  const next = outputs[(i + 1) % outputs.length];
  for (const trailer of [...TRAILERS, next]) {
    const found = violationsOfReadings(Buffer.concat([output, trailer]), policy);
    if (found.length > 0 && ++bad <= 25) {
      console.log(`${[...new Set(found)].join(', ')}`);
      console.log(`  document: ${JSON.stringify(docs[i].toString('utf8')).slice(0, 300)}`);
      console.log(`  output:   ${JSON.stringify(output.toString('utf8')).slice(0, 300)}`);
      console.log(`  trailer:  ${JSON.stringify(trailer.toString('utf8')).slice(0, 300)}`);
    }
  }
});
console.log(`${docs.length} documents filtered, each followed by ${TRAILERS.length + 1} trailers: ` +
  `${bad === 0 ? 'no' : bad} compositions with violations`);
process.exit(bad === 0 ? 0 : 1);
