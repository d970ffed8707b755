import assert from 'node:assert/strict';
import { test } from 'node:test';

import { processRows } from '../../content/src/processes.js';
import { linkLevel, memoryLevel, SustainedLoad, volumeLevel, worst } from '../../content/src/thresholds.js';
import { describeVolumes, diskNames, fullest } from '../../content/src/volumes.js';

test('each limit is met at its figure, not just past it, and says why in words', () => {
    const cases = [
        [memoryLevel(89.9), 'ok'], [memoryLevel(90), 'warn'], [memoryLevel(null), 'ok'],
        [linkLevel(79.9), 'ok'], [linkLevel(80), 'warn'], [linkLevel(null), 'ok'],
        // Free share: amber below 10 %, red below 5 %; exactly 10 % and 5 % are not yet below.
        [volumeLevel(1000, 100), 'ok'], [volumeLevel(1000, 99), 'warn'],
        [volumeLevel(1000, 50), 'warn'], [volumeLevel(1000, 49), 'alert'],
        [volumeLevel(0, 0), 'ok'], [volumeLevel(null, null), 'ok'],
    ];
    for (const [got, level] of cases) {
        assert.equal(got.level, level);
        assert.equal(got.words === '', level === 'ok');
    }
    assert.equal(worst([memoryLevel(95), volumeLevel(1000, 1), linkLevel(0)]).level, 'alert');
});

test('a processor is marked only after a full minute at 90 % or more', () => {
    const load = new SustainedLoad();
    for (let t = 0; t < 60; t++) assert.equal(load.update(t, 95).level, 'ok');
    assert.equal(load.update(60, 90).level, 'alert');
    // One reading below, or a missing one, starts the minute again.
    assert.equal(load.update(61, 89).level, 'ok');
    assert.equal(load.update(62, 99).level, 'ok');
    assert.equal(load.update(121, 99).level, 'ok');
    assert.equal(load.update(122, 99).level, 'alert');
    assert.equal(load.update(123, null).level, 'ok');
});

test('volumes: the share used, the fullest, and sizes the system could not give', () => {
    const volumes = describeVolumes({
        volumes: [
            { volume: '/', disk: 0, storage: 'a', size: 1000, free: 400 },
            { volume: '/data', disk: 1, storage: null, size: 2000, free: 20 },
            { volume: '/gone', disk: 1, storage: null, size: 0, free: 0 },
            { volume: '/media/stick', disk: 2, storage: 'c', answering: false, size: null, free: null },
        ],
    });
    assert.deepEqual(volumes.map((v) => v.used), [60, 99, null, null]);
    assert.deepEqual(volumes.map((v) => v.answering), [true, true, true, false]);
    assert.equal(volumes[1].level, 'alert');
    assert.equal(fullest(volumes).volume, '/data');
    assert.equal(fullest(describeVolumes({})), null);
});

test('disks by their system name, for a disk that reports no model', () => {
    const names = diskNames({ disks: [{ disk: 0, storage: 'a', name: 'vda' }, { disk: 1, storage: null, name: 'sdb' }] });
    assert.deepEqual([...names], [['a', 'vda']]);
    assert.equal(diskNames({}).size, 0);
});

test('process rows show both shares of the processor and the memory held', () => {
    const [row] = processRows([{ pid: 42, name: 'spin', core: 99.5, machine: 49.75, resident: 1048576 }]);
    assert.deepEqual(row, { key: '42', cells: ['spin', '42', '99.5 %', '49.8 %', '1.00 MiB'] });
    assert.deepEqual(processRows(undefined), []);
});
