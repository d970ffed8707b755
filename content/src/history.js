// Chart history: a fixed ring buffer per series, keyed by the device's strIdent, so that a
// rescan (new identifiers) starts new series and memory stays flat however long the page runs.
// The monitor keeps the same series itself; on open the page asks it for the chosen span.

/**
 * The spans a viewer can choose. `bucket`: seconds per row (a day is drawn as minute means, so
 * that a chart never holds more than about 1500 points); `drawEvery`: seconds between two drawings
 * of the charts, about one pixel's worth of time on a phone-wide chart. The rings have room for
 * the gap markers of outages.
 */
export const RANGES = Object.freeze({
    '5m': { id: '5m', seconds: 300, bucket: 1, capacity: 320, drawEvery: 1, words: 'the last 5 minutes' },
    '1h': { id: '1h', seconds: 3600, bucket: 1, capacity: 3640, drawEvery: 5, words: 'the last hour' },
    '24h': { id: '24h', seconds: 86400, bucket: 60, capacity: 1460, drawEvery: 60, words: 'the last 24 hours' },
});
export const DEFAULT_RANGE = RANGES['5m'];

// Rows further apart than this many buckets are not joined by a line: nothing was sampled between.
const GAP_BUCKETS = 3;

/**
 * Rows of (time, value, value ...) in a fixed ring. `columns()` hands out the rows oldest
 * first in arrays that are reused from call to call, the shape a chart's setData wants,
 * without allocating once the arrays have reached full length.
 */
export class RingSeries {
    /** `bucket` > 1: one row per bucket of that many seconds, the mean of what fell in it. */
    constructor(capacity, width, bucket = 1) {
        this.capacity = capacity;
        this.width = width;
        this.bucket = bucket;
        // The open bucket's sums and counts, per column.
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
        const bucket = this.bucket;
        const at = bucket > 1 ? Math.floor(time / bucket) * bucket : time;
        const last = this.latestTime();
        if (bucket > 1 && last === at) {
            this.addToBucket((this.start + this.length - 1) % this.capacity, row);
            return;
        }
        if (last !== null && at - last > GAP_BUCKETS * bucket && this.latest(0) !== null) {
            this.append(last + bucket, []);
        }
        this.sums.fill(0);
        this.counts.fill(0);
        this.addToBucket(this.append(at, []), row);
    }

    /** A row of gaps at `time` (each value null); returns its slot. */
    append(time, row) {
        const slot = (this.start + this.length) % this.capacity;
        this.times[slot] = time;
        for (let i = 0; i < this.width; i++) this.values[i][slot] = row[i] ?? null;
        if (this.length < this.capacity) this.length++;
        else this.start = (this.start + 1) % this.capacity;
        return slot;
    }

    addToBucket(slot, row) {
        for (let i = 0; i < this.width; i++) {
            const value = row[i];
            if (typeof value !== 'number' || !Number.isFinite(value)) continue;
            this.sums[i] += value;
            this.counts[i]++;
            this.values[i][slot] = this.sums[i] / this.counts[i];
        }
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

/** The series of every device and total on the page, by key (a strIdent, or a total's name). */
export class HistoryStore {
    /** `range`: one of RANGES, or a number of rows (one a second). */
    constructor(range = DEFAULT_RANGE) {
        if (typeof range === 'number') range = { ...DEFAULT_RANGE, capacity: range };
        this.range = range;
        this.capacity = range.capacity;
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

    /**
     * Puts the monitor's own history (its /history.json) before what the page has recorded
     * itself. `offset`: seconds to add to the monitor's times to get the page's clock. The
     * monitor keeps all processors as one total; the page's total also carries each core.
     */
    merge(document, offset = 0) {
        const rows = new Map();
        for (const block of document.blocks ?? []) {
            const times = [];
            let time = block.start;
            for (const delta of block.deltas ?? []) {
                time += delta;
                times.push(time / 1000 + offset);
            }
            for (const [key, columns] of Object.entries(block.series ?? {})) {
                let all = columns;
                if (key.startsWith('Processor:') && columns.length === 1) {
                    const cores = key.slice('Processor:'.length).split(',');
                    all = [columns[0], ...cores.map((ident) => block.series[ident]?.[0] ?? [])];
                }
                if (!rows.has(key)) rows.set(key, []);
                const list = rows.get(key);
                times.forEach((t, n) => list.push([t, all.map((column) => column[n])]));
            }
        }
        for (const [key, list] of rows) {
            const width = list.length ? list[0][1].length : 0;
            if (width === 0) continue;
            const own = this.series.get(key);
            const ownFirst = own && own.width === width && own.length ? own.columns()[0][0] : Infinity;
            const merged = new RingSeries(this.capacity, width, this.range.bucket);
            for (const [t, row] of list) if (t < ownFirst) merged.push(t, row);
            if (ownFirst !== Infinity) {
                const [times, ...columns] = own.columns();
                times.forEach((t, n) => merged.push(t, columns.map((column) => column[n])));
                // The open bucket goes on with the page's own sums.
                merged.sums.set(own.sums);
                merged.counts.set(own.counts);
            }
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
            // Minute rows break by themselves: an outage shorter than a few minutes is not seen.
            if (series.bucket === 1 && series.length > 0 && series.latest(0) !== null) {
                series.push(time, new Array(series.width).fill(null));
            }
        }
    }
}
