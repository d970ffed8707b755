#!/usr/bin/env node
// The metrics endpoint against Debian's real Prometheus tools:
//   node tests/prometheus/run.mjs BUILD_DIR promtool     a real scrape passes `promtool check metrics`
//   node tests/prometheus/run.mjs BUILD_DIR prometheus   a real Prometheus, scraping every second,
//       sees a known amount of data arrive over a veth pair from a network namespace made here,
//       and a processor's busy ratio follow a load (needs root for the namespace: skipped
//       otherwise, and says so); and scrapes the program itself with TLS and a password
//       (basic_auth, and tls_config with the test's own authority), finding it up, while a job
//       without the password finds it down with 401.
// The server is the headless one the dashboard test uses; everything listens on loopback only,
// except the receiver of the test data, on the veth's own 198.18.0.0/15 address.

import { execFileSync, spawn } from 'node:child_process';
import { createSocket } from 'node:dgram';
import { existsSync, mkdtempSync, readFileSync, rmSync, writeFileSync } from 'node:fs';
import { createServer } from 'node:net';
import { tmpdir } from 'node:os';
import { dirname, join, resolve } from 'node:path';
import { fileURLToPath } from 'node:url';

const here = dirname(fileURLToPath(import.meta.url));
const repo = resolve(here, '..', '..');
const [buildDir, mode] = process.argv.slice(2);
if (!buildDir || !['promtool', 'prometheus'].includes(mode)) {
    console.error('usage: node tests/prometheus/run.mjs BUILD_DIR promtool|prometheus');
    process.exit(2);
}

const NAMESPACE = 'tvmet-ns';
const HOST_SIDE = 'tvmet0';
const NAMESPACE_SIDE = 'tvmet1';
const HOST_ADDRESS = '198.18.0.1';
const NAMESPACE_ADDRESS = '198.18.0.2';
// UDP datagrams of a fixed size, so that what crosses the link is known exactly: each one is
// the payload plus 8 bytes of UDP, 20 of IPv4 and 14 of Ethernet header.
const PAYLOAD = 1400;
const ON_WIRE = PAYLOAD + 8 + 20 + 14;
const DATAGRAMS = 15000;

const sleep = (ms) => new Promise((r) => setTimeout(r, ms));
const results = [];
function assert(condition, message) {
    if (!condition) throw new Error(message);
}
async function check(name, body) {
    try {
        const note = await body();
        results.push(true);
        console.log(`ok   ${name}${note ? ` (${note})` : ''}`);
    } catch (error) {
        results.push(false);
        console.log(`FAIL ${name}\n     ${error.stack || error}`);
    }
}

function freePort() {
    return new Promise((done, fail) => {
        const server = createServer();
        server.on('error', fail);
        server.listen(0, '127.0.0.1', () => {
            const { port } = server.address();
            server.close(() => done(port));
        });
    });
}

function startTarnivo() {
    const bench = join(resolve(buildDir), 'tarnivo_httpd_bench');
    assert(existsSync(bench), `${bench} not found: build the target tarnivo_httpd_bench first`);
    const child = spawn(bench, ['0', join(repo, 'content')], { stdio: ['ignore', 'pipe', 'inherit'] });
    return new Promise((done, fail) => {
        let seen = '';
        const timer = setTimeout(() => fail(new Error('the server did not start within 10 s')), 10000);
        child.stdout.on('data', (chunk) => {
            const match = /listening (\d+)/.exec((seen += chunk));
            if (match) {
                clearTimeout(timer);
                done({ child, port: Number(match[1]) });
            }
        });
        child.on('exit', (code) => fail(new Error(`the server ended early (exit ${code})`)));
    });
}

function run(command, args, input) {
    return execFileSync(command, args, { input, encoding: 'utf8', stdio: ['pipe', 'pipe', 'pipe'] });
}

async function promtool(base) {
    // Fills the device tables first, so that the info metrics carry the machine's real texts.
    await fetch(`${base}/menu.xml?strRequest=requestInit`);
    const scrape = await (await fetch(`${base}/metrics`)).text();
    await check('a real scrape passes promtool check metrics without a complaint', async () => {
        let said = '';
        try {
            said = run('promtool', ['check', 'metrics'], scrape);
        } catch (error) {
            said = `${error.stdout}${error.stderr}` || String(error);
        }
        assert(said.trim() === '', `promtool said:\n${said}`);
        const families = scrape.split('\n').filter((l) => l.startsWith('# TYPE ')).length;
        return `${families} families, ${scrape.length} bytes`;
    });
}

// --- Prometheus ---

// --- the program with TLS and a password, as an administrator would set it up ---

/**
 * An authority of the test's own, a certificate for 127.0.0.1 that it signed, a user for
 * Prometheus (htpasswd) and the machine-wide settings file that names them, in `dir`.
 */
