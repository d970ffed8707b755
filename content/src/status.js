// The status document (/menu.xml) turned into plain objects. The DOM walk is thin and takes
// any parsed document (the browser's DOMParser, or a stand-in under Node); the conversion of
// {element: text} records into typed records is pure.

/** The elements of each record kind, in document order. int* fields become numbers. */
export const SCHEMA = Object.freeze({
    Memory: ['strIdent', 'strName', 'intTotal', 'intFree', 'intUsage'],
    Network: [
        'strIdent', 'strName', 'strAddress', 'strSubnetmask', 'strGateway', 'intSpeed',
        'intOctetsRead', 'intOctetsWrite', 'intPacketsRead', 'intPacketsWrite', 'intBytesRead',
        'intBytesWrite', 'intUsage',
    ],
    Processor: ['strIdent', 'intCore', 'strName', 'strFamily', 'intUsage'],
    Storage: [
        'strIdent', 'strModel', 'strSerial', 'strFirmware', 'intPacketsRead', 'intPacketsWrite',
        'intBytesRead', 'intBytesWrite', 'intUsage',
    ],
});

export const KINDS = Object.freeze(Object.keys(SCHEMA));

/** The status document could not be read at all. */
export class StatusError extends Error {}

const TAG_NAMES = new Set(['xml', ...KINDS, ...Object.values(SCHEMA).flat()]);
const REFERENCE = /^&(?:amp|lt|gt|quot|apos|#[0-9]+|#x[0-9a-fA-F]+);/;
// Characters XML 1.0 forbids; disk serial numbers in particular can carry control bytes.
const FORBIDDEN = /[\u0000-\u0008\u000B\u000C\u000E-\u001F\uFFFE\uFFFF]/;

function tagAt(text, at) {
    const end = text.indexOf('>', at);
    if (end < 0) return 0;
    const inner = text.slice(at + 1, end);
    const name = inner.startsWith('/') ? inner.slice(1) : inner;
    return TAG_NAMES.has(name) ? end - at + 1 : 0;
}

/**
 * Makes the document well-formed when names and serials were written into it unescaped:
 * a stray "&" or "<" in an adapter description must not cost the whole page its figures.
 * Only the document's own tags are kept as markup; a document that is already escaped
 * passes through with the same meaning.
 */
export function repairMarkup(text) {
    let out = '';
    let copied = 0;
    let at = 0;
    const flush = (replacement, skip) => {
        out += text.slice(copied, at) + replacement;
        at += skip;
        copied = at;
    };
    if (text.startsWith('<?xml')) {
        const end = text.indexOf('?>');
        if (end >= 0) at = end + 2;
    }
    while (at < text.length) {
        const c = text[at];
        if (c === '<') {
            const length = tagAt(text, at);
            if (length > 0) at += length;
            else flush('&lt;', 1);
        } else if (c === '>') {
            flush('&gt;', 1);
        } else if (c === '&') {
            const reference = REFERENCE.exec(text.slice(at, at + 12));
            if (reference) at += reference[0].length;
            else flush('&amp;', 1);
        } else if (FORBIDDEN.test(c)) {
            flush('\uFFFD', 1);
        } else {
            at++;
        }
    }
    return out + text.slice(copied);
}

function elementChildren(node) {
    if (node.children) return Array.from(node.children);
    return Array.from(node.childNodes || []).filter((child) => child.nodeType === 1);
}

/**
 * The records of a parsed document, as [{kind, fields: {element: text}}] in document order.
 * Elements other than the four record kinds are skipped.
 */
export function recordsFromDocument(doc) {
    if (!doc || doc.getElementsByTagName('parsererror').length > 0) {
        throw new StatusError('the status document is not well-formed XML');
    }
    const root = doc.documentElement;
    if (!root || root.nodeName !== 'xml') {
        throw new StatusError('the status document has no <xml> root');
    }
    const records = [];
    for (const element of elementChildren(root)) {
        if (!Object.hasOwn(SCHEMA, element.nodeName)) continue;
        const fields = {};
        for (const field of elementChildren(element)) fields[field.nodeName] = field.textContent;
        records.push({ kind: element.nodeName, fields });
    }
    return records;
}

/** An unsigned decimal number, or null for anything else (absent, empty, signed, "12a"). */
export function toCount(text) {
    if (typeof text !== 'string' || !/^[0-9]+$/.test(text)) return null;
    return Number(text);
}

/** One typed record: every element of its kind, int* as number-or-null, str* as text. */
export function typedRecord(kind, fields) {
    const record = {};
    for (const name of SCHEMA[kind]) {
        const text = Object.hasOwn(fields, name) ? fields[name] : undefined;
        record[name] = name.startsWith('int') ? toCount(text) : (text ?? '');
    }
    return record;
}

// What identifies a device to the system, as the monitor keys its history: it outlives a
// rescan, whose identifiers are new every time.
const DEVICE_KEYS = {
    Memory: (r) => `mem:${r.strName}`,
    Network: (r) => `net:${r.strName}`,
    Processor: (r) => `cpu:${r.intCore}`,
    Storage: (r) => `disk:${r.strModel}:${r.strSerial}`,
};

/**
 * Records grouped by kind: {Memory: [...], Network: [...], Processor: [...], Storage: [...]},
 * each with its device key as `key` ("#2" telling apart a second device of the same texts).
 */
export function statusFromRecords(records) {
    const status = {};
    const seen = new Map();
    for (const kind of KINDS) status[kind] = [];
    for (const { kind, fields } of records) {
        const record = typedRecord(kind, fields);
        const key = DEVICE_KEYS[kind](record);
        const n = (seen.get(key) ?? 0) + 1;
        seen.set(key, n);
        record.key = n === 1 ? key : `${key}#${n}`;
        status[kind].push(record);
    }
    return status;
}

/** True when the document listed no record at all (tables not yet filled, or a fresh start). */
export function isEmptyStatus(status) {
    return KINDS.every((kind) => status[kind].length === 0);
}

/**
 * The whole road from response text to typed records. `parseXml(text)` returns a document,
 * e.g. `(t) => new DOMParser().parseFromString(t, 'application/xml')`.
 */
export function parseStatus(text, parseXml) {
    return statusFromRecords(recordsFromDocument(parseXml(repairMarkup(text))));
}
