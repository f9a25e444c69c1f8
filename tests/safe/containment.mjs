// Containment check: sites paste filtered output into a container of their
// own page, so the output must leave the page's tree as it would be without
// it. Every input (the payload files, the generated documents of the other
// checks and random tag soups) is filtered with a configuration, its output
// placed in the container of a host page, and the page parsed as a browser
// parses it (parse5), with scripting on and off. Compared with the page
// parsed with an empty container, a violation is
//
//   a  a node the output's markup made (element, comment, text that is not
//      white space) outside the container;
//   b  a page element with another parent chain, namespace, attributes or
//      end tag, missing, duplicated, or made from the page's own text;
//   c  the page's form, password field or account link not where it was,
//      or their URLs resolved against another base;
//   d  an element, attribute or URL the policy does not allow, anywhere in
//      the page (what the page's own markup has is not counted).
//
// Then the same with each output followed by the next input's output in the
// same container ("pair"), in a container inside a list item ("list"), and
// with the page's own <script>, holding
// hostile text as a JSON string, right after the output ("script"): these
// count only what the composition adds to the outputs alone.
//
//   node containment.mjs TESSEL CONFIG [--soups N] [--seed S] [--examples K]
//                        [--filter SAFE_FILTER] PAYLOAD_FILES...
//
// The outputs are made in one process by safe_filter (see filter.cpp),
// found next to TESSEL in a build tree (BUILD/tessel, BUILD/tests/safe_filter)
// unless --filter names it; a few are compared with `tessel -f CONFIG`.
// Without safe_filter every input is given to its own tessel process.
// Payload lines may carry "expect": {"CONFIG_FILE_NAME": [KINDS]}: the kinds
// that input is known to show with that configuration, reported at the end.
// Exit status 0 when no input violates containment, 1 otherwise.
import { spawnSync } from 'node:child_process';
import { existsSync, readFileSync } from 'node:fs';
import { basename, dirname, join } from 'node:path';
import { parse } from 'parse5';
import { attributeTag, makeRandom, randomDocument } from './generators.mjs';
import { readPolicy, violations } from './policy.mjs';
import { tagSoup } from './soups.mjs';

function readArguments(argv) {
  const options = { soups: 1500, seed: 1, examples: 10, filter: null, positional: [] };
  for (let i = 0; i < argv.length; i++) {
    const flag = argv[i].replace(/^--/, '');
    if (argv[i].startsWith('--') && flag in options && flag !== 'positional') {
      options[flag] = flag === 'filter' ? argv[++i] : Number(argv[++i]);
    } else {
      options.positional.push(argv[i]);
    }
  }
  const [tessel, config, ...payloadFiles] = options.positional;
  if (!tessel || !config) {
    console.log('usage: containment.mjs TESSEL CONFIG [--soups N] [--seed S] [--examples K] [--filter SAFE_FILTER] PAYLOAD_FILES...');
    process.exit(2);
  }
  return { ...options, tessel, config, payloadFiles };
}

// The host page. Its script text escapes "</" as JSON in a page must, so it
// holds no markup however it is read, but for a tokenizer that is not in
// the script state (foreign content, say), where the <img> is a tag.
const BEFORE = '<!DOCTYPE html><html><head><title>t</title></head><body><div class="comment">';
const REST = '<div id="rest"><p>page text <a href="/account">account</a></p></div>' +
  '<form action="/login"><input name="csrf" type="hidden" value="t"><input type="password" name="pw"></form>' +
  '<script>var data = "PAGE SCRIPT";</script></body></html>';
const HOSTILE_JSON = JSON.stringify('</script><img src=x onerror=alert(1)></title><svg onload=alert(1)>')
  .replaceAll('</', '<\\/');
const PAGE_SCRIPT = `<script>var data = ${HOSTILE_JSON};</script>`;
const PAGE_URL = 'https://site.example/thread/1';

