// Security test: every payload of the public XSS corpus is filtered with a
// configuration, and the output parsed as a browser parses it (parse5).
// No element, attribute or URL outside the configuration's policy may
// survive.
//
//   node security.mjs TESSEL CONFIG VECTORS_JSONL...
//
// The policy is read from the configuration file itself: tags given KEEP or
// WARN keep every attribute; edited tags keep the attributes their braces
// give KEEP or WARN (all of them with DEFAULT: KEEP or WARN). URL attributes
// must be relative or use http, https, mailto, ftp or tel.
import { spawnSync } from 'node:child_process';
import { readFileSync } from 'node:fs';
import { parse } from 'parse5';

const [tessel, configPath, ...vectorsPaths] = process.argv.slice(2);

function readPolicy(text) {
  const src = text.replace(/#[^\n]*/g, ' ');
  const tags = new Map();
  let tagDefault = 'KEEP';
  const allowing = (action) => action === 'KEEP' || action === 'WARN';
  for (const m of src.matchAll(/<\s*([\w-]+)\s*>\s*(?::\s*(\w+)(?:\s+ALL\b)?|\{([^}]*)\}?)/gi)) {
    const name = m[1].toLowerCase();
    if (m[2] !== undefined) {
      const action = m[2].toUpperCase();
      const dropAll = /ALL\s*$/i.test(m[0]);
      tags.set(name, { allowed: allowing(action) && !dropAll, attributes: null, anyAttribute: true });
    } else {
      const attributes = new Set();
      let anyAttribute = false;
      for (const a of m[3].matchAll(/ATTRIBUTE\s+([\w:-]+)\s*:\s*(\w+)/gi)) {
        if (allowing(a[2].toUpperCase())) attributes.add(a[1].toLowerCase());
      }
      const d = /DEFAULT\s*:\s*(\w+)/i.exec(m[3]);
      if (attributes.size === 0 || (d && allowing(d[1].toUpperCase()))) anyAttribute = true;
      tags.set(name, { allowed: true, attributes, anyAttribute });
    }
  }
  const top = src.replace(/\{[^}]*\}?/g, ' ').replace(/<[^>]*>\s*:\s*\w+(\s+ALL)?/gi, ' ');
  const d = /DEFAULT\s*:\s*(\w+)/i.exec(top);
  if (d) tagDefault = d[1].toUpperCase();
  return { tags, defaultAllows: allowing(tagDefault) };
}

const URL_ATTRIBUTES = new Set(['href', 'src', 'action', 'formaction', 'cite', 'background', 'poster',
  'longdesc', 'codebase', 'data', 'xlink:href', 'srcset', 'lowsrc', 'dynsrc', 'ping', 'manifest', 'icon',
  'profile', 'usemap', 'classid', 'archive', 'imagesrcset']);
// Elements a parser creates by itself around any content.
const IMPLIED = new Set(['html', 'head', 'body', 'tbody']);

function schemeOf(url) {
  const cleaned = url.replace(/[\u0000-\u0020\u007f]/g, '');
  const m = /^([a-zA-Z][a-zA-Z0-9+.-]*):/.exec(cleaned);
  return m ? m[1].toLowerCase() : '';
}

function urlsOf(name, value) {
  if (name !== 'srcset' && name !== 'imagesrcset') return [value];
  return value.split(',').map((c) => c.trim().split(/\s+/)[0]).filter(Boolean);
}

function violations(node, policy, found) {
  for (const child of node.childNodes ?? []) {
    if (child.tagName) {
      const name = child.tagName.toLowerCase();
      const rule = policy.tags.get(name);
      const foreign = child.namespaceURI !== 'http://www.w3.org/1999/xhtml';
      const allowed = !foreign && (IMPLIED.has(name) || (rule ? rule.allowed : policy.defaultAllows));
      if (!allowed) found.push(`element <${name}>`);
      for (const attr of child.attrs) {
        const attrName = (attr.prefix ? `${attr.prefix}:` : '') + attr.name.toLowerCase();
        const attrAllowed = rule ? rule.anyAttribute || rule.attributes?.has(attrName) : policy.defaultAllows;
        if (!attrAllowed) found.push(`attribute ${attrName} on <${name}>`);
        if (URL_ATTRIBUTES.has(attrName)) {
          for (const url of urlsOf(attrName, attr.value)) {
            const scheme = schemeOf(url);
            if (!['', 'http', 'https', 'mailto', 'ftp', 'tel'].includes(scheme)) {
              found.push(`${scheme}: URL in ${attrName} on <${name}>`);
            }
          }
        }
      }
      violations(child.content ?? child, policy, found);
    }
  }
  return found;
}

const policy = readPolicy(readFileSync(configPath, 'latin1'));
const vectors = vectorsPaths.flatMap((path) =>
  readFileSync(path, 'utf8').split('\n').filter(Boolean).map((l) => JSON.parse(l)));
let bad = 0;
for (const { id, payload } of vectors) {
  const run = spawnSync(tessel, ['-f', configPath], { input: Buffer.from(payload, 'utf8') });
  if (run.status !== 0) {
    console.log(`${id}: tessel failed with status ${run.status}: ${run.stderr}`);
    bad++;
    continue;
  }
  const output = run.stdout.toString('utf8');
  const found = violations(parse(output), policy, []);
  if (found.length > 0) {
    bad++;
    if (bad <= 25) {
      console.log(`${id}: ${[...new Set(found)].join(', ')}`);
      console.log(`  payload: ${JSON.stringify(payload).slice(0, 300)}`);
      console.log(`  output:  ${JSON.stringify(output).slice(0, 300)}`);
    }
  }
}
console.log(`${vectors.length - bad} of ${vectors.length} payloads filtered without violations`);
process.exit(bad === 0 ? 0 : 1);
