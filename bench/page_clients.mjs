// The status page in Debian's Chromium, headless, for bench/page_bench.py:
// the first load of the page timed in fresh pages, then a number of pages
// kept open on the event stream until told to stop.
//
//   node page_clients.mjs URL HOSTS LOADS PAGES TIMEOUT_MS
//
// Standard output, one JSON object a line: {"loads": [...]} once the loads
// are done, {"ready": PAGES} once every open page shows all rows, then, after
// a line "stop" on standard input, {"pages": [counts of each page]}.
// playwright-core comes from tests/browser/node_modules (NODE_PATH).
import { createRequire } from "node:module";
import path from "node:path";
import readline from "node:readline";

const [url, hostCount, loadCount, pageCount, timeout] = [process.argv[2], ...process.argv.slice(3).map(Number)];
const require = createRequire(path.join(process.env.NODE_PATH || process.cwd(), "noop.js"));
const { chromium } = require("playwright-core");

// Installed before the page's own script: stamps (ms since the navigation
// began) of the script's first table of all hosts, of the frame that shows
// it, and counts of what the event stream brought. The rows the server
// wrote carry no key; the script's rows do.
function watch(want) {
  const seen = { redrawn: null, shown: null, passes: 0, changed: 0, passBytes: 0, opens: 0, errors: 0,
    fetches: 0, redraws: 0, redrawMs: 0 };
  window.__bench = seen;
  const Source = window.EventSource;
  window.EventSource = class extends Source {
    constructor(...args) {
      super(...args);
      this.addEventListener("open", () => seen.opens++);
      this.addEventListener("error", () => seen.errors++);
      // Registered before the page's own listener: the time until the next
      // frame covers the page's handling of the pass.
      this.addEventListener("pass", (event) => {
        seen.passes++;
        seen.passBytes += event.data.length;
        seen.changed += (JSON.parse(event.data).changed || []).length;
        const started = performance.now();
        requestAnimationFrame(() => setTimeout(() => {
          seen.redraws++;
          seen.redrawMs += performance.now() - started;
        }, 0));
      });
    }
  };
  const fetched = window.fetch;
  window.fetch = (...args) => {
    if (String(args[0]).startsWith("/api/v1/hosts") && !String(args[0]).includes("/history"))
      seen.fetches++;
    return fetched(...args);
  };
  document.addEventListener("DOMContentLoaded", () => {
    const body = document.querySelector("#hosts tbody");
    const observer = new MutationObserver(() => {
      if (seen.redrawn !== null || body.childElementCount !== want || body.firstElementChild.dataset.key === undefined)
        return;
      seen.redrawn = performance.now();
      observer.disconnect();
      requestAnimationFrame(() => setTimeout(() => { seen.shown = performance.now(); }, 0));
    });
    observer.observe(body, { childList: true });
  });
}

function say(object) {
  process.stdout.write(JSON.stringify(object) + "\n");
}

async function openPage(browser) {
  const page = await browser.newPage();
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  await page.addInitScript(watch, hostCount);
  await page.goto(url, { timeout });
  // Polled from here: waitForFunction would evaluate a string in the page,
  // which its Content-Security-Policy forbids, rightly.
  const deadline = Date.now() + timeout;
  while (!(await page.evaluate(() => window.__bench.shown !== null))) {
    if (Date.now() > deadline) {
      const rows = await page.evaluate(() => document.querySelectorAll("#hosts tbody tr[data-key]").length);
      throw new Error(`the page showed ${rows} of ${hostCount} rows from its script within ${timeout} ms`
        + (errors.length ? `; script errors: ${errors.join("; ")}` : ""));
    }
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  return { page, errors };
}

const browser = await chromium.launch({ executablePath: "/usr/bin/chromium", headless: true,
  args: ["--no-sandbox", "--disable-gpu"] });
let status = 0;
try {
  const loads = [];
  for (let load = 0; load < loadCount; load++) {
    const { page } = await openPage(browser);
    loads.push(await page.evaluate(() => {
      const navigation = performance.getEntriesByType("navigation")[0];
      const api = performance.getEntriesByType("resource").find((entry) => entry.name.endsWith("/api/v1/hosts"));
      return { html: navigation.responseEnd, domReady: navigation.domContentLoadedEventEnd,
        api: api ? api.responseEnd : null, redrawn: window.__bench.redrawn, shown: window.__bench.shown };
    }));
    await page.close();
  }
  say({ loads });

  const open = [];
  for (let index = 0; index < pageCount; index++)
    open.push(await openPage(browser));
  // Counted from here: what came before is the first load's.
  for (const { page } of open)
    await page.evaluate(() => Object.assign(window.__bench, { passes: 0, changed: 0, passBytes: 0, opens: 0,
      errors: 0, fetches: 0, redraws: 0, redrawMs: 0 }));
  say({ ready: open.length });
  const input = readline.createInterface({ input: process.stdin });
  for await (const line of input)
    if (line.trim() === "stop")
      break;
  const pages = [];
  for (const { page, errors } of open) {
    const counts = await page.evaluate(() => ({ ...window.__bench,
      rows: document.querySelectorAll("#hosts tbody tr").length }));
    pages.push({ ...counts, scriptErrors: errors });
  }
  say({ pages });
} catch (error) {
  say({ error: String(error.message || error) });
  status = 1;
} finally {
  await browser.close();
}
process.exit(status);