function makeHost(before, after) {
  const at = (text) => {
    const offset = (before + after).indexOf(text);
    return `p${offset}`;
  };
  return {
    before, after,
    container: at('<div class="comment">'),
    form: at('<form'), password: at('<input type="password"'), link: at('<a href="/account"'),
    scriptFrom: (before + after).indexOf(PAGE_SCRIPT), scriptTo: (before + after).indexOf(PAGE_SCRIPT) + PAGE_SCRIPT.length,
  };
}
const HOST = makeHost(BEFORE, '</div>' + REST);
const SCRIPT_HOST = makeHost(BEFORE, PAGE_SCRIPT + '</div>' + REST);
// A thread of comments, each in a list item: there a stray <li> or </li>
// of the output would close the page's item.
const LIST_HOST = makeHost(BEFORE.replace('<div class="comment">', '<ul><li><div class="comment">'),
  '</div></li><li id="next">next</li></ul>' + REST);

const READINGS = [{ name: '', options: {} }, { name: ' (scripting off)', options: { scriptingEnabled: false } }];

// Where a source offset of the page came from: the page (as an offset of
// the page with an empty container) or one of the outputs placed in it.
function originOf(layout, offset) {
  if (offset < layout.start) return `p${offset}`;
  for (const [k, part] of layout.parts.entries()) {
    if (offset < part.end) return `o${k}:${offset - part.start}`;
  }
  return `p${offset - layout.length}`;
}

// The origin of an element's start tag; elements the parser made without
// one (html, head, body, tbody) are keyed by name.
function elementKey(layout, element) {
  const tag = element.sourceCodeLocation?.startTag;
  return tag ? originOf(layout, tag.startOffset) : `implied ${element.tagName}`;
}

const attributeText = (element) => element.attrs.map((a) => `${a.prefix ? a.prefix + ':' : ''}${a.name}="${a.value}"`).sort();

// Calls visit(node, ancestors, inContainer) for every node of the tree, in
// tree order, template contents included.
function walk(node, host, layout, visit, ancestors = [], inContainer = false) {
  for (const child of node.childNodes ?? []) {
    visit(child, ancestors, inContainer);
    if (child.tagName) {
      const inside = inContainer || elementKey(layout, child) === host.container;
      ancestors.push(child);
      walk(child.content ?? child, host, layout, visit, ancestors, inside);
      ancestors.pop();
    }
  }
}

function describe(layout, elements) {
  return elements.map((e) => `<${e.tagName}>${elementKey(layout, e).startsWith('p') ? '' : '*'}`).join(' ') || 'the document';
}

function endTagOf(layout, element) {
  const tag = element.sourceCodeLocation?.endTag;
  return tag ? originOf(layout, tag.startOffset) : 'none';
}

// The page's own elements, each with what must stay as it is.
function pageElements(document, host) {
  const layout = { start: host.before.length, parts: [], length: 0 };
  const elements = new Map();
  walk(document, host, layout, (node, ancestors) => {
    if (!node.tagName) return;
    elements.set(elementKey(layout, node), {
      name: node.tagName, namespace: node.namespaceURI, attributes: attributeText(node).join(' '),
      chain: ancestors.map((a) => elementKey(layout, a)).join(' '), endTag: endTagOf(layout, node),
    });
  });
  return elements;
}

function policyFindings(element, attrs, policy) {
  const alone = { tagName: element.tagName, namespaceURI: element.namespaceURI, attrs, childNodes: [] };
  return violations({ childNodes: [alone] }, policy, []);
}

const overlapsOutput = (layout, location) =>
  location && layout.length > 0 && location.startOffset < layout.start + layout.length && location.endOffset > layout.start;