function makeSecureSettings(dir) {
    const file = (name) => join(dir, name);
    const ec = ['-newkey', 'ec', '-pkeyopt', 'ec_paramgen_curve:prime256v1', '-nodes'];
    run('openssl', ['req', '-x509', ...ec, '-days', '2', '-subj', '/CN=Tarnivo test authority',
        '-keyout', file('ca.key'), '-out', file('ca.pem')]);
    run('openssl', ['req', ...ec, '-subj', '/CN=127.0.0.1', '-keyout', file('key.pem'), '-out', file('server.csr')]);
    writeFileSync(file('names.cnf'), 'subjectAltName=IP:127.0.0.1\n');
    run('openssl', ['x509', '-req', '-in', file('server.csr'), '-CA', file('ca.pem'), '-CAkey', file('ca.key'),
        '-CAcreateserial', '-days', '2', '-extfile', file('names.cnf'), '-out', file('certificate.pem')]);
    const user = run('htpasswd', ['-nbB', '-C', '5', 'prometheus', SCRAPE_PASSWORD]).trim();
    writeFileSync(file('tarnivo.ini'),
        `[web]\ncertificate=${file('certificate.pem')}\nkey=${file('key.pem')}\nusers=${user}\n`);
    return { ca: file('ca.pem'), settings: file('tarnivo.ini') };
}
const SCRAPE_PASSWORD = 'scrape-secret';

/** The program itself, without its window, with the given settings file. */
async function startProgram(settings, state) {
    const port = await freePort();
    const child = spawn(join(resolve(buildDir), 'tarnivo'), ['--headless', '--port', String(port),
        '--content', join(repo, 'content'), '--config', settings, '--state', state],
    { stdio: ['ignore', 'ignore', 'pipe'] });
    return new Promise((done, fail) => {
        let said = '';
        const timer = setTimeout(() => fail(new Error(`the program did not start within 10 s:\n${said}`)), 10000);
        child.stderr.on('data', (chunk) => {
            said += chunk;
            if (said.includes(`on port ${port}`)) {
                clearTimeout(timer);
                done({ child, port });
            }
        });
        child.on('exit', (code) => fail(new Error(`the program ended early (exit ${code}):\n${said}`)));
    });
}

/** Scrape jobs for the secure program: one with the password and the authority, one without the password. */
function secureJobs(target, ca) {
    const job = (name, auth) => [
        `  - job_name: ${name}`,
        '    scheme: https',
        '    tls_config:',
        `      ca_file: ${ca}`,
        ...(auth ? ['    basic_auth:', '      username: prometheus', `      password: ${SCRAPE_PASSWORD}`] : []),
        '    static_configs:',
        `      - targets: ['${target}']`,
    ];
    return [...job('tarnivo_secure', true), ...job('tarnivo_no_password', false)];
}

async function startPrometheus(target, storage, moreJobs = []) {
    const port = await freePort();
    const config = join(storage, 'prometheus.yml');
    writeFileSync(config, [
        'global:',
        '  scrape_interval: 1s',
        '  scrape_timeout: 900ms',
        'rule_files:',
        `  - ${join(repo, 'packaging/prometheus/tarnivo-rules.yml')}`,
        'scrape_configs:',
        '  - job_name: tarnivo',
        '    static_configs:',
        `      - targets: ['${target}']`,
        ...moreJobs,
        '',
    ].join('\n'));
    const child = spawn('prometheus', [`--config.file=${config}`, `--storage.tsdb.path=${join(storage, 'data')}`,
        `--web.listen-address=127.0.0.1:${port}`, '--log.level=warn'], { stdio: ['ignore', 'ignore', 'pipe'] });
    let log = '';
    child.stderr.on('data', (chunk) => { log += chunk; });
    const api = `http://127.0.0.1:${port}/api/v1`;
    for (let i = 0; i < 100; i++) {
        await sleep(200);
        assert(child.exitCode === null, `prometheus ended early:\n${log}`);
        try {
            if ((await fetch(`http://127.0.0.1:${port}/-/ready`)).ok) return { child, api, log: () => log };
        } catch {
            // Not listening yet.
        }
    }
    throw new Error(`prometheus was not ready within 20 s:\n${log}`);
}

async function query(api, expression, time) {
    const url = `${api}/query?query=${encodeURIComponent(expression)}${time ? `&time=${time}` : ''}`;
    const reply = await (await fetch(url)).json();
    assert(reply.status === 'success', `${expression}: ${JSON.stringify(reply)}`);
    return reply.data.result;
}

/** The raw samples Prometheus stored for one series over the last `seconds`: [[time, value]]. */
async function samples(api, selector, seconds) {
    const result = await query(api, `${selector}[${seconds}s]`);
    assert(result.length === 1, `${selector}: ${result.length} series`);
    return result[0].values.map(([t, v]) => [Number(t), Number(v)]);
}

