#!/usr/bin/env node
// The checks of tests/e2e/discovery.sh, run inside the first of its namespaces, where three
// monitors on one network answer at 198.18.0.1:8081, 198.18.0.2:8082 and 198.18.0.3:8083, and
// a lone one, alone on its network, at 198.18.2.2:8084 (process ids in TARNIVO_PEER_PIDS, in
// that order). With --docs the panel's screenshot also goes to docs/peers-panel.png.

import { copyFileSync, mkdirSync, mkdtempSync, rmSync } from 'node:fs';
import { hostname, tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

import { chromium } from 'playwright-core';

const here = dirname(fileURLToPath(import.meta.url));
const repo = resolve(here, '..', '..');
const out = join(here, 'out');
const docs = process.argv.includes('--docs');
const monitors = [
    { address: '198.18.0.1', port: 8081 },
    { address: '198.18.0.2', port: 8082 },
    { address: '198.18.0.3', port: 8083 },
].map((m) => ({ ...m, base: `http://${m.address}:${m.port}` }));
const lone = { address: '198.18.1.1', base: 'http://198.18.2.2:8084' };
const pids = (process.env.TARNIVO_PEER_PIDS || '').split(' ').map(Number);
const [first, second, third] = monitors;
// Rounds start at most once in this time, and a round's answers are in within a second.
const ROUND_GAP_MS = 5000;
const ANSWER_WAIT_MS = 1000;

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const json = async (url) => (await fetch(url, { cache: 'no-store' })).json();

function assert(condition, message) {
    if (!condition) throw new Error(message);
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
        console.log(`FAIL ${name}\n     ${error.stack || error}\n     cause: ${error.cause && (error.cause.stack || error.cause)}`);
    }
}

const listed = (doc, monitor) => doc.peers.find((p) => p.address === monitor.address);

/** Asks for a round, retrying while the last one is younger than the gap; its start time. */
async function round(monitor) {
    const before = (await json(`${monitor.base}/peers.json`)).lastLook;
    for (;;) {
        const doc = await json(`${monitor.base}/peers.json?strRequest=requestLook`);
        if (doc.lastLook !== before) return Date.parse(doc.lastLook);
        await sleep(200);
    }
}

