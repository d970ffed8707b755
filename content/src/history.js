// Chart history: a fixed ring buffer per series, keyed by the device's strIdent, so that a
// rescan (new identifiers) starts new series and memory stays flat however long the page runs.

/** Five minutes at one sample a second, with room for the gap markers of an outage. */
export const HISTORY_SECONDS = 300;
export const HISTORY_CAPACITY = HISTORY_SECONDS + 20;

/**
 * Rows of (time, value, value ...) in a fixed ring. `columns()` hands out the rows oldest
 * first in arrays that are reused from call to call, the shape a chart's setData wants,
 * without allocating once the arrays have reached full length.
 */
export class RingSeries {
    constructor(capacity, width) {
        this.capacity = capacity;
        this.width = width;
        this.times = new Float64Array(capacity);
        // null marks a gap, so plain arrays rather than typed ones.
        this.values = Array.from({ length: width }, () => new Array(capacity).fill(null));
        this.start = 0;
        this.length = 0;
        this.ordered = [[], ...Array.from({ length: width }, () => [])];
    }

    push(time, row) {
        const slot = (this.start + this.length) % this.capacity;
        this.times[slot] = time;
        for (let i = 0; i < this.width; i++) {
            const value = row[i];
            this.values[i][slot] = typeof value === 'number' && Number.isFinite(value) ? value : null;
        }
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

/** The series of every device and total on the page, by key (a strIdent, or a total's name). */
export class HistoryStore {
    constructor(capacity = HISTORY_CAPACITY) {
        this.capacity = capacity;
        this.series = new Map();
    }

    /** The series for `key`, made on first use with `width` value columns. */
    get(key, width = 1) {
        let series = this.series.get(key);
        if (!series || series.width !== width) {
            series = new RingSeries(this.capacity, width);
            this.series.set(key, series);
        }
        return series;
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
            if (series.length > 0 && series.latest(0) !== null) {
                series.push(time, new Array(series.width).fill(null));
            }
        }
    }
}
