#!/usr/bin/env node
// Drives the dashboard in Debian's Chromium against the monitor's own web server serving the
// real content/: node tests/e2e/run.mjs BUILD_DIR
// (or --dev: against scripts/dashboard-dev-server.mjs, with invented figures).
// Screenshots go to tests/e2e/out/. With --docs the light desktop one, taken after four minutes
// of history (or --history N seconds), is also copied to docs/dashboard.png for the README.

import { spawn } from 'node:child_process';
import { copyFileSync, existsSync, mkdirSync, mkdtempSync, readFileSync, rmSync } from 'node:fs';
import { hostname, tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

import { formatUptime } from '../../content/src/host.js';

const here = dirname(fileURLToPath(import.meta.url));
const repo = resolve(here, '..', '..');
const content = join(repo, 'content');
const out = join(here, 'out');
const CHROMIUM = '/usr/bin/chromium';
const BROWSER_FLAGS = [
    '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
    '--disable-background-networking', '--disable-component-update', '--disable-sync',
];
// Budgets the dashboard promises on a local server.
const PAGE_BYTES_BUDGET = 150 * 1024;
const FIRST_PAINT_BUDGET_MS = 500;
const CPU_SHARE_BUDGET = 0.02;
// The test fails only well past the budget: on a loaded two-core CI machine the same page
// measures anywhere from 1 to 3 %. The figure is printed against the budget either way.
const CPU_SHARE_LIMIT = 0.05;

const args = process.argv.slice(2);
const dev = args.includes('--dev');
const docs = args.includes('--docs');
// Seconds of chart history gathered before the screenshots.
const historyAt = args.indexOf('--history');
const historySeconds = historyAt >= 0 ? Number(args[historyAt + 1]) : docs ? 240 : 4;
const buildDir = args.find((a, i) => !a.startsWith('--') && args[i - 1] !== '--history');
if (!dev && !buildDir) {
    console.error('usage: node tests/e2e/run.mjs BUILD_DIR | --dev [--docs] [--history SECONDS]');
    process.exit(2);
}

function serverCommand(port) {
    if (dev) return [process.execPath, [join(repo, 'scripts', 'dashboard-dev-server.mjs'), '--port', String(port)]];
    const bench = join(resolve(buildDir), 'tarnivo_httpd_bench');
    if (!existsSync(bench)) throw new Error(`${bench} not found: build the target tarnivo_httpd_bench first`);
    return [bench, [String(port), content]];
}

/** Starts the server; resolves with {child, port} once it prints "listening PORT". */
function startServer(port = 0) {
    const [command, commandArgs] = serverCommand(port);
    const child = spawn(command, commandArgs, { stdio: ['ignore', 'pipe', 'inherit'] });
    return new Promise((resolvePort, reject) => {
        let seen = '';
        const timer = setTimeout(() => {
            child.kill('SIGTERM');
            reject(new Error('the server did not start within 10 s'));
        }, 10000);
        child.stdout.on('data', (chunk) => {
            seen += chunk;
            const match = /listening (\d+)/.exec(seen);
            if (match) {
                clearTimeout(timer);
                resolvePort({ child, port: Number(match[1]) });
            }
        });
        child.on('exit', (code) => reject(new Error(`the server ended early (exit ${code})`)));
    });
}

function stopServer(child) {
    return new Promise((done) => {
        if (child.exitCode !== null) return done();
        child.once('exit', done);
        child.kill('SIGTERM');
    });
}

const results = [];
async function check(name, body) {
    const started = Date.now();
    try {
        const note = await body();
        results.push({ name, ok: true });
        console.log(`ok   ${name}${note ? ` (${note})` : ''} [${Date.now() - started} ms]`);
    } catch (error) {
        results.push({ name, ok: false });
        console.log(`FAIL ${name}\n     ${error.stack || error}`);
    }
}

function assert(condition, message) {
    if (!condition) throw new Error(message);
}

/** The identifiers per record kind in a status document (read as text, as the server sent it). */
function identsIn(xml) {
    const idents = {};
    for (const kind of ['Memory', 'Network', 'Processor', 'Storage']) {
        const pattern = new RegExp(`<${kind}><strIdent>([0-9a-f]*)</strIdent>`, 'g');
        idents[kind] = [...xml.matchAll(pattern)].map((m) => m[1]);
    }
    return idents;
}

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));

