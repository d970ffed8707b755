import assert from 'node:assert/strict';
import { test } from 'node:test';

import { INIT_URL, READ_URL, StatusPoller, TIMINGS } from '../../content/src/monitor.js';

// Documents are handed to the poller as already-parsed objects: this stand-in for a DOM
// serves whatever record list the test put in the "text".
function parseXml(text) {
    const records = JSON.parse(text);
    const node = (nodeName, children = [], textContent = '') => ({ nodeName, children, textContent });
    const root = node('xml', records.map(([kind, fields]) =>
        node(kind, Object.entries(fields).map(([name, value]) => node(name, [], String(value))))));
    return { documentElement: root, getElementsByTagName: () => [] };
}

const cpu = (ident, usage) => ['Processor', { strIdent: ident, intCore: 0, strName: 'C', strFamily: 'F', intUsage: usage }];
const disk = (ident) => ['Storage', { strIdent: ident, strModel: 'D' }];
const doc = (...records) => JSON.stringify(records);

// A manual clock and a server whose answers the test queues; fetches that find no answer
// queued stay pending until the test settles them.
function harness() {
    const timers = [];
    const h = {
        now: 0,
        requests: [],
        statuses: [],
        states: [],
        problems: [],
        clock: {
            now: () => h.now,
            setTimeout: (fn, ms) => {
                const timer = { at: h.now + ms, fn, live: true };
                timers.push(timer);
                return timer;
            },
            clearTimeout: (timer) => {
                if (timer) timer.live = false;
            },
        },
        async advance(ms) {
            const until = h.now + ms;
            for (;;) {
                const due = timers.filter((t) => t.live && t.at <= until).sort((a, b) => a.at - b.at)[0];
                if (!due) break;
                due.live = false;
                h.now = due.at;
                due.fn();
                await flush();
            }
            h.now = until;
            await flush();
        },
        fetchText(url, signal) {
            return new Promise((resolve, reject) => {
                const request = { url, resolve, reject };
                h.requests.push(request);
                signal.addEventListener('abort', () => reject(new Error('timed out')));
            });
        },
        async answer(text) {
            h.requests.at(-1).resolve(text);
            await flush();
        },
        async refuse() {
            h.requests.at(-1).reject(new Error('connection refused'));
            await flush();
        },
    };
    h.poller = new StatusPoller({
        fetchText: h.fetchText,
        parseXml,
        clock: h.clock,
        onStatus: (status, info) => h.statuses.push({ status, ...info }),
        onConnection: ({ state }) => h.states.push(state),
        onProblem: (error) => h.problems.push(error),
    });
    return h;
}

const flush = () => new Promise((resolve) => setImmediate(resolve));

test('a page that finds the tables filled only reads, so other viewers keep their figures', async () => {
    const h = harness();
    h.poller.start();
    await h.answer(doc(cpu('c1', 5)));
    await h.advance(TIMINGS.interval);
    await h.answer(doc(cpu('c1', 6)));
    assert.deepEqual(h.requests.map((r) => r.url), [READ_URL, READ_URL]);
    assert.deepEqual(h.statuses.map((s) => s.status.Processor[0].intUsage), [5, 6]);
    assert.deepEqual(h.states, ['connecting', 'live']);
    h.poller.stop();
});

test('every read asks for the memory of the moment and the whole link speeds', () => {
    for (const url of [READ_URL, INIT_URL]) {
        const words = new URL(url, 'http://monitor').searchParams.get('strRequest').split(':');
        assert.deepEqual(words.slice(-3), ['requestRead', 'requestMemory', 'requestSpeed']);
    }
});

test('empty tables are filled once, and not again while they stay empty', async () => {
    const h = harness();
    h.poller.start();
    await h.answer(doc());
    assert.equal(h.requests.at(-1).url, INIT_URL);
    assert.equal(h.statuses.length, 0);
    await h.answer(doc());
    assert.equal(h.statuses.at(-1).rebuilt, true);
    const inits = () => h.requests.filter((r) => r.url === INIT_URL).length;
    const readsInPause = TIMINGS.initPause / TIMINGS.interval;
    for (let i = 1; i < readsInPause; i++) {
        await h.advance(TIMINGS.interval);
        await h.answer(doc());
    }
    assert.equal(inits(), 1);
    assert.equal(h.statuses.length, readsInPause, 'the empty tables are shown as such');
    await h.advance(TIMINGS.interval);
    await h.answer(doc());
    assert.equal(inits(), 2, 'tried again after the pause');
    h.poller.stop();
});

