// The real program's status page, opened in Chromium for a lab test that
// reads what happened from standard output, a JSON object a line, each
// with the time it was seen ("at", milliseconds since 1970):
//   {"event": "listed", "rows": [{"key", "name", "status", "comment"}...], "served": "<the page as served>"}
//       once the script has drawn COUNT rows
//   {"event": "red"}     once the row of RED_KEY shows red
//   {"event": "done", "marker", "navigations", "dialogs", "errors", "scripts", "connection", "age"}
//   {"event": "failed", "message"}   and exit status 1
// usage: node status_page_lab.mjs URL COUNT RED_KEY
import { browserOrSkip, launch } from "./browser.mjs";

const [url, countText, redKey] = process.argv.slice(2);
const count = Number(countText);
const chromium = await browserOrSkip();
const started = Date.now();
// Whatever happens, the test hears of it before its own limits.
const limit = 100000;
const left = () => Math.max(1, limit - (Date.now() - started));

function report(event, fields) {
  console.log(JSON.stringify({ event, at: Date.now(), ...fields }));
}

const browser = await launch(chromium);
let status = 0;
const stop = setTimeout(() => {
  report("failed", { message: `not done within ${limit} ms` });
  process.exit(1);
}, limit);
try {
  const page = await browser.newPage();
  const dialogs = [];
  page.on("dialog", (dialog) => {
    dialogs.push(dialog.type() + ": " + dialog.message());
    dialog.dismiss().catch(() => {});
  });
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  // The browser asks for /favicon.ico on its own; the program has none.
  page.on("console", (message) => {
    if (message.type() === "error" && !message.location().url.endsWith("/favicon.ico"))
      errors.push(message.text() + " (" + message.location().url + ")");
  });
  page.on("response", (response) => {
    if (response.status() >= 400)
      errors.push(response.status() + " " + response.url());
  });
  let navigations = 0;
  page.on("framenavigated", (frame) => {
    if (frame === page.mainFrame())
      ++navigations;
  });

  // The program may still be starting its server.
  let served = null;
  while (served === null) {
    try {
      const answer = await page.goto(url, { timeout: left() });
      served = await answer.text();
    } catch (error) {
      if (left() < 90000)
        throw error;
      await new Promise((resolve) => setTimeout(resolve, 200));
    }
  }

  // Rows with a key are the script's; the server's own table has none.
  const rows = page.locator("#hosts tbody tr[data-key]");
  await rows.nth(count - 1).waitFor({ timeout: left() });
  const listed = await rows.evaluateAll((all) => all.map((row) => ({ key: row.dataset.key,
    name: row.cells[1].textContent, status: row.cells[0].className, comment: row.cells[3].textContent })));
  // Set on the open page: a reload would lose it.
  await page.evaluate(() => { window.bvMarker = "set before the change"; });
  report("listed", { rows: listed, served });

  await page.locator(`#hosts tbody tr[data-key="${redKey}"] td.status-red`).waitFor({ timeout: left() });
  report("red", {});

  const marker = await page.evaluate(() => window.bvMarker ?? null);
  const scripts = await page.locator("script").count();
  const connection = await page.locator("#connection").evaluate((line) => (line.hidden ? "" : line.textContent));
  const age = await page.textContent("#age");
  report("done", { marker, navigations, dialogs, errors, scripts, connection, age });
} catch (error) {
  report("failed", { message: String(error && error.stack || error) });
  status = 1;
} finally {
  clearTimeout(stop);
  await browser.close();
}
process.exit(status);