// How long a page opened this late must show in its charts, of a monitor running since the suite
// began: a second server, which no check stops or rescans, keeps that history.
const HISTORY_AGE_MS = 90000;
const HISTORY_SHOWN_SECONDS = 80;

/**
 * Seconds of history a chart shows: the width its lines cover in the plot area (uPlot's overlay
 * gives that area) as a share of the chosen span, read from the canvas pixels in the series'
 * colours.
 */
function chartSeconds(page, hostId, spanSeconds) {
    return page.evaluate(({ id, span }) => {
        const host = document.getElementById(id);
        const canvas = host.querySelector('canvas');
        const box = canvas.getBoundingClientRect();
        const plot = host.querySelector('.u-over').getBoundingClientRect();
        const scale = canvas.width / box.width;
        const style = getComputedStyle(document.documentElement);
        const colours = ['--series-1', '--series-2'].map((name) => {
            const hex = style.getPropertyValue(name).trim();
            return [1, 3, 5].map((i) => parseInt(hex.slice(i, i + 2), 16));
        });
        const x0 = Math.round((plot.left - box.left) * scale);
        const y0 = Math.round((plot.top - box.top) * scale);
        const w = Math.round(plot.width * scale);
        const h = Math.round(plot.height * scale);
        const pixels = canvas.getContext('2d').getImageData(x0, y0, w, h).data;
        let left = Infinity;
        let right = -1;
        for (let y = 0; y < h; y++) {
            for (let x = 0; x < w; x++) {
                const i = (y * w + x) * 4;
                const near = colours.some((c) => pixels[i + 3] > 200 &&
                    Math.abs(pixels[i] - c[0]) + Math.abs(pixels[i + 1] - c[1]) + Math.abs(pixels[i + 2] - c[2]) < 60);
                if (near) {
                    left = Math.min(left, x);
                    right = Math.max(right, x);
                }
            }
        }
        return right < 0 ? 0 : ((right - left) / w) * span;
    }, { id: hostId, span: spanSeconds });
}

