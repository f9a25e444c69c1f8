import { parse } from 'parse5';

// The policy a configuration file gives, as far as a browser's view of the
// output can check it, and the elements, attributes and URLs of a parsed
// document (parse5) that fall outside it.
//
// Tags given KEEP or WARN keep every attribute. Edited tags keep the
// attributes their braces give KEEP or WARN, drop those given DROP, and do
// with the others as the braces' DEFAULT says (KEEP when there is none, and
// whatever it says when the braces name no attribute). URL attributes must
// be relative or use http, https, mailto, ftp or tel.
//
// With rules for every tag (<*> { ... }) an attribute is judged in order by
// the tag's own names and patterns, those of <*>, the tag's DEFAULT, that
// of <*>, and is kept when none of them speaks. SCHEMES replaces the list
// of schemes, RELATIVE: DROP refuses protocol-relative URLs, and LINK REL
// requires every <a>, <area> and <form> with an href or an action to carry
// exactly those relations in its rel.

// The names, patterns (longest first) and DEFAULT of one pair of braces,
// each as whether it keeps the attribute.
function readRules(body, allowing) {
  const names = new Map();
  const patterns = [];
  for (const a of body.matchAll(/ATTRIBUTE\s+([\w:-]+)(\*?)\s*:\s*(\w+)/gi)) {
    const keeps = allowing(a[3].toUpperCase());
    if (a[2]) patterns.push([a[1].toLowerCase(), keeps]);
    else names.set(a[1].toLowerCase(), keeps);
  }
  patterns.sort((x, y) => y[0].length - x[0].length);
  const d = /DEFAULT\s*:\s*(\w+)/i.exec(body);
  return { names, patterns, keepsByDefault: d ? allowing(d[1].toUpperCase()) : undefined };
}

// What the tag's own names and patterns say of the attribute, or undefined.
function ruleSays(rules, attrName) {
  if (!rules) return undefined;
  if (rules.names.has(attrName)) return rules.names.get(attrName);
  const pattern = rules.patterns.find(([prefix]) => attrName.startsWith(prefix));
  return pattern ? pattern[1] : undefined;
}

function listAfter(src, keyword) {
  const m = new RegExp(`${keyword}\\s*:((?:\\s+(?!DEFAULT\\b|COMMENT\\b|MODE\\b|SCHEMES\\b|RELATIVE\\b|LINK\\b)[\\w-]+)+)`, 'i')
    .exec(src);
  return m ? m[1].trim().split(/\s+/).map((w) => w.toLowerCase()) : null;
}

export function readPolicy(text) {
  const src = text.replace(/#[^\n]*/g, ' ');
  const tags = new Map();
  let tagDefault = 'KEEP';
  const allowing = (action) => action === 'KEEP' || action === 'WARN';
  const every = /<\s*\*\s*>\s*\{([^}]*)\}?/.exec(src);
  const everyRules = every ? readRules(every[1], allowing) : null;
  for (const m of src.matchAll(/<\s*([\w-]+)\s*>\s*(?::\s*(\w+)(?:\s+ALL\b)?|\{([^}]*)\}?)/gi)) {
    const name = m[1].toLowerCase();
    if (m[2] !== undefined) {
      const action = m[2].toUpperCase();
      const dropAll = /ALL\s*$/i.test(m[0]);
      tags.set(name, { allowed: allowing(action) && !dropAll, attributes: null, anyAttribute: true });
    } else {
      const attributes = new Set();
      const dropped = new Set();
      for (const a of m[3].matchAll(/ATTRIBUTE\s+([\w:-]+)\s*:\s*(\w+)/gi)) {
        (allowing(a[2].toUpperCase()) ? attributes : dropped).add(a[1].toLowerCase());
      }
      const d = /DEFAULT\s*:\s*(\w+)/i.exec(m[3]);
      const named = attributes.size + dropped.size > 0;
      const anyAttribute = !named || !d || allowing(d[1].toUpperCase());
      tags.set(name, { allowed: true, attributes, dropped, anyAttribute, rules: readRules(m[3], allowing) });
    }
  }
  const top = src.replace(/\{[^}]*\}?/g, ' ').replace(/<[^>]*>\s*:\s*\w+(\s+ALL)?/gi, ' ');
  const d = /DEFAULT\s*:\s*(\w+)/i.exec(top);
  if (d) tagDefault = d[1].toUpperCase();
  const relative = /RELATIVE\s*:\s*(\w+)/i.exec(top);
  const linkRel = /LINK\s+REL\s*:/i.test(top) ? listAfter(top.replace(/LINK\s+REL/gi, 'LINKREL'), 'LINKREL') : null;
  return {
    tags,
    defaultAllows: allowing(tagDefault),
    everyRules,
    schemes: listAfter(top, 'SCHEMES'),
    dropsRelative: relative !== null && relative[1].toUpperCase() === 'DROP',
    linkRel: linkRel ? linkRel.join(' ') : null,
  };
}

