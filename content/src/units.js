// Units that cannot be misread: sizes and byte rates with binary prefixes ("MiB/s"), link
// speeds in bits with decimal prefixes ("Mb/s"), shares from thousandths of a percent.

/** Shown wherever a figure is missing or not a number. */
export const MISSING = '–';

const BINARY_UNITS = ['B', 'KiB', 'MiB', 'GiB', 'TiB', 'PiB', 'EiB'];
const BIT_UNITS = ['b/s', 'kb/s', 'Mb/s', 'Gb/s', 'Tb/s'];

function isFigure(value) {
    return typeof value === 'number' && Number.isFinite(value) && value >= 0;
}

// Three significant figures, judged after rounding (9.999 is "10.0", not "10.00"); the caller
// moves to the next unit when rounding reaches `base`.
function threeFigures(value) {
    let text = value.toFixed(2);
    if (Number(text) >= 10) text = value.toFixed(1);
    if (Number(text) >= 100) text = value.toFixed(0);
    return text;
}

function scaled(value, base, units, whole) {
    let unit = 0;
    while (value >= base && unit < units.length - 1) {
        value /= base;
        unit++;
    }
    if (unit === 0) return `${whole(value)} ${units[0]}`;
    let text = threeFigures(value);
    // 1023.7 KiB would round to "1024 KiB": say "1.00 MiB" instead.
    if (Number(text) >= base && unit < units.length - 1) {
        unit++;
        text = threeFigures(Number(text) / base);
    }
    return `${text} ${units[unit]}`;
}

/** A size in bytes: "1023 B", "1.00 KiB", "15.9 GiB". */
export function formatBytes(bytes) {
    if (!isFigure(bytes)) return MISSING;
    return scaled(bytes, 1024, BINARY_UNITS, Math.round);
}

/** A rate in bytes per second: "0 B/s", "12.3 MiB/s". */
export function formatByteRate(bytesPerSecond) {
    if (!isFigure(bytesPerSecond)) return MISSING;
    return `${formatBytes(bytesPerSecond)}/s`;
}

/**
 * A speed in bits per second with decimal prefixes, trailing zeros dropped so that
 * round link speeds read as people say them: "100 Mb/s", "1 Gb/s", "2.5 Gb/s".
 */
export function formatBitRate(bitsPerSecond) {
    if (!isFigure(bitsPerSecond)) return MISSING;
    const text = scaled(bitsPerSecond, 1000, BIT_UNITS, Math.round);
    return text.replace(/\.0+ /, ' ').replace(/(\.\d*?)0+ /, '$1 ');
}

/**
 * A share given in thousandths of a percent: 12345 -> "12.3 %". Truncated, not rounded,
 * so that "100 %" appears only when the share is full; values past 100 % are capped.
 */
export function formatPercent(thousandths) {
    if (!isFigure(thousandths)) return MISSING;
    if (thousandths >= 100000) return '100 %';
    return `${(Math.floor(thousandths / 100) / 10).toFixed(1)} %`;
}

/** A share in thousandths of a percent as a number of percent for charts, capped at 100. */
export function percentOf(thousandths) {
    if (!isFigure(thousandths)) return null;
    return Math.min(thousandths, 100000) / 1000;
}

/** A count per second without grouping marks (which read differently across locales). */
export function formatCount(count) {
    if (!isFigure(count)) return MISSING;
    if (count < 10000) return String(Math.round(count));
    if (count < 1e6) return `${threeFigures(count / 1000)} k`;
    if (count < 1e9) return `${threeFigures(count / 1e6)} M`;
    return `${threeFigures(count / 1e9)} G`;
}

/** A wall-clock time as HH:MM:SS, 24-hour, which no locale misreads. */
export function formatClock(date) {
    const two = (n) => String(n).padStart(2, '0');
    return `${two(date.getHours())}:${two(date.getMinutes())}:${two(date.getSeconds())}`;
}

/**
 * Axis steps for byte-rate charts: powers of two times 1, 2 or 5 would give labels such as
 * "195 KiB/s", so the steps are 1, 2, 4 ... 512 of each binary unit.
 */
export function binaryAxisSteps() {
    const steps = [];
    for (let power = 0; power <= 5; power++) {
        for (let m = 1; m < 1024; m *= 2) steps.push(m * 1024 ** power);
    }
    return steps;
}
