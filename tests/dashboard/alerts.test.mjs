import assert from 'node:assert/strict';
import { test } from 'node:test';

import { processRows } from '../../content/src/processes.js';
import { marksOf, worst } from '../../content/src/alerts.js';
import { describeVolumes, diskNames, fullest } from '../../content/src/volumes.js';

test("each card shows the worst of the monitor's alerts for it, in its words", () => {
    const marks = marksOf({
        alerts: [
            { name: 'VolumeLowSpace', severity: 'warning', key: 'volume:/data', words: 'Low on space' },
            { name: 'VolumeLowSpace', severity: 'critical', key: 'volume:/data', words: 'Almost full' },
            { name: 'CoreBusy', severity: 'warning', key: 'cpu:3', words: 'Busy' },
        ],
    });
    assert.deepEqual(marks.get('volume:/data'), { level: 'alert', words: 'Almost full' });
    assert.deepEqual(marks.get('cpu:3'), { level: 'warn', words: 'Busy' });
    assert.equal(marksOf({}).size, 0);
    assert.equal(worst([...marks.values()]).words, 'Almost full');
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