test('rescan asks for a rebuild with the next request, and reads follow', async () => {
    const h = harness();
    h.poller.start();
    await h.answer(doc(cpu('c1', 5)));
    h.poller.rescan();
    assert.equal(h.requests.at(-1).url, INIT_URL, 'without waiting for the next second');
    await h.answer(doc(cpu('c9', 0)));
    assert.equal(h.statuses.at(-1).rebuilt, true);
    await h.advance(TIMINGS.interval);
    assert.equal(h.requests.at(-1).url, READ_URL);
    h.poller.stop();
});

test('a server that stops answering is reported down, retried, and picked up again', async () => {
    const h = harness();
    h.poller.start();
    await h.answer(doc(cpu('c1', 5)));
    await h.advance(TIMINGS.interval);
    await h.refuse();
    assert.equal(h.states.at(-1), 'down');
    const before = h.requests.length;
    await h.advance(TIMINGS.retry - 1);
    assert.equal(h.requests.length, before, 'no hammering before the retry time');
    await h.advance(1);
    await h.refuse();
    await h.advance(TIMINGS.retry);
    await h.answer(doc(cpu('c1', 7)));
    assert.deepEqual(h.states, ['connecting', 'live', 'down', 'live']);
    assert.equal(h.statuses.at(-1).status.Processor[0].intUsage, 7);
    h.poller.stop();
});

test('a read that hangs is given up after the timeout, a slow rebuild is given longer', async () => {
    const h = harness();
    h.poller.start();
    await h.advance(TIMINGS.timeout);
    assert.equal(h.states.at(-1), 'down');
    await h.advance(TIMINGS.retry);
    assert.equal(h.requests.length, 2);
    await h.answer(doc(cpu('c1', 5)));
    h.poller.rescan();
    await h.advance(TIMINGS.timeout);
    assert.equal(h.states.at(-1), 'live', 'still waiting for the rebuild');
    await h.advance(TIMINGS.initTimeout - TIMINGS.timeout);
    assert.equal(h.states.at(-1), 'down');
    h.poller.stop();
});

test('a rescan asked for while the server is down happens once it is back', async () => {
    const h = harness();
    h.poller.start();
    await h.answer(doc(cpu('c1', 5)));
    await h.advance(TIMINGS.interval);
    await h.refuse();
    h.poller.rescan();
    await h.refuse();
    await h.advance(TIMINGS.retry);
    assert.equal(h.requests.at(-1).url, INIT_URL);
    h.poller.stop();
});

test('a table seen empty between another viewer\'s clear and fill is held, then believed', async () => {
    const h = harness();
    h.poller.start();
    await h.answer(doc(cpu('c1', 5), disk('d1')));
    for (let i = 0; i < 3; i++) {
        await h.advance(TIMINGS.interval);
        await h.answer(doc(disk('d1')));
    }
    const [first, second, third] = h.statuses.slice(1);
    assert.deepEqual(first.held, ['Processor']);
    assert.equal(first.status.Processor[0].strIdent, 'c1');
    assert.deepEqual(second.held, ['Processor']);
    assert.deepEqual(third.held, []);
    assert.equal(third.status.Processor.length, 0);
    h.poller.stop();
});

test('an unreadable document is reported while polling goes on', async () => {
    const h = harness();
    h.poller.start();
    await h.answer('not json, not a document');
    assert.ok(h.problems.at(-1) instanceof Error);
    assert.equal(h.statuses.length, 0);
    await h.advance(TIMINGS.interval);
    await h.answer(doc(cpu('c1', 5)));
    assert.equal(h.problems.at(-1), null);
    h.poller.stop();
});

test('a server that comes back as a new process with empty tables is filled again', async () => {
    const h = harness();
    h.poller.start();
    await h.answer(doc());
    await h.answer(doc(cpu('c1', 5)));
    await h.advance(TIMINGS.interval);
    await h.refuse();
    await h.advance(TIMINGS.retry);
    await h.answer(doc());
    assert.equal(h.requests.at(-1).url, INIT_URL);
    await h.answer(doc(cpu('c2', 0)));
    assert.equal(h.statuses.at(-1).status.Processor[0].strIdent, 'c2');
    h.poller.stop();
});
