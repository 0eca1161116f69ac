#!/usr/bin/env node
// Benchmark of the web build (prints numbers, asserts nothing), for an idle
// machine: tests/web/bench_web.sh runs it beside the native bench_render.
//
//   node tests/web/bench_web.js <page folder> [seconds of music, default: the whole demo]
//
// Prints, for headless chromium with SwiftShader WebGL at 640x480:
//  - the time from the start of page load to the question being shown
//    (five loads, each in a fresh browser profile);
//  - frames per second of each scene: frames counted as the program's
//    glClear calls (one per frame), split by scene at the syncs that change
//    it (morph body, caption B, cube), over one run after No;
//  - the page's files, raw and gzip -9 compressed.
'use strict';
const fs = require('fs');
const os = require('os');
const path = require('path');
const zlib = require('zlib');
const {chromium} = require('playwright-core');
const {startServer} = require('./serve.js');

const [pageDir, secondsArg] = process.argv.slice(2);
if (!pageDir) { console.error('usage: bench_web.js <page folder> [seconds]'); process.exit(2); }
const musicSeconds = secondsArg ? Number(secondsArg) : 80;

async function launch() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'zephyra-bench-'));
  const context = await chromium.launchPersistentContext(profile, {
    executablePath: process.env.ZEPHYRA_CHROMIUM || '/usr/bin/chromium', headless: true,
    args: ['--no-sandbox', '--use-angle=swiftshader', '--enable-unsafe-swiftshader', '--no-first-run',
           '--disable-background-networking', '--disable-component-update', '--disable-sync'],
    viewport: {width: 1024, height: 768}});
  const page = context.pages()[0] || await context.newPage();
  return {page, close: async () => { await context.close(); fs.rmSync(profile, {recursive: true, force: true}); }};
}

// Counts frames: every glClear of the page's WebGL context, time-stamped.
const COUNT_FRAMES = `(() => {
  window.zephyraClears = [];
  const get = HTMLCanvasElement.prototype.getContext;
  HTMLCanvasElement.prototype.getContext = function (...args) {
    const ctx = get.apply(this, args);
    if (ctx && !ctx.__counted && typeof ctx.clear === 'function') {
      const clear = ctx.clear.bind(ctx);
      ctx.clear = (mask) => { window.zephyraClears.push(performance.now()); return clear(mask); };
      ctx.__counted = true;
    }
    return ctx;
  };
})();`;

(async () => {
  const server = await startServer(pageDir);
  try {
    // Page load to the question.
    const loads = [];
    for (let i = 0; i < 5; i++) {
      const {page, close} = await launch();
      const t = Date.now();
      await page.goto(server.url + 'index.html');
      await page.waitForSelector('#zephyra-box:not([hidden])', {timeout: 60000});
      loads.push(Date.now() - t);
      await close();
    }
    loads.sort((a, b) => a - b);
    console.log(`page load to the question: median ${loads[2]} ms (min ${loads[0]}, max ${loads[4]}) over 5 loads`);

    // Frames per scene.
    const {page, close} = await launch();
    await page.addInitScript(COUNT_FRAMES);
    await page.goto(server.url + 'index.html?test=1');
    await page.waitForSelector('#zephyra-box:not([hidden])', {timeout: 60000});
    await page.click('#zephyra-no');
    const until = Date.now() + (musicSeconds + 15) * 1000;
    while (Date.now() < until) {
      const state = await page.evaluate(() => ({exit: window.zephyraExit,
        music: Module.zephyraMusicSeconds ? Module.zephyraMusicSeconds() : null}));
      if (state.exit !== undefined || (state.music !== null && state.music >= musicSeconds)) break;
      await page.waitForTimeout(500);
    }
    const {clears, log} = await page.evaluate(() => ({clears: window.zephyraClears, log: window.zephyraSyncLog || []}));
    await close();
    // Scene changes at the syncs that make them (the first of each).
    const at = (user) => { const s = log.find((e) => e.user === user); return s ? s.firedAt : null; };
    const edges = [['caption A', clears.length ? clears[0] : 0], ['morph body', at(2)], ['caption B', at(4)],
                   ['cube', at(5)], ['end', clears.length ? clears[clears.length - 1] : 0]].filter((e) => e[1] !== null);
    console.log('frames per second at 640x480 (headless chromium, SwiftShader WebGL):');
    for (let i = 0; i + 1 < edges.length; i++) {
      // The first half second of each scene is left out (set-up, first uploads).
      const from = edges[i][1] + 500, to = edges[i + 1][1];
      const n = clears.filter((t) => t >= from && t < to).length;
      if (to - from > 500) console.log(`  ${edges[i][0].padEnd(11)} ${(n / ((to - from) / 1000)).toFixed(1)} fps over ${((to - from) / 1000).toFixed(1)} s`);
    }
  } finally {
    await server.close();
  }

  // File sizes.
  let raw = 0, packed = 0;
  console.log('page files (raw / gzip -9):');
  for (const f of fs.readdirSync(pageDir).sort()) {
    const data = fs.readFileSync(path.join(pageDir, f));
    const gz = zlib.gzipSync(data, {level: 9}).length;
    raw += data.length; packed += gz;
    console.log(`  ${f.padEnd(14)} ${String(data.length).padStart(9)} / ${String(gz).padStart(8)} bytes`);
  }
  console.log(`  ${'all'.padEnd(14)} ${String(raw).padStart(9)} / ${String(packed).padStart(8)} bytes`);
})().catch((e) => { console.error(e); process.exit(1); });
