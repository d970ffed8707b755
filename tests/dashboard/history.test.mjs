import assert from 'node:assert/strict';
import { test } from 'node:test';

import { HistoryStore, RingSeries } from '../../content/src/history.js';

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
