import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
    isEmptyStatus, parseStatus, repairMarkup, SCHEMA, StatusError, toCount,
} from '../../content/src/status.js';

// Node has no DOMParser: a strict reader of the subset the status document uses (prolog,
// elements without attributes, text, the predefined and numeric references). Like the
// browser's, it answers bad markup with a document holding a <parsererror> element.
function parseXml(text) {
    const element = (nodeName) => ({
        nodeName, nodeType: 1, children: [], text: '',
        get textContent() { return this.text + this.children.map((c) => c.textContent).join(''); },
    });
    const failed = () => {
        const error = element('parsererror');
        return { documentElement: error, getElementsByTagName: (n) => (n === 'parsererror' ? [error] : []) };
    };
    const names = { amp: '&', lt: '<', gt: '>', quot: '"', apos: "'" };
    let at = 0;
    if (text.startsWith('<?xml')) at = text.indexOf('?>') + 2;
    const stack = [element('#document')];
    while (at < text.length) {
        const top = stack[stack.length - 1];
        const c = text[at];
        if (c === '<') {
            const end = text.indexOf('>', at);
            const tag = text.slice(at + 1, end);
            if (end < 0 || !/^\/?[A-Za-z_][\w.-]*$/.test(tag)) return failed();
            if (tag.startsWith('/')) {
                if (top.nodeName !== tag.slice(1) || stack.length === 1) return failed();
                stack.pop();
            } else {
                const child = element(tag);
                top.children.push(child);
                stack.push(child);
            }
            at = end + 1;
        } else if (c === '&') {
            const end = text.indexOf(';', at);
            const name = text.slice(at + 1, end);
            let decoded = names[name];
            if (/^#\d+$/.test(name)) decoded = String.fromCodePoint(Number(name.slice(1)));
            if (/^#x[0-9a-f]+$/i.test(name)) decoded = String.fromCodePoint(parseInt(name.slice(2), 16));
            if (end < 0 || decoded === undefined) return failed();
            top.text += decoded;
            at = end + 1;
        } else {
            if (/[\u0000-\u0008\u000B\u000C\u000E-\u001F]/.test(c) || (c === '>' && text.slice(at - 2, at) === ']]')) {
                return failed();
            }
            top.text += c;
            at++;
        }
    }
    if (stack.length !== 1 || stack[0].children.length !== 1) return failed();
    return { documentElement: stack[0].children[0], getElementsByTagName: () => [] };
}

const PROLOG = '<?xml version="1.0" encoding="UTF-8" ?>';
const record = (kind, values) =>
    `<${kind}>${SCHEMA[kind].map((name, i) => `<${name}>${values[i]}</${name}>`).join('')}</${kind}>`;

const fullDocument =
    PROLOG + '<xml>' +
    record('Memory', ['a1', 'Physical', '8589934592', '2147483648', '75000']) +
    record('Memory', ['a2', 'Pagefile', '0', '0', '100000']) +
    record('Network', ['b1', 'Ethernet', '192.168.1.20', '255.255.255.0', '', '1000000000',
        '4294967295', '12', '800', '650', '20000000', '11250000', '25000']) +
    record('Processor', ['c1', '0', 'CPU', 'Family 6', '12345']) +
    record('Processor', ['c2', '1', 'CPU', 'Family 6', '0']) +
    record('Storage', ['d1', 'SSD', 'S3Z', 'RVT', '40', '25', '2621440', '819200', '5000']) +
    '</xml>';

test('a full document becomes typed records per kind, in document order', () => {
    const status = parseStatus(fullDocument, parseXml);
    assert.deepEqual(status.Memory.map((m) => m.strName), ['Physical', 'Pagefile']);
    assert.equal(status.Memory[0].intTotal, 8589934592);
    assert.equal(status.Memory[0].intUsage, 75000);
    const adapter = status.Network[0];
    assert.equal(adapter.strGateway, '');
    assert.equal(adapter.intSpeed, 1000000000);
    assert.equal(adapter.intOctetsRead, 4294967295);
    assert.equal(adapter.intBytesWrite, 11250000);
    assert.deepEqual(status.Processor.map((p) => [p.strIdent, p.intCore, p.intUsage]), [['c1', 0, 12345], ['c2', 1, 0]]);
    assert.deepEqual(Object.keys(status.Storage[0]), [...SCHEMA.Storage, 'key']);
    assert.equal(status.Storage[0].strFirmware, 'RVT');
    assert.equal(isEmptyStatus(status), false);
});

test('devices are keyed as the system knows them, the same on a rescan, twins told apart in order', () => {
    const disk = (ident) => record('Storage', [ident, 'SSD', 'S3Z', 'RVT', '1', '2', '3', '4', '5']);
    const keys = (idents) => {
        const status = parseStatus(`${PROLOG}<xml>${record('Processor', [idents[0], '3', 'C', 'F', '1'])}` +
            `${idents.slice(1).map(disk).join('')}</xml>`, parseXml);
        return [...status.Processor, ...status.Storage].map((r) => r.key);
    };
    assert.deepEqual(keys(['c1', 'd1', 'd2']), ['cpu:3', 'disk:SSD:S3Z', 'disk:SSD:S3Z#2']);
    assert.deepEqual(keys(['c9', 'd8', 'd7']), keys(['c1', 'd1', 'd2']));
});

test('the empty document gives four empty tables', () => {
    for (const text of [`${PROLOG}<xml></xml>`, '<xml></xml>']) {
        const status = parseStatus(text, parseXml);
        assert.deepEqual(status, { Memory: [], Network: [], Processor: [], Storage: [] });
        assert.ok(isEmptyStatus(status));
    }
});

test('escaped names keep their meaning: &amp; reads as &', () => {
    const text = `${PROLOG}<xml>${record('Processor', ['c1', '0', 'Fast &amp; Co &lt;X&gt; &#233;', 'F', '1'])}</xml>`;
    assert.equal(repairMarkup(text), text);
    assert.equal(parseStatus(text, parseXml).Processor[0].strName, 'Fast & Co <X> é');
});

test('names written unescaped by the monitor still read, with every other figure intact', () => {
    const name = 'Wi-Fi & <Bluetooth> "PAN" <strName';
    const text = `${PROLOG}<xml>${record('Network', ['b1', name, '10.0.0.7', '255.0.0.0', '', '866700000',
        '0', '0', '1', '2', '3', '4', '5'])}${record('Storage', ['d1', 'A<B', 'x]]>y', 'R&D', '1', '2', '3', '4', '5'])}</xml>`;
    assert.equal(parseXml(text).documentElement.nodeName, 'parsererror');
    const status = parseStatus(text, parseXml);
    assert.equal(status.Network[0].strName, name);
    assert.equal(status.Network[0].intUsage, 5);
    assert.deepEqual([status.Storage[0].strModel, status.Storage[0].strSerial, status.Storage[0].strFirmware],
        ['A<B', 'x]]>y', 'R&D']);
});

test('control characters in a serial number are replaced, not fatal', () => {
    const text = `${PROLOG}<xml>${record('Storage', ['d1', 'Disk', 'AB\u0001\u001fC', 'F', '1', '2', '3', '4', '5'])}</xml>`;
    assert.equal(parseStatus(text, parseXml).Storage[0].strSerial, 'AB\uFFFD\uFFFDC');
});

test('absent, empty or malformed numbers become null, not 0', () => {
    const text = `${PROLOG}<xml><Memory><strIdent>a1</strIdent><intTotal></intTotal><intFree>-5</intFree>` +
        '<intUsage>12a</intUsage><intExtra>9</intExtra></Memory></xml>';
    const [memory] = parseStatus(text, parseXml).Memory;
    assert.deepEqual(memory, { strIdent: 'a1', strName: '', intTotal: null, intFree: null, intUsage: null, key: 'mem:' });
    assert.equal(toCount('18446744073709551615'), 18446744073709551615);
    assert.equal(toCount(' 1'), null);
    assert.equal(toCount(undefined), null);
});

test('elements of unknown kinds are skipped', () => {
    const text = `${PROLOG}<xml><Battery><strIdent>z</strIdent></Battery>${record('Processor', ['c1', '0', 'C', 'F', '1'])}</xml>`;
    const status = parseStatus(text, parseXml);
    assert.equal(status.Processor.length, 1);
    assert.equal(Object.hasOwn(status, 'Battery'), false);
});

test('an answer that is not a status document is reported as unreadable', () => {
    for (const text of ['', '<html><body>Not Found</body></html>', `${PROLOG}<xml><Memory>`]) {
        assert.throws(() => parseStatus(text, parseXml), StatusError, JSON.stringify(text));
    }
});