// Whether the policy keeps the attribute on an element of a tag it keeps.
function attributeAllowed(policy, rule, attrName) {
  if (!policy.everyRules) {
    return rule
      ? rule.attributes?.has(attrName) || (rule.anyAttribute && !rule.dropped?.has(attrName))
      : policy.defaultAllows;
  }
  const own = ruleSays(rule?.rules, attrName);
  if (own !== undefined) return own;
  const every = ruleSays(policy.everyRules, attrName);
  if (every !== undefined) return every;
  if (rule?.rules?.keepsByDefault !== undefined) return rule.rules.keepsByDefault;
  return policy.everyRules.keepsByDefault ?? true;
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

// The candidate URLs of a srcset, as browsers split it: a URL runs to white
// space (commas at its end end the candidate, others belong to it), and its
// descriptors run to a comma outside parentheses, which do not nest.
function srcsetUrls(value) {
  const isSpace = (c) => ' \t\n\f\r'.includes(c);
  const urls = [];
  let i = 0;
  while (i < value.length) {
    while (i < value.length && (isSpace(value[i]) || value[i] === ',')) i++;
    const begin = i;
    while (i < value.length && !isSpace(value[i])) i++;
    const url = value.slice(begin, i);
    if (url !== '') urls.push(url.replace(/,+$/, ''));
    if (url.endsWith(',')) continue;
    let inParens = false;
    for (; i < value.length && (inParens || value[i] !== ','); i++) {
      inParens = value[i] === '(' || (inParens && value[i] !== ')');
    }
  }
  return urls.filter(Boolean);
}

function urlsOf(name, value) {
  return name === 'srcset' || name === 'imagesrcset' ? srcsetUrls(value) : [value];
}

// The URL of a refresh (the content of <meta http-equiv=refresh>) as
// browsers find it, or null when the value is no refresh or has no URL.
export function refreshUrl(value) {
  const m = /^[\t\n\f\r ]*(?:\d+|(?=\.))[\d.]*(?:$|(?=[;,\t\n\f\r ])[\t\n\f\r ]*[;,]?[\t\n\f\r ]*([\s\S]*))$/.exec(value);
  if (!m || !m[1]) return null;
  let rest = m[1];
  const named = /^[uU][rR][lL][\t\n\f\r ]*=[\t\n\f\r ]*([\s\S]*)$/.exec(rest);
  if (named) rest = named[1];
  else if (/^[uU]/.test(rest)) return rest;
  const quote = rest[0] === '"' || rest[0] === "'" ? rest[0] : '';
  if (quote) {
    rest = rest.slice(1);
    const end = rest.indexOf(quote);
    if (end >= 0) rest = rest.slice(0, end);
  }
  return rest;
}

const DEFAULT_SCHEMES = ['http', 'https', 'mailto', 'ftp', 'tel'];
const isProtocolRelative = (url) => /^[/\\]{2}/.test(url.replace(/[\u0000-\u0020\u007f]/g, ''));

function isUnsafeUrl(url, policy) {
  const scheme = schemeOf(url);
  if (scheme === '') return policy.dropsRelative && isProtocolRelative(url);
  return !(policy.schemes ?? DEFAULT_SCHEMES).includes(scheme);
}

const LINKS = new Set(['a', 'area', 'form']);

// A link that keeps its target must carry exactly the policy's relations.
function linkRelViolation(child, name, policy) {
  if (!policy.linkRel || !LINKS.has(name)) return null;
  if (!child.attrs.some((a) => a.name === 'href' || a.name === 'action')) return null;
  const rel = child.attrs.find((a) => a.name === 'rel');
  return rel && rel.value === policy.linkRel ? null : `rel ${JSON.stringify(rel?.value ?? null)} on <${name}>`;
}

export function violations(node, policy, found) {
  for (const child of node.childNodes ?? []) {
    if (child.tagName) {
      const name = child.tagName.toLowerCase();
      const rule = policy.tags.get(name);
      const foreign = child.namespaceURI !== 'http://www.w3.org/1999/xhtml';
      const allowed = !foreign && (IMPLIED.has(name) || (rule ? rule.allowed : policy.defaultAllows));
      if (!allowed) found.push(`element <${name}>`);
      for (const attr of child.attrs) {
        const attrName = (attr.prefix ? `${attr.prefix}:` : '') + attr.name.toLowerCase();
        const linkRel = policy.linkRel && LINKS.has(name) && attrName === 'rel';
        if (!linkRel && !attributeAllowed(policy, rule, attrName)) found.push(`attribute ${attrName} on <${name}>`);
        if (URL_ATTRIBUTES.has(attrName)) {
          for (const url of urlsOf(attrName, attr.value)) {
            if (isUnsafeUrl(url, policy)) found.push(`${schemeOf(url)}: URL in ${attrName} on <${name}>`);
          }
        }
        if (attrName === 'srcdoc' && name === 'iframe') found.push('srcdoc on <iframe>');
        if (attrName === 'content' && name === 'meta') {
          const url = refreshUrl(attr.value);
          if (url !== null && isUnsafeUrl(url, policy)) found.push(`${schemeOf(url)}: URL in a refresh on <meta>`);
        }
      }
      const rel = foreign ? null : linkRelViolation(child, name, policy);
      if (rel) found.push(rel);
      violations(child.content ?? child, policy, found);
    }
  }
  return found;
}

// The ways a browser or another HTML consumer may read output bytes: as
// UTF-8 (what safe mode's output is meant to be served as), as UTF-8 by a
// parser that runs no script (noscript content is then markup), and as
// ISO-2022-JP, which a browser may guess for a page that declares no
// encoding. Each is a parsed document.
const iso2022jp = new TextDecoder('iso-2022-jp');
export function readings(bytes) {
  const text = bytes.toString('utf8');
  return [
    { name: 'UTF-8', document: parse(text) },
    { name: 'scripting off', document: parse(text, { scriptingEnabled: false }) },
    { name: 'ISO-2022-JP', document: parse(iso2022jp.decode(bytes)) },
  ];
}

// The violations of every reading of the bytes, each marked with its
// reading (all but the first).
export function violationsOfReadings(bytes, policy) {
  return readings(bytes).flatMap(({ name, document }, i) =>
    violations(document, policy, []).map((v) => (i === 0 ? v : `${v} (${name})`)));
}
