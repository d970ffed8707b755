import assert from 'node:assert/strict';
import { test } from 'node:test';

import { summaryCells } from '../../content/src/fleet.js';
import { describeHost, formatUptime } from '../../content/src/host.js';

test('time up is said in its largest whole unit', () => {
    const table = [
        [0, 'up less than a minute'],
        [59, 'up less than a minute'],
        [60, 'up 1 minute'],
        [3599, 'up 59 minutes'],
        [3600, 'up 1 hour'],
        [86399, 'up 23 hours'],
        [86400, 'up 1 day'],
        [3 * 86400 + 5 * 3600, 'up 3 days'],
        [null, '–'],
        [-5, '–'],
        [Number.NaN, '–'],
    ];
    for (const [seconds, words] of table) assert.equal(formatUptime(seconds), words, String(seconds));
});

const host = {
    hostname: 'ws-0815', os: 'Debian GNU/Linux 12 (bookworm)', version: '6.1.0-18-amd64',
    bootTime: 1733550000, upSeconds: 2 * 86400 + 60, userCount: 2, rebootRequired: true,
    rebootReasons: ['/run/reboot-required', 'libc6'],
    services: { read: true, stopped: [{ name: 'wuauserv', displayName: 'Windows Update', state: 'stopped' },
        { name: 'bk', displayName: '', state: 'stop pending' }] },
    users: [{ user: 'anna', state: 'active', where: 'seat0' }, { user: 'bert', state: 'online', where: '' },
        { user: 'anna', state: 'online', where: 'pts/1' }],
};

test('the page names the machine, its system, time up, people and owed restart', () => {
    const shown = describeHost(host, '10.0.3.17:8080');
    assert.equal(shown.title, 'Tarnivo · ws-0815');
    assert.equal(shown.system, 'Debian GNU/Linux 12 (bookworm) · 6.1.0-18-amd64');
    assert.equal(shown.up, 'up 2 days');
    assert.equal(shown.since.getTime(), 1733550000000);
    assert.equal(shown.users, '2 people signed in: anna (active, seat0), bert (online), anna (online, pts/1)');
    assert.deepEqual(shown.reboot, { words: 'Restart required', title: 'Asked for by: /run/reboot-required, libc6' });
    assert.deepEqual(shown.services, { level: 'warn', title: '',
        words: '2 automatic services not running: Windows Update (stopped), bk (stop pending)' });
});

test('a machine that gives no name is called by its address, and owes nothing unsaid', () => {
    const shown = describeHost({ hostname: '', users: [], rebootRequired: false }, '10.0.3.17:8080');
    assert.equal(shown.name, '10.0.3.17:8080');
    assert.equal(shown.users, 'Nobody signed in');
    assert.equal(shown.reboot, null);
    assert.equal(shown.up, '–');
    assert.deepEqual(shown.services, { level: 'none', words: 'Services not checked', title: '' });
    const why = { read: false, why: 'not read on Linux', stopped: [] };
    assert.equal(describeHost({ services: why }, 'a').services.title, 'not read on Linux');
    const none = { read: true, stopped: [] };
    assert.equal(describeHost({ os: 'Windows 10 Pro', services: none }, 'a').services.words, 'Automatic services running');
    assert.equal(describeHost({ os: 'Debian GNU/Linux 12', services: none }, 'a').services.words, 'No failed units');
    const failed = { read: true, stopped: [{ name: 'backup.service', displayName: 'Nightly backup', state: 'failed' }] };
    assert.equal(describeHost({ services: failed }, 'a').services.words, '1 failed unit: Nightly backup (failed)');
});

test('the machines panel names each machine and marks an owed restart beside its figures', () => {
    const calm = { processor: 10, memory: 20, volume: null };
    const table = [
        [{ ...calm, host }, 'warn', 'Restart required; 2 automatic services not running', 'ws-0815'],
        // Marked by what the machine's own monitor says fires, never by the figures.
        [{ ...calm, memory: 95, alerts: [{ severity: 'warning', words: 'Nearly full' }], host: { ...host, services: { read: false } } },
            'warn', 'Nearly full; Restart required', 'ws-0815'],
        [{ ...calm, volume: { volume: '/', used: 97, free: 3 }, alerts: [{ severity: 'critical', words: 'Almost full' }],
            host: { ...host, services: undefined } }, 'alert', 'Almost full; Restart required', 'ws-0815'],
        [{ ...calm, host: { ...host, rebootRequired: false, services: { read: true, stopped: [] } } }, 'ok', 'OK', 'ws-0815'],
        // A monitor of an earlier version sends no host.
        [calm, 'ok', 'OK', ''],
    ];
    for (const [summary, level, words, name] of table) {
        const cells = summaryCells(summary);
        assert.deepEqual([cells.level, cells.words, cells.name], [level, words, name]);
    }
});
