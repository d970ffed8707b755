import assert from 'node:assert/strict';
import { test } from 'node:test';

import { LOOK_URL, PEER_TIMINGS, PEERS_URL, PeersPanel, dashboardLink, peerView } from '../../content/src/peers.js';

const flush = () => new Promise((resolve) => setImmediate(resolve));

// A manual clock, and a server whose answers the test gives one by one, oldest request first
// unless it says otherwise.
function harness() {
    const timers = [];
    const h = {
        now: 0,
        requests: [],
        views: [],
        looking: [],
        clock: {
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
        async answer(doc, request = h.requests.find((r) => !r.done)) {
            request.done = true;
            request.resolve(doc);
            await flush();
        },
        urls: () => h.requests.map((r) => r.url),
    };
    h.panel = new PeersPanel({
        fetchJson: (url) => new Promise((resolve) => h.requests.push({ url, resolve })),
        clock: h.clock,
        onView: (view) => h.views.push(view),
        onLooking: (on) => h.looking.push(on),
    });
    return h;
}

const peer = (address, port, extra = {}) => ({ address, port, version: '1.1', thisMachine: false, ...extra });

test('each peer links to its dashboard only when its monitor runs at a plain address', () => {
    const view = peerView({
        running: true,
        lastLook: '2026-01-01T10:00:00.000Z',
        peers: [
            peer('198.18.0.1', 8081, { thisMachine: true }),
            peer('198.18.0.2', 80, { version: '2.0', lastHeard: '2026-01-01T10:00:00.010Z' }),
            peer('198.18.0.3', 0),
            peer('198.18.0.4', null, { version: null }),
        ],
    });
    assert.deepEqual(view.rows.map((r) => r.href),
        ['http://198.18.0.1:8081/', 'http://198.18.0.2/', null, null]);
    assert.deepEqual(view.rows.map((r) => r.version), ['1.1', '2.0', '1.1', null]);
    assert.equal(view.others, 3);
    assert.equal(view.answered, 1, 'the others were heard before the last look');
    assert.equal(view.looked, true);
    assert.equal(dashboardLink('198.18.0.300', 80), null);
    assert.equal(dashboardLink('evil.example/x?', 80), null);
});

test('opening the panel shows what is known without looking; closing it stays quiet', async () => {
    const h = harness();
    h.panel.setOpen(true);
    await h.answer({ peers: [] });
    await h.advance(10 * PEER_TIMINGS.autoLook);
    assert.deepEqual(h.urls(), [PEERS_URL]);
    h.panel.setOpen(false);
    h.panel.setAuto(true);
    await h.advance(10 * PEER_TIMINGS.autoLook);
    assert.deepEqual(h.urls(), [PEERS_URL], 'switched on, but the panel is closed');
});

test('switched on, an open panel looks at once and every 30 seconds, and reads the answers after each look', async () => {
    const h = harness();
    h.panel.setAuto(true);
    h.panel.setOpen(true);
    assert.deepEqual(h.urls(), [LOOK_URL]);
    await h.answer({ peers: [] });
    await h.advance(PEER_TIMINGS.afterLook);
    await h.answer({ peers: [peer('198.18.0.2', 8082)] });
    assert.deepEqual(h.urls(), [LOOK_URL, PEERS_URL]);
    assert.equal(h.views.at(-1).rows.length, 1);
    assert.deepEqual(h.looking, [true, false]);
    await h.advance(PEER_TIMINGS.autoLook - PEER_TIMINGS.afterLook);
    assert.deepEqual(h.urls(), [LOOK_URL, PEERS_URL, LOOK_URL]);
    h.panel.setAuto(false);
    await h.advance(5 * PEER_TIMINGS.autoLook);
    assert.equal(h.urls().filter((u) => u === LOOK_URL).length, 2);
});

test('an older answer that arrives late is not shown over a newer one', async () => {
    const h = harness();
    h.panel.setOpen(true);
    h.panel.look();
    const [read, look] = h.requests;
    await h.answer({ lastLook: '2026-01-01T10:00:00.000Z', peers: [peer('198.18.0.2', 1)] }, look);
    await h.answer({ lastLook: null, peers: [] }, read);
    assert.equal(h.views.length, 1);
    assert.equal(h.views[0].looked, true);
});
