// Chart history: a fixed ring buffer per series, keyed by the device's key (what identifies it
// to the system), so that a rescan keeps the series of devices still present, and memory stays
// flat however long the page runs.
// The monitor keeps the same series; the page asks it for them on open.

// The spans to choose from. bucket: seconds per row (a day is 1440 minute means); drawEvery:
// seconds between drawings, about a pixel's worth.
const range = (id, seconds, bucket, drawEvery, words) =>
    ({ id, seconds, bucket, capacity: seconds / bucket + 20, drawEvery, words: `the last ${words}` });
export const RANGES = {
    '5m': range('5m', 300, 1, 1, '5 minutes'),
    '1h': range('1h', 3600, 1, 5, 'hour'),
    '24h': range('24h', 86400, 60, 60, '24 hours'),
};
export const DEFAULT_RANGE = RANGES['5m'];

// Rows further apart than this many buckets are not joined: nothing was sampled between.
const GAP_BUCKETS = 3;

/**
 * Rows of (time, value, value ...) in a fixed ring. `columns()` hands out the rows oldest
 * first in arrays that are reused from call to call, the shape a chart's setData wants,
 * without allocating once the arrays have reached full length.
 */
export class RingSeries {
    /** `bucket` > 1: one row per `bucket` seconds, the mean of what fell in it. */
    constructor(capacity, width, bucket = 1) {
        this.capacity = capacity;
        this.width = width;
        this.bucket = bucket;
        // The last row's sums and counts, per column.
        this.sums = new Float64Array(width);
        this.counts = new Uint32Array(width);
        this.times = new Float64Array(capacity);
        // null marks a gap, so plain arrays rather than typed ones.
        this.values = Array.from({ length: width }, () => new Array(capacity).fill(null));
        this.start = 0;
        this.length = 0;
        this.ordered = [[], ...Array.from({ length: width }, () => [])];
    }

    push(time, row) {
        const { bucket, sums, counts } = this;
        const at = bucket === 1 ? time : Math.floor(time / bucket) * bucket;
        const last = this.latestTime();
        if (bucket === 1 || last !== at) {
            if (at - last > GAP_BUCKETS * bucket && this.latest(0) !== null) this.append(last + bucket);
            this.append(at);
            sums.fill(0);
            counts.fill(0);
        }
        const slot = (this.start + this.length - 1) % this.capacity;
        row.forEach((value, i) => {
            if (typeof value !== 'number' || !Number.isFinite(value)) return;
            sums[i] += value;
            this.values[i][slot] = sums[i] / ++counts[i];
        });
    }

    /** A row of gaps at `time`. */
    append(time) {
        const slot = (this.start + this.length) % this.capacity;
        this.times[slot] = time;
        for (const column of this.values) column[slot] = null;
        if (this.length < this.capacity) this.length++;
        else this.start = (this.start + 1) % this.capacity;
    }

    /** The last pushed value of column `i`, or null. */
    latest(i = 0) {
        if (this.length === 0) return null;
        return this.values[i][(this.start + this.length - 1) % this.capacity];
    }

    /** The time of the last row, or null when empty. */
    latestTime() {
        if (this.length === 0) return null;
        return this.times[(this.start + this.length - 1) % this.capacity];
    }

    columns() {
        const [times, ...columns] = this.ordered;
        times.length = this.length;
        for (const column of columns) column.length = this.length;
        for (let n = 0; n < this.length; n++) {
            const slot = (this.start + n) % this.capacity;
            times[n] = this.times[slot];
            for (let i = 0; i < this.width; i++) columns[i][n] = this.values[i][slot];
        }
        return this.ordered;
    }
}

/** The series of every device and total on the page, by key (a device key, or a total's name). */
export class HistoryStore {
    /** `span`: one of RANGES, or a number of one-second rows. */
    constructor(span = DEFAULT_RANGE) {
        this.range = typeof span === 'number' ? { ...DEFAULT_RANGE, capacity: span } : span;
        this.capacity = this.range.capacity;
        this.series = new Map();
    }

    /** The series for `key`, made on first use with `width` value columns. */
    get(key, width = 1) {
        let series = this.series.get(key);
        if (!series || series.width !== width) {
            series = new RingSeries(this.capacity, width, this.range.bucket);
            this.series.set(key, series);
        }
        return series;
    }

    /** Puts the monitor's /history.json before the page's own rows; `offset` (s) sets its clock to ours. */
    merge(document, offset = 0) {
        const rows = new Map();
        for (const { start, deltas = [], series = {} } of document.blocks ?? []) {
            let time = start;
            const times = deltas.map((delta) => (time += delta) / 1000 + offset);
            for (const [key, columns] of Object.entries(series)) {
                // The monitor keeps all processors as one total; the page's carries each core too.
                const all = key.startsWith('Processor:') && columns.length === 1
                    ? [columns[0], ...key.slice(10).split(',').map((core) => series[core]?.[0] ?? [])]
                    : columns;
                if (!rows.has(key)) rows.set(key, []);
                times.forEach((t, n) => rows.get(key).push([t, all.map((column) => column[n])]));
            }
        }
        for (const [key, list] of rows) {
            if (!list.length) continue;
            const width = list[0][1].length;
            let own = this.series.get(key);
            if (own?.width !== width) own = null;
            const [times, ...columns] = own?.columns() ?? [[]];
            const merged = new RingSeries(this.capacity, width, this.range.bucket);
            for (const [t, row] of list) if (!times.length || t < times[0]) merged.push(t, row);
            times.forEach((t, n) => merged.push(t, columns.map((column) => column[n])));
            // The last bucket goes on with the page's own sums.
            if (own) Object.assign(merged, { sums: own.sums, counts: own.counts });
            this.series.set(key, merged);
        }
    }

    has(key) {
        return this.series.has(key);
    }

    /** Forgets every series whose key is not in `keys` (devices gone after a rescan). */
    retain(keys) {
        for (const key of this.series.keys()) {
            if (!keys.has(key)) this.series.delete(key);
        }
    }

    /** Breaks every line at `time`, so an outage shows as a gap rather than a straight line. */
    markGap(time) {
        for (const series of this.series.values()) {
            // Minute rows break by themselves (GAP_BUCKETS).
            if (series.bucket === 1 && series.length > 0 && series.latest(0) !== null) {
                series.push(time, new Array(series.width).fill(null));
            }
        }
    }
}