async function main() {
    mkdirSync(out, { recursive: true });

    await check('nobody looks until asked', async () => {
        for (const monitor of monitors) {
            const doc = await json(`${monitor.base}/peers.json`);
            assert(doc.running === true && doc.lastLook === null && doc.peers.length === 0,
                `${monitor.address} has looked on its own: ${JSON.stringify(doc)}`);
        }
    });

    await check('asked for a round, a monitor lists the other two with their ports within 5 s', async () => {
        const started = Date.now();
        await json(`${first.base}/peers.json?strRequest=requestLook`);
        let doc;
        for (;;) {
            doc = await json(`${first.base}/peers.json`);
            const found = [second, third].every((m) => listed(doc, m)?.port === m.port && listed(doc, m)?.version === '1.1');
            if (found && listed(doc, first)?.thisMachine) break;
            assert(Date.now() - started < 5000, `after 5 s: ${JSON.stringify(doc.peers)}`);
            await sleep(50);
        }
        assert(!listed(doc, second).thisMachine && !listed(doc, third).thisMachine, 'another machine is marked as this one');
        // The others answered, but only the one asked looked: their lists stay empty.
        assert((await json(`${second.base}/peers.json`)).peers.length === 0, 'the second monitor recorded requests');
        return `all three listed after ${Date.now() - started} ms`;
    });

    await check('sd.json gives Prometheus every workstation, this one included', async () => {
        const groups = await json(`${second.base}/sd.json`);
        const targets = groups.flatMap((g) => g.targets).sort();
        assert(JSON.stringify(targets) === JSON.stringify(monitors.map((m) => `${m.address}:${m.port}`)),
            `targets ${JSON.stringify(targets)}`);
        assert(groups.every((g) => g.labels.__meta_tarnivo_version === '1.1'), JSON.stringify(groups));
        // The namespaces share this machine's name: every target carries it, for relabelling
        // and as a label of its series.
        assert(groups.every((g) => g.labels.hostname === hostname() && g.labels.__meta_tarnivo_hostname === hostname()),
            JSON.stringify(groups));
    });

    await check('beside a bridge without carrier this machine is listed once, and sd.json names it where asked', async () => {
        const own = (await json(`${first.base}/peers.json`)).peers.filter((p) => p.thisMachine).map((p) => p.address);
        assert(JSON.stringify(own) === JSON.stringify([first.address]), `this machine listed as ${JSON.stringify(own)}`);
        const targets = (await json(`${first.base}/sd.json`)).flatMap((g) => g.targets).sort();
        assert(JSON.stringify(targets) === JSON.stringify(monitors.map((m) => `${m.address}:${m.port}`)),
            `targets ${JSON.stringify(targets)}`);
    });

    const profile = mkdtempSync(join(tmpdir(), 'tarnivo-peers-'));
    const context = await chromium.launchPersistentContext(profile, {
        executablePath: '/usr/bin/chromium',
        args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking',
            '--disable-component-update', '--disable-sync'],
        headless: true,
        viewport: { width: 1280, height: 900 },
        colorScheme: 'light',
    });
    const problems = [];
    context.on('weberror', (e) => problems.push(e.error().message));
    const page = context.pages()[0] ?? (await context.newPage());

    await check('alone on its network, a monitor says plainly that no other answered', async () => {
        await page.goto(`${lone.base}/`, { waitUntil: 'load' });
        await page.click('#peers-panel summary');
        await page.waitForSelector('#peers-empty:has-text("Nobody has looked yet")');
        await page.click('#peers-look');
        await page.waitForSelector('#peers-empty:has-text("No other Tarnivo answered on this network")', { timeout: 5000 });
        await page.waitForSelector(`#peers-list tr[data-peer="${lone.address}"]:has-text("this machine")`);
        await page.waitForSelector('#peers-look[aria-disabled="false"]');
        await page.locator('section.peers').screenshot({ path: join(out, 'peers-empty.png') });
    });

    await check('the dashboard panel lists the machines, with links to their dashboards', async () => {
        try {
            await page.goto(`${first.base}/`, { waitUntil: 'load' });
            await page.click('#peers-panel summary');
            // A fresh look from the button, once the last round is old enough for one.
            await sleep(ROUND_GAP_MS);
            await page.click('#peers-look');
            // The line counts only machines heard since that look.
            await page.waitForFunction(() => /2 other machines answered\.$/.test(document.getElementById('peers-state').textContent),
                null, { timeout: 5000 });
            await page.waitForSelector('#peers-look[aria-disabled="false"]');
            const rows = await page.$$eval('#peers-list tr', (trs) => trs.map((tr) => ({
                address: tr.dataset.peer,
                text: tr.textContent,
                href: tr.querySelector('a')?.getAttribute('href') ?? null,
            })));
            assert(rows.length === 3, `rows ${JSON.stringify(rows)}`);
            assert(rows[0].address === first.address && /this machine/.test(rows[0].text), `first row ${JSON.stringify(rows[0])}`);
            for (const m of [second, third]) {
                const row = rows.find((r) => r.address === m.address);
                assert(row?.href === `${m.base}/` && /1\.1/.test(row.text), `row of ${m.address}: ${JSON.stringify(row)}`);
            }
            assert(await page.isHidden('#peers-empty'), 'the empty state shows beside peers');
            // Each machine's summary, fetched by this monitor from the others while the panel is open.
            await page.waitForFunction(() => [...document.querySelectorAll('#peers-list tr')].every((tr) =>
                /^\d+\.\d %$/.test(tr.querySelector('.fleet-processor').textContent) &&
                /^\d+\.\d %$/.test(tr.querySelector('.fleet-memory').textContent) &&
                /% used$/.test(tr.querySelector('.fleet-volume').textContent) &&
                ['ok', 'warn', 'alert'].includes(tr.querySelector('.fleet-status').dataset.level)), null, { timeout: 8000 });
            const summaries = await page.$$eval('#peers-list tr', (trs) => trs.map((tr) =>
                [...tr.querySelectorAll('[class^="fleet-"]')].map((td) => td.textContent).join(' | ')));
            await page.waitForSelector('[data-connection="live"]', { timeout: 10000 });
            const shot = join(out, 'peers-panel.png');
            await page.locator('section.peers').screenshot({ path: shot });
            if (docs) {
                mkdirSync(join(repo, 'docs'), { recursive: true });
                copyFileSync(shot, join(repo, 'docs', 'peers-panel.png'));
            }
            await page.setViewportSize({ width: 390, height: 844 });
            const overflow = await page.evaluate(() => document.documentElement.scrollWidth - window.innerWidth);
            assert(overflow <= 0, `the phone layout is ${overflow} px wider than the screen`);
            assert(problems.length === 0, problems.join('\n'));
            return `summaries: ${summaries.join('; ')}; screenshot ${shot}`;
        } finally {
            await context.close();
            rmSync(profile, { recursive: true, force: true });
        }
    });

    await check('a monitor that stops disappears within three rounds, the others stay', async () => {
        process.kill(pids[2], 'SIGTERM');
        // Still listed, it no longer answers for its summary.
        await sleep(2500);
        const fleet = await json(`${first.base}/fleet.json`);
        const silent = fleet.machines.find((m) => m.address === third.address);
        assert(silent && silent.summary === null, `the stopped monitor in /fleet.json: ${JSON.stringify(silent)}`);
        assert(fleet.machines.find((m) => m.address === second.address)?.summary, 'the second monitor gave no summary');
        const seen = [];
        for (let n = 1; n <= 3; n++) {
            const at = await round(first);
            await sleep(Math.max(0, at + ANSWER_WAIT_MS + 200 - Date.now()));
            const doc = await json(`${first.base}/peers.json`);
            assert(listed(doc, second), `the second monitor went missing after round ${n}`);
            seen.push(Boolean(listed(doc, third)));
            if (!listed(doc, third)) return `gone after round ${n}; listed after each: ${seen.join(', ')}`;
        }
        throw new Error('still listed after three rounds');
    });

    const failed = results.filter((r) => !r.ok).length;
    console.log(`${results.length - failed} passed, ${failed} failed`);
    process.exitCode = failed ? 1 : 0;
}

main().catch((error) => {
    console.error(error);
    process.exitCode = 1;
});