// The findings of one parse of a host page holding the outputs, keyed so
// that the same fault found again (in another reading, or with other
// outputs around) has the same key.
function inspectTree(document, host, layout, baseline, policy, add) {
  const seen = new Map();
  let base = null;
  walk(document, host, layout, (node, ancestors, inContainer) => {
    if (!node.tagName) {
      const text = node.nodeName === '#comment' ? `<!--${node.data}-->` : node.value;
      const visible = node.nodeName === '#comment' || (node.nodeName === '#text' && /[^\t\n\f\r ]/.test(text));
      if (visible && !inContainer && overlapsOutput(layout, node.sourceCodeLocation)) {
        add('a', `${originOf(layout, node.sourceCodeLocation.startOffset)} outside`,
          `${JSON.stringify(text.slice(0, 40))} of the output outside the container, under ${describe(layout, ancestors)}`);
      }
      return;
    }
    const key = elementKey(layout, node);
    const name = node.tagName;
    if (name === 'base' && base === null && node.attrs.some((a) => a.name === 'href')) {
      base = node.attrs.find((a) => a.name === 'href').value;
    }
    const judge = (attrs) => {
      for (const found of policyFindings(node, attrs, policy)) add('d', `${key} ${found}`, found);
    };
    const own = baseline.get(key);
    if (!key.startsWith('p')) {
      if (!inContainer) add('a', `${key} outside`, `<${name}> of the output outside the container, under ${describe(layout, ancestors)}`);
      judge(node.attrs);
      return;
    }
    seen.set(key, (seen.get(key) ?? 0) + 1);
    if (!own) {
      add('b', `${key} new`, `<${name}> made from the page's own text, under ${describe(layout, ancestors)}`);
      judge(node.attrs);
      return;
    }
    const chain = ancestors.map((a) => elementKey(layout, a)).join(' ');
    if (chain !== own.chain) add('b', `${key} parent`, `the page's <${name}> is under ${describe(layout, ancestors)}`);
    if (node.namespaceURI !== own.namespace) add('b', `${key} namespace`, `the page's <${name}> is in ${node.namespaceURI}`);
    const attributes = attributeText(node);
    if (attributes.join(' ') !== own.attributes) {
      add('b', `${key} attributes`, `the page's <${name}> has ${attributes.join(' ') || 'no attributes'}`);
      const added = new Set(attributes.filter((a) => !own.attributes.split(' ').includes(a)));
      judge(node.attrs.filter((a) => added.has(attributeText({ attrs: [a] })[0])));
    }
    // An element the output closes early shows nothing more in this page
    // when the output ends there, but takes what follows out of a container
    // nested deeper; other changes of end tags come with moved elements.
    if (endTagOf(layout, node).startsWith('o')) add('b', `${key} end tag`, `the page's <${name}> is closed by the output's end tag`);
  });
  for (const [key, { name }] of baseline) {
    const count = seen.get(key) ?? 0;
    if (count !== 1) add('b', `${key} count`, `the page's <${name}> is ${count === 0 ? 'missing' : `there ${count} times`}`);
  }
  if (base !== null && resolved('/account', base) !== resolved('/account', '')) {
    add('c', 'base', `the page's links resolve against ${JSON.stringify(base)}`);
  }
}

// A URL of the page resolved against a base element's href (empty for
// none), or null when it no longer resolves.
function resolved(url, base) {
  try {
    return new URL(url, new URL(base, PAGE_URL)).href;
  } catch {
    return base === '' ? null : resolved(url, '');
  }
}

// The page's form, password field and account link each count as (c) too
// when they are not where they were.
function markPageTargets(findings, host) {
  const targets = new Map([[host.form, 'form'], [host.password, 'password field'], [host.link, 'account link']]);
  for (const [key, finding] of [...findings]) {
    const target = targets.get(key.split(' ')[0]);
    if (finding.kind === 'b' && target) findings.set(`${key} target`, { kind: 'c', text: `the page's ${target}: ${finding.text}` });
  }
}

const baselines = new Map();
function baselineOf(host, reading) {
  const id = `${host.container} ${host.after.length} ${reading.name}`;
  if (!baselines.has(id)) baselines.set(id, pageElements(parse(host.before + host.after, { ...reading.options, sourceCodeLocationInfo: true }), host));
  return baselines.get(id);
}

// All findings of the outputs placed side by side in the host's container,
// over both readings: key -> { kind, text }.
function inspect(host, outputs, policy) {
  const findings = new Map();
  const layout = { start: host.before.length, parts: [], length: 0 };
  for (const output of outputs) {
    const start = layout.start + layout.length;
    layout.parts.push({ start, end: start + output.length });
    layout.length += output.length;
  }
  const page = host.before + outputs.join('') + host.after;
  for (const reading of READINGS) {
    const document = parse(page, { ...reading.options, sourceCodeLocationInfo: true });
    inspectTree(document, host, layout, baselineOf(host, reading), policy, (kind, key, text) => {
      if (!findings.has(key)) findings.set(key, { kind, text: text + reading.name });
    });
  }
  markPageTargets(findings, host);
  return findings;
}

