import assert from 'node:assert/strict';
import { test } from 'node:test';

import { HistoryStore, RANGES, RingSeries } from '../../content/src/history.js';

test('a full ring keeps the newest rows, oldest first', () => {
    const series = new RingSeries(4, 2);
    for (let t = 1; t <= 7; t++) series.push(t, [t * 10, t * 100]);
    const [times, first, second] = series.columns();
    assert.deepEqual(times, [4, 5, 6, 7]);
    assert.deepEqual(first, [40, 50, 60, 70]);
    assert.deepEqual(second, [400, 500, 600, 700]);
    assert.equal(series.latest(1), 700);
    assert.equal(series.latestTime(), 7);
});

test('the arrays handed to a chart are reused and stay in step with the ring', () => {
    const series = new RingSeries(3, 1);
    series.push(1, [1]);
    const columns = series.columns();
    series.push(2, [2]);
    series.push(3, [3]);
    series.push(4, [4]);
    assert.equal(series.columns(), columns);
    assert.deepEqual(columns, [[2, 3, 4], [2, 3, 4]]);
});

test('values that are not numbers are stored as gaps', () => {
    const series = new RingSeries(5, 3);
    series.push(1, [NaN, null, undefined]);
    series.push(2, [1]);
    assert.deepEqual(series.columns().slice(1), [[null, 1], [null, null], [null, null]]);
    assert.equal(new RingSeries(2, 1).latest(), null);
});

test('a rescan drops the series of devices that are gone and keeps the others', () => {
    const store = new HistoryStore(10);
    store.get('old', 1).push(1, [5]);
    const kept = store.get('kept', 2);
    kept.push(1, [1, 2]);
    store.retain(new Set(['kept', 'new']));
    assert.equal(store.has('old'), false);
    assert.equal(store.get('kept', 2), kept);
    assert.equal(store.get('old', 1).length, 0);
});

test('an outage breaks each line once, however long it lasts', () => {
    const store = new HistoryStore(10);
    store.get('a', 2).push(1, [1, 2]);
    store.get('empty', 1);
    store.markGap(2);
    store.markGap(3);
    assert.deepEqual(store.get('a', 2).columns(), [[1, 2], [1, null], [2, null]]);
    assert.equal(store.get('empty', 1).length, 0);
});

// The monitor's /history.json as it sends it: times as deltas in ms, a total of all processors
// beside each core's own series.
const monitorHistory = {
    now: 130_000,
    blocks: [
        { step: 60000, start: null, deltas: [], series: {} },
        {
            step: 1000,
            start: 100_000,
            deltas: [0, 1000, 1000, 7000, 1000],
            series: {
                c0: [[10, 20, 30, 40, 50]],
                c1: [[null, null, 50, 60, 70]],
                'Processor:c0,c1': [[10, 20, 40, 50, 60]],
                n0: [[1, 2, 3, 4, 5], [6, 7, 8, 9, 10]],
            },
        },
    ],
};

test('the monitor\'s history goes before the page\'s own rows, each total with its cores', () => {
    const store = new HistoryStore(RANGES['5m']);
    store.get('c0', 1).push(110, [99]);
    store.merge(monitorHistory);
    // Rows from 110 s on are the page's own; the 7 s without samples is a gap, not a line.
    assert.deepEqual(store.get('c0', 1).columns(), [[100, 101, 102, 103, 109, 110], [10, 20, 30, null, 40, 99]]);
    assert.deepEqual(store.get('Processor:c0,c1', 3).columns().slice(1),
        [[10, 20, 40, null, 50, 60], [10, 20, 30, null, 40, 50], [null, null, 50, null, 60, 70]]);
    assert.deepEqual(store.get('n0', 2).columns()[2], [6, 7, 8, null, 9, 10]);
});

test('over a day the rows are minute means, the open minute going on with the page\'s figures', () => {
    const store = new HistoryStore(RANGES['24h']);
    store.merge(monitorHistory, 20);
    const series = store.get('c0', 1);
    // 120..122 s fall in the minute from 120 s, 130 and 131 s as well: one row.
    assert.deepEqual(series.columns(), [[120], [(10 + 20 + 30 + 40 + 50) / 5]]);
    series.push(150, [90]);
    assert.deepEqual(series.columns(), [[120], [(10 + 20 + 30 + 40 + 50 + 90) / 6]]);
    series.push(190, [5]);
    assert.deepEqual(series.columns(), [[120, 180], [40, 5]]);
});