async function main() {
    mkdirSync(out, { recursive: true });
    let server = await startServer();
    const elder = await startServer();
    const elderStarted = Date.now();
    const elderBase = `http://127.0.0.1:${elder.port}`;
    // The devices are taken stock of when the first page opens; this one opens at once.
    await fetch(`${elderBase}/menu.xml?strRequest=requestInit`);
    const base = `http://127.0.0.1:${server.port}`;
    const read = async () => (await fetch(`${base}/menu.xml?strRequest=requestRead`)).text();
    const profile = mkdtempSync(join(tmpdir(), 'tarnivo-e2e-'));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: CHROMIUM,
        args: BROWSER_FLAGS,
        headless: true,
        viewport: { width: 1280, height: 900 },
        colorScheme: 'light',
    });
    const problems = [];
    const bytes = new Map();
    context.on('weberror', (e) => problems.push(`page error: ${e.error().message}`));
    context.on('console', (m) => {
        if (m.type() === 'error') problems.push(`console: ${m.text()}`);
    });
    context.on('response', async (response) => {
        try {
            bytes.set(response.url(), (await response.body()).length);
        } catch {
            // A response without a body (a redirect) weighs nothing here.
        }
    });

    try {
        const page = context.pages()[0] ?? (await context.newPage());

        await check('the page paints fast and stays within its weight budget', async () => {
            await page.goto(`${base}/`, { waitUntil: 'load' });
            await page.waitForSelector('[data-connection="live"]', { timeout: 10000 });
            await sleep(500);
            // The figures (the status document, the history, the volumes) are data, not the page.
            const files = [...bytes.entries()].filter(([url]) => !/\/menu\.xml|\.json/.test(url));
            const total = files.reduce((sum, [, size]) => sum + size, 0);
            // Paint is timed on a second load, every file fetched again: the first one also pays
            // for the browser's own start (font lookups, a new renderer), which is not the page's.
            const cdp = await context.newCDPSession(page);
            await cdp.send('Network.enable');
            await cdp.send('Network.setCacheDisabled', { cacheDisabled: true });
            await page.reload({ waitUntil: 'load' });
            const paint = await page.evaluate(() =>
                performance.getEntriesByName('first-contentful-paint')[0]?.startTime ?? Infinity);
            await cdp.send('Network.setCacheDisabled', { cacheDisabled: false });
            await cdp.detach();
            await page.waitForSelector('[data-connection="live"]', { timeout: 10000 });
            assert(paint < FIRST_PAINT_BUDGET_MS, `first paint after ${paint} ms`);
            assert(total < PAGE_BYTES_BUDGET, `the page weighs ${total} bytes`);
            return `first paint ${Math.round(paint)} ms, ${(total / 1024).toFixed(1)} KiB in ${files.length} files`;
        });

        const first = identsIn(await read());

        await check('this machine is named, with its start, in /metrics and on the page', async () => {
            // The kernel's own start and name, read here by another road than the monitor's.
            const name = hostname();
            const boot = Number(/\nbtime (\d+)/.exec(readFileSync('/proc/stat', 'utf8'))[1]);
            const metrics = await (await fetch(`${base}/metrics`)).text();
            assert(metrics.includes(`\ntarnivo_host_info{hostname="${name}",os="`), 'no host_info with this name');
            assert(metrics.includes(`\ntarnivo_boot_time_seconds ${boot}\n`), 'no boot time of /proc/stat');
            await page.waitForFunction((n) => document.getElementById('host').textContent === n &&
                document.title === `Tarnivo · ${n}`, name, { timeout: 5000 });
            const up = await page.textContent('#host-up');
            const started = await page.getAttribute('#host-up', 'title');
            assert(up === formatUptime(Date.now() / 1000 - boot), `the page says "${up}"`);
            const expected = await page.evaluate((t) => `Started ${new Date(t * 1000).toLocaleString()}`, boot);
            assert(started === expected, `the start is given as "${started}"`);
            return `${name}, ${up}`;
        });

        await check('every device of the status document is on the page', async () => {
            const devices = [...first.Processor, ...first.Network, ...first.Storage, ...first.Memory];
            assert(first.Memory.length > 0 && first.Processor.length > 0, 'the server listed no memory or processors');
            await page.waitForFunction((ids) => ids.every((id) => document.querySelector(`[data-ident="${id}"]`)),
                devices, { timeout: 5000 });
            return `${first.Processor.length} processors, ${first.Network.length} adapters, ` +
                `${first.Storage.length} disks, ${first.Memory.length} memory records`;
        });

        await check('figures on the page follow the server from one update to the next', async () => {
            const shown = () => page.$$eval('[data-ident] .figure-value, [data-ident] .core-value, [data-ident] dd',
                (nodes) => nodes.map((n) => n.textContent));
            const stamp = () => page.textContent('#updated');
            const before = { figures: await shown(), stamp: await stamp(), doc: await read() };
            const plain = (doc) => doc.replace(/<strIdent>.*?<\/strIdent>/g, '');
            let after = null;
            let serverMoved = false;
            let pageMoved = false;
            // Until both moved: a monitor whose devices were just taken reads 0 for its first
            // samples, while the page's own figures (memory of the moment) move at once.
            for (let i = 0; i < 20 && !(serverMoved && pageMoved); i++) {
                await sleep(1000);
                after = { figures: await shown(), stamp: await stamp(), doc: await read() };
                serverMoved = plain(after.doc) !== plain(before.doc);
                pageMoved = after.figures.join('|') !== before.figures.join('|');
            }
            assert(after.stamp !== before.stamp, 'the "Updated" time did not move');
            assert(!serverMoved || pageMoved, 'the server\'s figures changed but the page\'s did not');
            // Every processor at 100 % with no traffic is a document that truly stays the same:
            // the machine is saturated (by other work), not the sampling stopped.
            const usages = [...after.doc.matchAll(/<Processor>.*?<intUsage>(\d+)<\/intUsage>/g)]
                .map((m) => Number(m[1]));
            const saturated = usages.length > 0 && usages.every((u) => u === 100000);
            assert(serverMoved || saturated,
                `the server's figures did not change in 20 s: is its sampling thread running? ` +
                `(processors ${usages.join(', ')})`);
            if (!serverMoved) return 'every processor at 100 % for 20 s: nothing to compare';
            const changed = after.figures.filter((text, i) => text !== before.figures[i]).length;
            return `${changed} of ${after.figures.length} figures changed`;
        });

        await check('memory figures move every second while memory is taken, for the page only', async () => {
            // Another process takes 96 MiB a second, written to so that the pages are really in use.
            const taker = spawn(process.execPath, ['-e',
                'const held = []; setInterval(() => { if (held.length < 6) held.push(Buffer.alloc(96 << 20, 1)); }, 1000);' +
                'setTimeout(() => process.exit(0), 20000);'], { stdio: 'ignore' });
            const inUse = () => page.$$eval('.card.memory dd', (nodes) => nodes.map((n) => n.textContent).join('|'));
            const plain = async () => (await read()).match(/<Memory>.*<\/Memory>/)?.[0];
            try {
                const plainBefore = await plain();
                const seen = [await inUse()];
                for (let i = 0; i < 6; i++) {
                    await sleep(1000);
                    seen.push(await inUse());
                }
                const changes = seen.filter((text, i) => i > 0 && text !== seen[i - 1]).length;
                assert(changes >= 4, `the memory figures changed ${changes} times in 6 s: ${seen.join(' / ')}`);
                assert(await plain() === plainBefore, 'a plain requestRead no longer shows the figures of the last scan');
                return `${changes} changes in 6 s`;
            } finally {
                taker.kill();
            }
        });

        await check('a second viewer reads without resetting the first one\'s devices', async () => {
            const second = await context.newPage();
            await second.goto(`${base}/assets/menu.html`);
            await second.waitForSelector('[data-connection="live"]');
            await sleep(1500);
            await second.close();
            assert(JSON.stringify(identsIn(await read())) === JSON.stringify(first), 'the identifiers changed');
        });

        await check('volumes sit under their disks, the fullest in the overview, as /volumes.json says', async () => {
            const { volumes, disks } = await (await fetch(`${base}/volumes.json`)).json();
            const listed = volumes.filter((v) => v.storage && first.Storage.includes(v.storage));
            await page.waitForFunction((n) => document.querySelectorAll('.volume').length >= n, listed.length, { timeout: 15000 });
            for (const v of listed) {
                const names = await page.$$eval(`[data-ident="${v.storage}"] .volume-name`, (nodes) => nodes.map((n) => n.textContent));
                assert(names.includes(v.volume), `${v.volume} is not on its disk's card (${names.join(', ')})`);
            }
            // Beside every bar, what "used" counts; every disk known by its system name.
            const notes = await page.$$eval('.volume', (nodes) => nodes.filter((n) => !/reserved/.test(n.textContent)).length);
            assert(notes === 0, `${notes} volumes do not say what "used" counts`);
            for (const d of disks.filter((d) => first.Storage.includes(d.storage))) {
                const card = await page.textContent(`[data-ident="${d.storage}"]`);
                const title = await page.textContent(`[data-ident="${d.storage}"] h3`);
                assert(card.includes(d.name) && title !== 'Unnamed disk', `disk ${d.name} reads "${title}"`);
            }
            const overview = await page.textContent('#overview-volume-value');
            assert(listed.length === 0 || /% used$/.test(overview), `the overview says "${overview}"`);
            return `${listed.length} of ${volumes.length} volumes on ${first.Storage.length} disk cards; fullest: ${overview}`;
        });

        await check('each disk card says its health as /health.json gives it, or that none was reported', async () => {
            const disks = JSON.parse(await (await fetch(`${base}/health.json`)).text()).disks;
            const lines = await page.$$eval('[data-ident] .disk-health', (nodes) =>
                nodes.map((n) => [n.closest('[data-ident]').dataset.ident, n.textContent]));
            assert(lines.length === first.Storage.length, `${lines.length} health lines for ${first.Storage.length} disks`);
            for (const [ident, text] of lines) {
                const disk = disks.find((d) => d.storage === ident);
                assert(disk && (disk.reported ? /^Health: (good|the drive says)/.test(text) : text === 'Health: not reported'),
                    `disk ${ident} says "${text}" for ${JSON.stringify(disk)}`);
            }
            return lines.map(([, text]) => text).join('; ');
        });

        await check('the busiest processes are read only while their panel is open', async () => {
            const asked = [];
            const note = (request) => { if (request.url().includes('/processes.json')) asked.push(Date.now()); };
            context.on('request', note);
            await sleep(2500);
            assert(asked.length === 0, 'processes were asked for with the panel closed');
            await page.click('#processes-panel summary');
            await page.waitForFunction(() => document.querySelectorAll('#processes-cpu tr').length > 0, null, { timeout: 6000 });
            const rows = await page.$$eval('#processes-cpu tr', (nodes) => nodes.length);
            await page.click('#processes-panel summary');
            const closedWith = asked.length;
            await sleep(2500);
            context.off('request', note);
            assert(asked.length === closedWith, 'processes were still asked for after the panel closed');
            // Open again for the screenshots, which start from the top of the page.
            await page.click('#processes-panel summary');
            await page.evaluate(() => window.scrollTo(0, 0));
            return `${rows} rows after ${closedWith} reads`;
        });

        await check('on a phone the tables scroll sideways and no cell is narrower than its longest word', async () => {
            // Two machines, one with a long volume name, stand in for a network this test has not got.
            const now = new Date().toISOString();
            const peers = { running: true, lastLook: now, peers: [
                { address: '192.168.178.20', version: '1.1', port: 8080, thisMachine: true, lastHeard: now },
                { address: '192.168.178.134', version: '1.1', port: 0, lastHeard: now }] };
            const fleet = { machines: [{ address: '192.168.178.20', port: 8080,
                summary: { processor: 12.5, memory: 48.1, volume: { volume: '/srv/projects-archive', used: 71.2, free: 28.8 } } }] };
            const answer = (body) => (route) => route.fulfill({ contentType: 'application/json', body: JSON.stringify(body) });
            await page.route('**/peers.json*', answer(peers));
            await page.route('**/fleet.json*', answer(fleet));
            await page.setViewportSize({ width: 390, height: 844 });
            try {
                await page.click('#peers-panel summary');
                await page.waitForFunction(() => document.querySelectorAll('#peers-list tr').length === 2, null, { timeout: 5000 });
                await page.waitForFunction(() => document.querySelector('#peers-list .fleet-volume')?.textContent.includes('/srv'), null, { timeout: 5000 });
                const found = await page.evaluate(() => {
                    const canvas = document.createElement('canvas').getContext('2d');
                    const narrow = [];
                    let cells = 0;
                    for (const cell of document.querySelectorAll('.peers-table th, .peers-table td')) {
                        if (cell.offsetParent === null || !cell.textContent.trim()) continue;
                        cells += 1;
                        const style = getComputedStyle(cell);
                        const room = cell.clientWidth - parseFloat(style.paddingLeft) - parseFloat(style.paddingRight);
                        // Each word in the font of the element that holds it.
                        const walker = document.createTreeWalker(cell, NodeFilter.SHOW_TEXT);
                        for (let text = walker.nextNode(); text; text = walker.nextNode()) {
                            const own = getComputedStyle(text.parentElement);
                            canvas.font = `${own.fontStyle} ${own.fontWeight} ${own.fontSize} ${own.fontFamily}`;
                            for (const word of text.textContent.split(/\s+/).filter(Boolean)) {
                                const width = canvas.measureText(word).width;
                                if (width > room + 1) narrow.push(`"${word}" needs ${Math.ceil(width)} px in ${Math.floor(room)} px`);
                            }
                        }
                    }
                    const scrollers = [...document.querySelectorAll('.table-scroll')].filter((s) => s.offsetParent !== null);
                    return { narrow, cells, scrolling: scrollers.filter((s) => s.scrollWidth > s.clientWidth).length, scrollers: scrollers.length };
                });
                const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
                await page.screenshot({ path: join(out, 'phone-tables.png'), fullPage: true });
                assert(found.cells > 20, `only ${found.cells} table cells were shown`);
                assert(found.narrow.length === 0, `cells narrower than their words: ${found.narrow.slice(0, 6).join('; ')}`);
                assert(overflow <= 0, `the page is ${overflow} px wider than the phone`);
                return `${found.cells} cells; ${found.scrolling} of ${found.scrollers} tables scroll sideways`;
            } finally {
                await page.click('#peers-panel summary');
                await page.unroute('**/peers.json*');
                await page.unroute('**/fleet.json*');
                await page.setViewportSize({ width: 1280, height: 900 });
            }
        });

        await check('screenshots: desktop and phone, light and dark', async () => {
            await sleep(historySeconds * 1000);
            await page.screenshot({ path: join(out, 'desktop-light.png') });
            if (docs) {
                mkdirSync(join(repo, 'docs'), { recursive: true });
                copyFileSync(join(out, 'desktop-light.png'), join(repo, 'docs', 'dashboard.png'));
            }
            await page.emulateMedia({ colorScheme: 'dark' });
            await sleep(1200);
            await page.screenshot({ path: join(out, 'desktop-dark.png') });
            await page.setViewportSize({ width: 390, height: 844 });
            await sleep(1200);
            const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
            await page.screenshot({ path: join(out, 'phone-dark.png'), fullPage: true });
            await page.emulateMedia({ colorScheme: 'light' });
            await sleep(1200);
            await page.screenshot({ path: join(out, 'phone-light.png'), fullPage: true });
            await page.setViewportSize({ width: 1280, height: 900 });
            assert(overflow <= 0, `the phone layout is ${overflow} px wider than the screen`);
            const unlabelled = await page.$$eval('figure.chart', (nodes) => nodes.filter((n) => !n.getAttribute('aria-label')).length);
            assert(unlabelled === 0, `${unlabelled} charts have no text alternative`);
        });

        await check('the page stays light at one update a second', async () => {
            const cdp = await context.newCDPSession(page);
            await cdp.send('Performance.enable');
            const busy = async () => {
                const { metrics } = await cdp.send('Performance.getMetrics');
                return metrics.find((m) => m.name === 'TaskDuration').value;
            };
            // Three windows, the quietest one counts: other work on a shared machine stretches tasks.
            const shares = [];
            for (let window = 0; window < 3; window++) {
                const startBusy = await busy();
                const started = Date.now();
                await sleep(5000);
                shares.push((await busy() - startBusy) / ((Date.now() - started) / 1000));
            }
            await cdp.detach();
            const share = Math.min(...shares);
            const shown = shares.map((s) => `${(s * 100).toFixed(2)} %`).join(', ');
            assert(share < CPU_SHARE_LIMIT, `main thread busy ${shown} of the time`);
            const verdict = share < CPU_SHARE_BUDGET ? 'within' : 'over';
            return `main thread busy ${shown} of one core (${verdict} the 2 % budget)`;
        });

        await check('names that carry markup characters are read with the browser\'s own parser', async () => {
            const names = await page.evaluate(async () => {
                const { parseStatus } = await import('/src/status.js?v=1');
                const text = '<?xml version="1.0" encoding="UTF-8" ?><xml><Network><strIdent>a</strIdent>' +
                    '<strName>Wi-Fi & <BT> "PAN"</strName><intSpeed>1000</intSpeed></Network><Storage>' +
                    '<strIdent>b</strIdent><strModel>R&amp;D</strModel><strSerial>S\u0001N</strSerial></Storage></xml>';
                const status = parseStatus(text, (t) => new DOMParser().parseFromString(t, 'application/xml'));
                return [status.Network[0].strName, status.Network[0].intSpeed, status.Storage[0].strModel,
                    status.Storage[0].strSerial];
            });
            assert(JSON.stringify(names) === JSON.stringify(['Wi-Fi & <BT> "PAN"', 1000, 'R&D', 'S\uFFFDN']),
                `read as ${JSON.stringify(names)}`);
        });

        await check('rescan takes stock anew and the page follows the new devices', async () => {
            // Another viewer's charts go on through the rescan: the devices are still the same.
            const other = await context.newPage();
            await other.goto(`${base}/assets/menu.html`);
            await other.waitForSelector('[data-connection="live"]');
            await sleep(1500);
            const before = await chartSeconds(other, 'overview-memory-chart', 300);
            // From the keyboard, as a screen-reader user would.
            await page.focus('#rescan');
            await page.keyboard.press('Enter');
            await page.waitForFunction(() => /Devices rescanned/.test(document.getElementById('connection').textContent),
                null, { timeout: 5000 });
            const now = identsIn(await read());
            assert(now.Processor.every((id) => !first.Processor.includes(id)), 'the identifiers did not change');
            await page.waitForFunction((id) => document.querySelector(`[data-ident="${id}"]`), now.Processor[0]);
            const stale = await page.$$eval('[data-ident]', (nodes, old) => nodes.filter((n) => old.includes(n.dataset.ident)).length,
                [...first.Processor, ...first.Network, ...first.Storage]);
            assert(stale === 0, `${stale} cards of the old devices are still shown`);
            await other.waitForFunction((id) => document.querySelector(`[data-ident="${id}"]`), now.Processor[0]);
            await sleep(1500);
            const after = await chartSeconds(other, 'overview-memory-chart', 300);
            await other.close();
            // A pixel either way is not a lost second; a chart started anew shows 2 s or 3.
            assert(before >= 10 && after >= before - 2, `the other viewer's memory chart went from ` +
                `${before.toFixed(0)} s to ${after.toFixed(0)} s`);
            return `another viewer's memory chart: ${before.toFixed(0)} s before, ${after.toFixed(0)} s after`;
        });

        await check('a stopped server is reported plainly, and the page resumes by itself', async () => {
            const port = server.port;
            await stopServer(server.child);
            await page.waitForSelector('[data-connection="down"]', { timeout: 10000 });
            const said = await page.textContent('#connection');
            assert(/Not connected/.test(said), `the page said "${said}"`);
            await page.screenshot({ path: join(out, 'server-stopped.png') });
            server = await startServer(port);
            await page.waitForSelector('[data-connection="live"]', { timeout: 15000 });
            const fresh = identsIn(await read());
            assert(fresh.Processor.length > 0, 'the restarted server\'s tables were not filled by the page');
            await page.waitForFunction((id) => document.querySelector(`[data-ident="${id}"]`), fresh.Processor[0],
                { timeout: 5000 });
        });

        await check('a page opened after 90 s of running shows the history from before it opened', async () => {
            await sleep(Math.max(0, elderStarted + HISTORY_AGE_MS - Date.now()));
            const fresh = await context.newPage();
            try {
                await fresh.goto(`${elderBase}/`);
                await fresh.waitForSelector('[data-connection="live"]');
                await sleep(1500);
                const shown = await chartSeconds(fresh, 'overview-memory-chart', 300);
                await fresh.screenshot({ path: join(out, 'history-on-open.png') });
                assert(shown >= HISTORY_SHOWN_SECONDS, `the memory chart shows ${shown.toFixed(0)} s`);
                // The span is chosen from the keyboard and kept for the next visit.
                await fresh.focus('#range input:checked');
                await fresh.keyboard.press('ArrowRight');
                await fresh.reload();
                await fresh.waitForSelector('[data-connection="live"]');
                const title = await fresh.textContent('#overview-title');
                assert(title === 'Last hour', `after choosing 1 hour and a reload the overview says "${title}"`);
                return `${shown.toFixed(0)} s of the memory chart drawn ` +
                    `${((Date.now() - elderStarted) / 1000).toFixed(0)} s after the monitor started`;
            } finally {
                await fresh.close();
            }
        });

        await check('no script errors on the page', async () => {
            const unexpected = problems.filter((p) => !/Failed to load resource|ERR_CONNECTION_REFUSED|ERR_EMPTY_RESPONSE/.test(p));
            assert(unexpected.length === 0, unexpected.join('\n'));
        });
    } finally {
        await context.close();
        await stopServer(server.child);
        await stopServer(elder.child);
        rmSync(profile, { recursive: true, force: true });
    }
    const failed = results.filter((r) => !r.ok).length;
    console.log(`${results.length - failed} passed, ${failed} failed`);
    process.exitCode = failed ? 1 : 0;
}

main().catch((error) => {
    console.error(error);
    process.exitCode = 1;
});
