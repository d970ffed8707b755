// Time-series charts over uPlot (loaded as a classic script, global `uPlot`). One chart per
// host element; the x axis always spans the chosen range up to the newest sample, so charts
// scroll together and a device that appears late does not stretch its few points.

import { DEFAULT_RANGE } from './history.js?v=1';
import { binaryAxisSteps, formatByteRate, formatClock } from './units.js?v=1';

const BYTE_STEPS = binaryAxisSteps();

/** Chart colours come from the style sheet, so they follow the light or dark theme. */
export function themeColours() {
    const style = getComputedStyle(document.documentElement);
    const get = (name) => style.getPropertyValue(name).trim();
    return {
        axis: get('--text-muted'),
        grid: get('--grid'),
        series: [get('--series-1'), get('--series-2'), get('--series-3')],
        core: get('--series-core'),
    };
}

function withAlpha(colour, alpha) {
    // The style sheet gives hex colours; fills are the same hue, mostly transparent.
    if (!/^#[0-9a-f]{6}$/i.test(colour)) return colour;
    return colour + Math.round(alpha * 255).toString(16).padStart(2, '0');
}

const percentValues = (u, values) => values.map((v) => `${v} %`);
// Axis steps are whole binary amounts, so "8 MiB/s" rather than "8.00 MiB/s".
const rateValues = (u, values) => values.map((v) => formatByteRate(v).replace(/\.0+ /, ' '));
// Whole minutes in 24-hour time, which no locale misreads; no range needs seconds.
const timeValues = (u, values) => values.map((t) => formatClock(new Date(t * 1000)).slice(0, 5));
const MINUTE_STEPS = [60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600, 43200];

function lineSeries(label, colour, { width = 1.5, fill = false } = {}) {
    return {
        label,
        stroke: colour,
        width,
        fill: fill ? withAlpha(colour, 0.14) : undefined,
        points: { show: false },
        spanGaps: false,
    };
}

/**
 * The options for one kind of chart:
 * - 'percent' / 'rates': small charts in device cards (no axes);
 * - 'overview-cpu' (all cores and each core), 'overview-percent', 'overview-rates': with axes.
 * `labels` names the value series.
 */
function chartOptions(kind, labels, colours, clock) {
    const small = !kind.startsWith('overview');
    const percent = kind === 'percent' || kind === 'overview-cpu' || kind === 'overview-percent';
    const series = [{}];
    labels.forEach((label, i) => {
        if (kind === 'overview-cpu' && i > 0) {
            series.push(lineSeries(label, colours.core, { width: 1 }));
        } else {
            series.push(lineSeries(label, colours.series[i % colours.series.length], {
                width: small ? 1.25 : 2,
                fill: small || kind === 'overview-cpu',
            }));
        }
    });
    const axisStyle = {
        stroke: colours.axis,
        grid: { stroke: colours.grid, width: 1 },
        ticks: { stroke: colours.grid, width: 1, size: 4 },
        font: '11px system-ui, sans-serif',
    };
    return {
        height: small ? 52 : 150,
        width: 300,
        pxAlign: 0,
        legend: { show: false },
        cursor: { show: false },
        padding: small ? [4, 0, 2, 0] : [10, 8, 0, 0],
        scales: {
            x: {
                time: true,
                range: () => [clock.end - clock.range.seconds, clock.end],
            },
            y: {
                range: percent
                    ? [0, 100]
                    : (u, min, max) => [0, Math.max(max || 0, small ? 1024 : 8 * 1024) * 1.08],
            },
        },
        axes: small
            ? [{ show: false }, { show: false }]
            : [
                  { ...axisStyle, space: 45, incrs: MINUTE_STEPS, values: timeValues, size: 26 },
                  percent
                      ? { ...axisStyle, values: percentValues, size: 48, splits: () => [0, 25, 50, 75, 100] }
                      : { ...axisStyle, values: rateValues, size: 76, incrs: BYTE_STEPS },
              ],
        series,
    };
}

/**
 * A chart bound to a host element. `draw(columns)` hands it the history columns; it draws
 * only while the host is on screen and the page is visible, and catches up when it returns.
 */
export class Chart {
    constructor(host, kind, labels, clock) {
        this.host = host;
        this.kind = kind;
        this.labels = labels;
        this.clock = clock;
        this.columns = null;
        this.onScreen = true;
        this.stale = false;
        this.plot = null;
        this.build();
    }

    build() {
        const options = chartOptions(this.kind, this.labels, themeColours(), this.clock);
        options.width = Math.max(60, Math.floor(this.host.clientWidth || 300));
        this.plot = new globalThis.uPlot(options, this.emptyColumns(), this.host);
        if (this.columns) this.plot.setData(this.columns);
    }

    emptyColumns() {
        return [[], ...this.labels.map(() => [])];
    }

    /** Colours changed (light/dark switch): draw again from the same history. */
    rebuild() {
        this.plot.destroy();
        this.build();
    }

    draw(columns) {
        this.columns = columns;
        if (!this.onScreen || document.hidden) {
            this.stale = true;
            return;
        }
        this.stale = false;
        this.plot.setData(columns);
    }

    setOnScreen(onScreen) {
        this.onScreen = onScreen;
        if (onScreen && this.stale && this.columns) this.draw(this.columns);
    }

    resize(width) {
        const w = Math.max(60, Math.floor(width));
        if (w !== this.plot.width) this.plot.setSize({ width: w, height: this.plot.height });
    }

    destroy() {
        this.plot.destroy();
    }
}

/**
 * Keeps every chart's width in step with its host, skips drawing charts that are scrolled
 * out of view, and rebuilds all charts when the system switches between light and dark.
 */
export class ChartBoard {
    constructor(range = DEFAULT_RANGE) {
        this.clock = { end: Date.now() / 1000, range };
        this.charts = new Map();
        this.resizer = new ResizeObserver((entries) => {
            for (const entry of entries) this.charts.get(entry.target)?.resize(entry.contentRect.width);
        });
        this.watcher = new IntersectionObserver(
            (entries) => {
                for (const entry of entries) this.charts.get(entry.target)?.setOnScreen(entry.isIntersecting);
            },
            { rootMargin: '200px' },
        );
        const scheme = matchMedia('(prefers-color-scheme: dark)');
        scheme.addEventListener('change', () => {
            for (const chart of this.charts.values()) chart.rebuild();
        });
        document.addEventListener('visibilitychange', () => {
            if (document.hidden) return;
            for (const chart of this.charts.values()) chart.setOnScreen(chart.onScreen);
        });
    }

    create(host, kind, labels) {
        const chart = new Chart(host, kind, labels, this.clock);
        this.charts.set(host, chart);
        this.resizer.observe(host);
        this.watcher.observe(host);
        return chart;
    }

    remove(chart) {
        this.resizer.unobserve(chart.host);
        this.watcher.unobserve(chart.host);
        this.charts.delete(chart.host);
        chart.destroy();
    }

    /** Every chart spans `range` from now on; their descriptions say so. */
    setRange(range) {
        this.clock.range = range;
        for (const host of document.querySelectorAll('figure.chart')) {
            host.setAttribute('aria-label', host.getAttribute('aria-label').replace(/the last .*$/, range.words));
        }
    }

    /** Every chart's time window ends here (seconds). */
    setEnd(seconds) {
        this.clock.end = seconds;
    }
}