// The inputs: the payloads, the composition check's generated documents
// (same seeds and counts) and the soups.
function readInputs(payloadFiles, soups, seed) {
  const inputs = payloadFiles.flatMap((path) => readFileSync(path, 'utf8').split('\n').filter(Boolean).map((line) => {
    const { id, payload, expect } = JSON.parse(line);
    return { id, source: basename(path), bytes: Buffer.from(payload, 'utf8'), expect };
  }));
  const documents = makeRandom(20261210);
  for (let i = 0; i < 3000; i++) inputs.push({ id: `random-document-${i}`, source: 'random documents', bytes: Buffer.from(randomDocument(documents), 'latin1') });
  const tags = makeRandom(1);
  for (let i = 0; i < 120; i++) {
    const batch = Array.from({ length: 250 }, () => attributeTag(tags));
    inputs.push({ id: `attribute-tags-${i}`, source: 'attribute tags', bytes: Buffer.from(batch.join('x\n') + 'x\n', 'utf8') });
  }
  const rng = makeRandom(seed);
  for (let i = 0; i < soups; i++) inputs.push({ id: `soup-${i}`, source: 'tag soups', bytes: Buffer.from(tagSoup(rng), 'utf8') });
  return inputs;
}

function runTessel(tessel, config, bytes) {
  const run = spawnSync(tessel, ['-f', config], { input: bytes, maxBuffer: 1 << 28, stdio: ['pipe', 'pipe', 'ignore'] });
  if (run.status !== 0) throw new Error(`${tessel} failed with status ${run.status}`);
  return run.stdout;
}

function runSafeFilter(filter, config, inputs) {
  const framed = Buffer.concat(inputs.flatMap((d) => [Buffer.from(`${d.length}\n`), d]));
  const run = spawnSync(filter, [config], { input: framed, maxBuffer: 1 << 30, stdio: ['pipe', 'pipe', 'ignore'] });
  if (run.status !== 0) throw new Error(`${filter} failed with status ${run.status}`);
  const outputs = [];
  for (let at = 0; at < run.stdout.length;) {
    const newline = run.stdout.indexOf(10, at);
    const length = Number(run.stdout.subarray(at, newline).toString('latin1'));
    outputs.push(run.stdout.subarray(newline + 1, newline + 1 + length));
    at = newline + 1 + length;
  }
  if (outputs.length !== inputs.length) throw new Error(`${outputs.length} outputs for ${inputs.length} inputs`);
  return outputs;
}

// The outputs, made by safe_filter when there is one, which must then agree
// with tessel on a sample (every 97th input, the soups among them).
function filterAll({ tessel, config, filter }, inputs) {
  const batch = filter ?? join(dirname(tessel), 'tests', 'safe_filter');
  if (!existsSync(batch)) return inputs.map((bytes) => runTessel(tessel, config, bytes));
  const outputs = runSafeFilter(batch, config, inputs);
  for (let i = 0; i < inputs.length; i += 97) {
    if (!runTessel(tessel, config, inputs[i]).equals(outputs[i])) {
      throw new Error(`${batch} and ${tessel} filter ${JSON.stringify(inputs[i].toString('utf8'))} differently`);
    }
  }
  return outputs;
}

const KINDS = {
  a: 'output outside the container',
  b: "page's elements changed",
  c: "page's form or account link moved",
  d: 'markup the policy does not allow',
  'pair a': 'next output outside the container',
  'pair b': "page's elements changed by the next output",
  'pair c': "page's form or account link moved by the next output",
  'pair d': 'markup not allowed, with the next output',
  'list a': 'output outside the container, in a list item',
  'list b': "page's elements changed, in a list item",
  'list c': "page's form or account link moved, in a list item",
  'script b': "page's script changed",
  'script d': "markup not allowed, in the page's script text",
};