/**
 * increase() over the span between two stored samples, asked at the later one: the window then
 * starts and ends on a sample, and Prometheus has nothing to extrapolate.
 */
async function increaseBetween(api, selector, from, to) {
    const ms = Math.round((to - from) * 1000);
    const result = await query(api, `increase(${selector}[${ms}ms])`, to.toFixed(3));
    assert(result.length === 1, `increase(${selector}): ${result.length} series`);
    return Number(result[0].value[1]);
}

async function waitForScrapes(api, selector, count) {
    for (let i = 0; i < 60; i++) {
        const result = await query(api, `count_over_time(${selector}[1m])`);
        if (result.length === 1 && Number(result[0].value[1]) >= count) return;
        await sleep(500);
    }
    throw new Error(`Prometheus did not scrape ${selector} ${count} times within 30 s`);
}

function netns(...args) {
    return run('ip', ['netns', 'exec', NAMESPACE, ...args]);
}

function makeLink() {
    removeLink();
    run('ip', ['netns', 'add', NAMESPACE]);
    run('ip', ['link', 'add', HOST_SIDE, 'type', 'veth', 'peer', 'name', NAMESPACE_SIDE, 'netns', NAMESPACE]);
    // No IPv6 chatter (router and neighbour solicitations) on the link being measured.
    run('sysctl', ['-q', '-w', `net.ipv6.conf.${HOST_SIDE}.disable_ipv6=1`]);
    netns('sysctl', '-q', '-w', `net.ipv6.conf.${NAMESPACE_SIDE}.disable_ipv6=1`);
    run('ip', ['addr', 'add', `${HOST_ADDRESS}/30`, 'dev', HOST_SIDE]);
    run('ip', ['link', 'set', HOST_SIDE, 'up']);
    netns('ip', 'addr', 'add', `${NAMESPACE_ADDRESS}/30`, 'dev', NAMESPACE_SIDE);
    netns('ip', 'link', 'set', NAMESPACE_SIDE, 'up');
}

function removeLink() {
    try {
        run('ip', ['netns', 'del', NAMESPACE]); // takes the veth pair with it
    } catch {
        // Not there.
    }
}

/** Sends DATAGRAMS datagrams from inside the namespace to the receiver; resolves when done. */
function sendFromNamespace(port) {
    const sender = `
        const s = require('node:dgram').createSocket('udp4');
        const payload = Buffer.alloc(${PAYLOAD}, 7);
        let sent = 0;
        const burst = () => {
            for (let i = 0; i < 50 && sent < ${DATAGRAMS}; i++, sent++) s.send(payload, ${port}, '${HOST_ADDRESS}');
            if (sent < ${DATAGRAMS}) setTimeout(burst, 5); else setTimeout(() => s.close(), 200);
        };
        burst();`;
    return new Promise((done, fail) => {
        const child = spawn('ip', ['netns', 'exec', NAMESPACE, process.execPath, '-e', sender], { stdio: 'inherit' });
        child.on('exit', (code) => (code === 0 ? done() : fail(new Error(`the sender ended with ${code}`))));
    });
}

function hostReceivedBytes() {
    return Number(readFileSync(`/sys/class/net/${HOST_SIDE}/statistics/rx_bytes`, 'utf8'));
}

