#!/usr/bin/env node
// Serves content/ and a made-up /menu.xml the way the monitor does, for working on the
// dashboard without the program: node scripts/dashboard-dev-server.mjs [--port 8080]
// (0 picks a free port) [--cores 4] [--down-after N] (stops answering N seconds after start, for 15 seconds).
// The figures are invented; texts are written unescaped, as the monitor writes them.

import { createHash, randomUUID } from 'node:crypto';
import { readFile } from 'node:fs/promises';
import { createServer } from 'node:http';
import { dirname, join } from 'node:path';
import { fileURLToPath } from 'node:url';

const root = join(dirname(fileURLToPath(import.meta.url)), '..', 'content');
const option = (name, fallback) => {
    const at = process.argv.indexOf(`--${name}`);
    return at > 0 ? Number(process.argv[at + 1]) : fallback;
};
const port = option('port', 8080);
const cores = option('cores', 4);
const downAfter = option('down-after', 0);
const startedAt = Date.now();

const MEDIA = {
    bmp: 'image/bmp', gif: 'image/gif', jpe: 'image/jpeg', jpeg: 'image/jpeg', jpg: 'image/jpeg',
    png: 'image/png', css: 'text/css', htm: 'text/html', html: 'text/html', js: 'text/javascript',
    xml: 'application/xml', txt: 'text/plain',
};

const ident = () => createHash('md5').update(randomUUID()).digest('hex');
let tables = { memory: [], network: [], processor: [], storage: [] };

function fill() {
    const gib = 1024 ** 3;
    tables = {
        memory: [
            { strIdent: ident(), strName: 'Physical', intTotal: 16 * gib, intFree: 6 * gib },
            { strIdent: ident(), strName: 'Pagefile', intTotal: 18 * gib, intFree: 9 * gib },
        ],
        network: [
            { strIdent: ident(), strName: 'Intel(R) Ethernet Connection I219-LM', strAddress: '192.168.1.20',
              strSubnetmask: '255.255.255.0', strGateway: '192.168.1.1', intSpeed: 1000000000 },
            { strIdent: ident(), strName: 'Wi-Fi 6 AX201 & <Bluetooth> "PAN"', strAddress: '10.0.0.7',
              strSubnetmask: '255.255.0.0', strGateway: '', intSpeed: 866700000 },
        ],
        processor: Array.from({ length: cores }, (_, core) => ({
            strIdent: ident(), intCore: core, strName: 'Intel(R) Core(TM) i7-8650U CPU @ 1.90GHz',
            strFamily: 'Intel64 Family 6 Model 142 Stepping 10',
        })),
        storage: [
            { strIdent: ident(), strModel: 'Samsung SSD 860 EVO 500GB', strSerial: 'S3Z1NB0K123456A',
              strFirmware: 'RVT02B6Q' },
        ],
    };
    // Like the monitor, memory is measured at the scan only, not at every sample.
    for (const m of tables.memory) {
        m.intFree = wander(m.intFree, 2 * 1024 ** 3, m.intTotal);
        m.intUsage = Math.floor((1 - m.intFree / m.intTotal) * 100000);
    }
}

const wander = (value, spread, max) => Math.max(0, Math.min(max, Math.round(value + (Math.random() - 0.5) * spread)));

// Memory of the moment, for readers that ask with requestMemory; the records keep their scan's.
let liveFree = [];

function sample() {
    liveFree = tables.memory.map((m, i) => wander(liveFree[i] ?? m.intFree, 2e8, m.intTotal));
    for (const n of tables.network) {
        n.intBytesRead = wander(n.intBytesRead ?? 2e6, 4e5, 5e7);
        n.intBytesWrite = wander(n.intBytesWrite ?? 3e5, 1e5, 2e7);
        n.intPacketsRead = Math.round(n.intBytesRead / 1200);
        n.intPacketsWrite = Math.round(n.intBytesWrite / 900);
        n.intUsage = Math.min(100000, Math.floor(((n.intBytesRead + n.intBytesWrite) / (n.intSpeed / 8)) * 100000));
    }
    for (const p of tables.processor) p.intUsage = wander(p.intUsage ?? 20000, 15000, 100000);
    for (const s of tables.storage) {
        s.intPacketsRead = wander(s.intPacketsRead ?? 40, 30, 2000);
        s.intPacketsWrite = wander(s.intPacketsWrite ?? 25, 20, 2000);
        s.intBytesRead = s.intPacketsRead * 65536;
        s.intBytesWrite = s.intPacketsWrite * 32768;
        s.intUsage = wander(s.intUsage ?? 5000, 4000, 100000);
    }
}

const FIELDS = {
    Memory: ['strIdent', 'strName', 'intTotal', 'intFree', 'intUsage'],
    Network: ['strIdent', 'strName', 'strAddress', 'strSubnetmask', 'strGateway', 'intSpeed',
        'intOctetsRead', 'intOctetsWrite', 'intPacketsRead', 'intPacketsWrite', 'intBytesRead',
        'intBytesWrite', 'intUsage'],
    Processor: ['strIdent', 'intCore', 'strName', 'strFamily', 'intUsage'],
    Storage: ['strIdent', 'strModel', 'strSerial', 'strFirmware', 'intPacketsRead',
        'intPacketsWrite', 'intBytesRead', 'intBytesWrite', 'intUsage'],
};

function documentText(words) {
    if (words.includes('requestInit')) fill();
    let text = '<?xml version="1.0" encoding="UTF-8" ?><xml>';
    if (words.includes('requestRead')) {
        const memory = !words.includes('requestMemory') ? tables.memory : tables.memory.map((m, i) => {
            const intFree = liveFree[i] ?? m.intFree;
            return { ...m, intFree, intUsage: Math.floor((1 - intFree / m.intTotal) * 100000) };
        });
        const groups = [['Memory', memory], ['Network', tables.network],
            ['Processor', tables.processor], ['Storage', tables.storage]];
        for (const [kind, records] of groups) {
            for (const record of records) {
                text += `<${kind}>`;
                for (const field of FIELDS[kind]) text += `<${field}>${record[field] ?? 0}</${field}>`;
                text += `</${kind}>`;
            }
        }
    }
    return `${text}</xml>`;
}

setInterval(sample, 1000);

createServer(async (request, response) => {
    const seconds = (Date.now() - startedAt) / 1000;
    if (downAfter > 0 && seconds > downAfter && seconds < downAfter + 15) {
        request.socket.destroy();
        return;
    }
    const path = decodeURIComponent(request.url);
    if (path === '/') {
        response.writeHead(302, { Location: '/assets/menu.html' }).end();
    } else if (path.startsWith('/menu.xml')) {
        const at = path.indexOf('strRequest=');
        const words = at < 0 ? [] : path.slice(at + 11).split('&')[0].split(':');
        const body = Buffer.from(documentText(words));
        response.writeHead(200, { 'Content-Type': 'application/xml', 'Cache-Control': 'no-cache',
            'Content-Length': body.length }).end(body);
    } else if (/^\/(assets|res|src)\//.test(path) && !path.includes('..')) {
        const file = path.split('?')[0];
        const headers = { 'Cache-Control': 'no-cache' };
        const type = MEDIA[file.split('.').pop().toLowerCase()];
        if (type) headers['Content-Type'] = type;
        try {
            const body = await readFile(join(root, file));
            response.writeHead(200, headers).end(body);
        } catch {
            response.writeHead(200, headers).end();
        }
    } else {
        response.writeHead(404).end();
    }
}).listen(port, '127.0.0.1', function listening() {
    // The same first line as the monitor's bench server, so tests can start either.
    console.log(`listening ${this.address().port}`);
});