// Whether a finding of the script host is about the page's script itself:
// gone, in another namespace, or its text made into elements. That it moved
// with the page's other elements is counted already.
function scriptChanged(key) {
  const [element, what] = key.split(' ');
  const offset = element.startsWith('p') ? Number(element.slice(1)) : -1;
  return offset >= SCRIPT_HOST.scriptFrom && offset < SCRIPT_HOST.scriptTo && ['new', 'namespace', 'count'].includes(what);
}

const relabel = (key) => key.replace(/^o0:/, 'o1:');

function main() {
  const options = readArguments(process.argv.slice(2));
  const policy = readPolicy(readFileSync(options.config, 'latin1'));
  const inputs = readInputs(options.payloadFiles, options.soups, options.seed);
  const outputs = filterAll(options, inputs.map((input) => input.bytes)).map((bytes) => bytes.toString('utf8'));
  const alone = outputs.map((output) => inspect(HOST, [output], policy));
  const counts = Object.fromEntries(Object.keys(KINDS).map((kind) => [kind, 0]));
  const configName = basename(options.config);
  let violating = 0;
  const sources = new Map(inputs.map((input) => [input.source, { inputs: 0, violating: 0 }]));
  let shown = 0;
  const missed = [];
  let known = 0;
  inputs.forEach((input, i) => {
    const found = [...alone[i]].map(([key, finding]) => ({ key, ...finding }));
    const next = (i + 1) % inputs.length;
    const known1 = new Set([...alone[i].keys(), ...[...alone[next].keys()].map(relabel)]);
    for (const [key, finding] of inspect(HOST, [outputs[i], outputs[next]], policy)) {
      if (!known1.has(key)) found.push({ key, kind: `pair ${finding.kind}`, text: `${finding.text}, after ${inputs[next].id}` });
    }
    for (const [key, finding] of inspect(LIST_HOST, [outputs[i]], policy)) {
      if (finding.kind !== 'd') found.push({ key: `list ${key}`, kind: `list ${finding.kind}`, text: finding.text });
    }
    for (const [key, finding] of inspect(SCRIPT_HOST, [outputs[i]], policy)) {
      if ((finding.kind === 'd' && !alone[i].has(key)) || (finding.kind === 'b' && scriptChanged(key))) {
        found.push({ key, kind: `script ${finding.kind}`, text: finding.text });
      }
    }
    const kinds = new Set(found.map((f) => f.kind));
    for (const kind of kinds) counts[kind]++;
    sources.get(input.source).inputs++;
    if (kinds.size > 0) {
      violating++;
      sources.get(input.source).violating++;
    }
    const expected = input.expect?.[configName];
    if (expected) {
      known++;
      const absent = expected.filter((kind) => !kinds.has(kind));
      if (absent.length > 0) missed.push(`${input.id} (no ${absent.join(', ')})`);
    }
    if (kinds.size > 0 && shown++ < options.examples) {
      console.log(`${input.id}: ${[...kinds].sort().join(', ')}`);
      console.log(`  input:  ${JSON.stringify(input.bytes.toString('utf8')).slice(0, 300)}`);
      console.log(`  output: ${JSON.stringify(outputs[i]).slice(0, 300)}`);
      for (const kind of [...kinds].sort()) {
        const texts = found.filter((f) => f.kind === kind).map((f) => f.text);
        for (const text of texts.slice(0, 3)) console.log(`  ${kind}: ${text}`);
        if (texts.length > 3) console.log(`  ${kind}: ... ${texts.length - 3} more`);
      }
    }
  });
  console.log(`${inputs.length} inputs through ${options.config}: ${violating} break containment` +
    ` (${(100 * violating / inputs.length).toFixed(1)}%)`);
  console.log(`  by source: ${[...sources].map(([source, n]) => `${source} ${n.violating} of ${n.inputs}`).join(', ')}`);
  for (const [kind, count] of Object.entries(counts)) console.log(`  ${kind.padEnd(8)} ${String(count).padStart(6)}  ${KINDS[kind]}`);
  if (known > 0) {
    console.log(`known examples for ${configName}: ${known - missed.length} of ${known} show what they are known for`);
    for (const id of missed) console.log(`  not shown: ${id}`);
  }
  process.exit(violating === 0 ? 0 : 1);
}

main();