async function prometheusChecks(target) {
    if (process.getuid() !== 0) {
        console.log('SKIPPED: the Prometheus end-to-end test makes a network namespace and needs root');
        return;
    }
    const storage = mkdtempSync(join(tmpdir(), 'tarnivo-prometheus-'));
    let prometheus = null;
    let secure = null;
    try {
        makeLink();
        const { ca, settings } = makeSecureSettings(storage);
        secure = await startProgram(settings, join(storage, 'state'));
        prometheus = await startPrometheus(target, storage, secureJobs(`127.0.0.1:${secure.port}`, ca));
        const { api } = prometheus;

        await check('a scrape with TLS and the password finds the program up; one without the password finds it down with 401', async () => {
            let targets = [];
            for (let i = 0; i < 40; i++) {
                const reply = await (await fetch(`${api}/targets?state=active`)).json();
                targets = reply.data.activeTargets.filter((t) => t.labels.job !== 'tarnivo');
                if (targets.length === 2 && targets.every((t) => t.health !== 'unknown')) break;
                await sleep(500);
            }
            const health = Object.fromEntries(targets.map((t) => [t.labels.job, t]));
            const summary = JSON.stringify(targets.map((t) => [t.labels.job, t.health, t.lastError]));
            assert(health.tarnivo_secure?.health === 'up', summary);
            assert(health.tarnivo_no_password?.health === 'down' &&
                /401/.test(health.tarnivo_no_password.lastError), summary);
            const built = await query(api, 'tarnivo_build_info{job="tarnivo_secure"}');
            assert(built.length === 1, `tarnivo_build_info: ${JSON.stringify(built)}`);
            return health.tarnivo_no_password.lastError;
        });
        const received = `tarnivo_network_receive_bytes_total{job="tarnivo",adapter="${HOST_SIDE}"}`;

        await check('Prometheus scrapes the server every second', async () => {
            await waitForScrapes(api, received, 3);
            const up = await query(api, 'up{job="tarnivo"}');
            assert(up.length === 1 && up[0].value[1] === '1', `up is ${JSON.stringify(up)}`);
        });

        await check('increase() of the adapter\'s received bytes agrees with what was sent', async () => {
            const receiver = createSocket('udp4');
            let arrived = 0;
            receiver.on('message', () => { arrived++; });
            await new Promise((done) => receiver.bind(0, HOST_ADDRESS, done));
            try {
                const kernelBefore = hostReceivedBytes();
                await sleep(1500);
                const started = Date.now() / 1000;
                await sendFromNamespace(receiver.address().port);
                const kernelAfter = hostReceivedBytes();
                // Two more scrapes, so that the series shows the whole transfer.
                await sleep(2500);
                const stored = await samples(api, received, 30);
                const before = stored.filter(([t]) => t < started).at(-1);
                const after = stored.at(-1);
                assert(before && after && after[0] > before[0], `samples: ${JSON.stringify(stored)}`);
                const increase = await increaseBetween(api, received, before[0], after[0]);
                const sent = DATAGRAMS * ON_WIRE;
                const deviation = Math.abs(increase - sent) / sent;
                const note = `sent ${sent} bytes in ${DATAGRAMS} datagrams, increase() ${increase}, ` +
                    `kernel counted ${kernelAfter - kernelBefore}, ${arrived} datagrams arrived, ` +
                    `off by ${(deviation * 100).toFixed(3)} %`;
                assert(deviation <= 0.02, note);
                return note;
            } finally {
                receiver.close();
            }
        });

        await check('a processor\'s busy ratio follows a load', async () => {
            const cpus = await query(api, 'tarnivo_cpu_busy_seconds_total{job="tarnivo"}');
            const cpu = String(cpus.length - 1);
            const ratio = `rate(tarnivo_cpu_busy_seconds_total{job="tarnivo",cpu="${cpu}"}[3s])`;
            const ratioNow = async () => Number((await query(api, ratio))[0]?.value[1]);
            const quiet = await ratioNow();
            // Pinned to the last processor: it is then busy all the time, whoever else runs there.
            const load = spawn('taskset', ['-c', cpu, process.execPath, '-e', 'for (;;) {}'], { stdio: 'ignore' });
            try {
                await sleep(5000);
                const loaded = await ratioNow();
                const note = `cpu ${cpu}: ${quiet.toFixed(2)} before, ${loaded.toFixed(2)} under load`;
                assert(loaded >= 0.9, note);
                return note;
            } finally {
                load.kill();
            }
        });

        await check('every query of the Grafana dashboard runs on the scraped monitor, and the rule file loads', async () => {
            const dashboard = JSON.parse(readFileSync(join(repo, 'packaging/grafana/tarnivo.json'), 'utf8'));
            const targets = dashboard.panels.flatMap((p) => p.targets.map((t) => [p.title, t.expr]));
            // What a machine may lack (no alert firing, no disk or drive health in a container).
            const mayBeEmpty = /tarnivo_alert_active|tarnivo_disk_|tarnivo_volume_|speed_bytes/;
            for (const [title, expr] of targets) {
                const result = await query(api, expr.replaceAll('$instance', target).replaceAll('$__rate_interval', '1m'));
                assert(result.length > 0 || mayBeEmpty.test(expr), `${title}: ${expr} gave nothing`);
            }
            const groups = (await (await fetch(`${api}/rules`)).json()).data.groups;
            const rules = groups.flatMap((g) => g.rules);
            assert(rules.length === 9 && rules.every((r) => r.health !== 'err'), JSON.stringify(rules.map((r) => [r.name, r.health, r.lastError])));
            return `${targets.length} queries, ${rules.length} rules`;
        });
    } finally {
        if (prometheus) prometheus.child.kill();
        if (secure) secure.child.kill();
        removeLink();
        rmSync(storage, { recursive: true, force: true });
    }
}

async function main() {
    const server = await startTarnivo();
    try {
        if (mode === 'promtool') await promtool(`http://127.0.0.1:${server.port}`);
        else await prometheusChecks(`127.0.0.1:${server.port}`);
    } finally {
        server.child.kill();
    }
    const failed = results.filter((ok) => !ok).length;
    console.log(`${results.length - failed} passed, ${failed} failed`);
    process.exitCode = failed ? 1 : 0;
}

main().catch((error) => {
    console.error(error);
    removeLink();
    process.exitCode = 1;
});
