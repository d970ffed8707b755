import assert from 'node:assert/strict';
import { test } from 'node:test';

import {
    binaryAxisSteps, formatBitRate, formatByteRate, formatBytes, formatClock, formatCount,
    formatPercent, MISSING, percentOf,
} from '../../content/src/units.js';

test('sizes use binary prefixes and move up a unit exactly at 1024', () => {
    assert.equal(formatBytes(0), '0 B');
    assert.equal(formatBytes(1023), '1023 B');
    assert.equal(formatBytes(1024), '1.00 KiB');
    assert.equal(formatBytes(1536), '1.50 KiB');
    assert.equal(formatBytes(10 * 1024 - 1), '10.0 KiB');
    assert.equal(formatBytes(8589934592), '8.00 GiB');
    assert.equal(formatBytes(2 ** 64 - 1), '16.0 EiB');
});

test('a size just under the next unit is not shown as 1024 of the smaller one', () => {
    assert.equal(formatBytes(1024 * 1024 - 1), '1.00 MiB');
    assert.equal(formatBytes(1023.7 * 1024), '1.00 MiB');
    assert.equal(formatBytes(1023.4 * 1024), '1023 KiB');
});

test('byte rates say bytes per second, never bits', () => {
    assert.equal(formatByteRate(0), '0 B/s');
    assert.equal(formatByteRate(20000000), '19.1 MiB/s');
    assert.match(formatByteRate(5e9), /^\d.* GiB\/s$/);
});

test('link speeds use decimal prefixes on bits and drop zeros people do not say', () => {
    assert.equal(formatBitRate(0), '0 b/s');
    assert.equal(formatBitRate(999), '999 b/s');
    assert.equal(formatBitRate(100000000), '100 Mb/s');
    assert.equal(formatBitRate(1000000000), '1 Gb/s');
    assert.equal(formatBitRate(1500000000), '1.5 Gb/s');
    assert.equal(formatBitRate(866700000), '867 Mb/s');
    assert.equal(formatBitRate(2500000000), '2.5 Gb/s');
    assert.equal(formatBitRate(10000000000), '10 Gb/s');
    assert.equal(formatBitRate(25000000000), '25 Gb/s');
    assert.equal(formatBitRate(1050000), '1.05 Mb/s');
});

test('shares in thousandths of a percent are truncated to a tenth and capped at 100', () => {
    assert.equal(formatPercent(0), '0.0 %');
    assert.equal(formatPercent(12345), '12.3 %');
    assert.equal(formatPercent(99999), '99.9 %');
    assert.equal(formatPercent(100000), '100 %');
    assert.equal(formatPercent(250000), '100 %');
    assert.equal(percentOf(12345), 12.345);
    assert.equal(percentOf(250000), 100);
});

test('missing or nonsensical figures show a dash rather than a made-up number', () => {
    for (const bad of [null, undefined, NaN, -1, Infinity, '12']) {
        assert.equal(formatBytes(bad), MISSING);
        assert.equal(formatByteRate(bad), MISSING);
        assert.equal(formatBitRate(bad), MISSING);
        assert.equal(formatPercent(bad), MISSING);
        assert.equal(formatCount(bad), MISSING);
    }
    assert.equal(percentOf(null), null);
    assert.equal(percentOf(NaN), null);
});

test('counts per second carry no locale grouping marks', () => {
    assert.equal(formatCount(0), '0');
    assert.equal(formatCount(9999), '9999');
    assert.equal(formatCount(12345), '12.3 k');
    assert.equal(formatCount(2500000), '2.50 M');
});

test('clock times are 24-hour with leading zeros', () => {
    assert.equal(formatClock(new Date(2026, 0, 2, 7, 5, 9)), '07:05:09');
    assert.equal(formatClock(new Date(2026, 0, 2, 23, 59, 0)), '23:59:00');
});

test('byte-rate axis steps are whole binary amounts in rising order', () => {
    const steps = binaryAxisSteps();
    assert.ok(steps.includes(1024) && steps.includes(512 * 1024) && steps.includes(1024 ** 3));
    for (let i = 1; i < steps.length; i++) assert.ok(steps[i] > steps[i - 1]);
    for (const step of steps.filter((s) => s >= 1024)) assert.doesNotMatch(formatBytes(step), /\.\d*[1-9]/);
});
