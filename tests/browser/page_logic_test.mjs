// The status page's script in Debian's Chromium, headless, against a
// stand-in for the program's API: the rows and counts, red first, texts
// shown as text, the filter, and a pass from the event stream applied
// without a reload.
import { spawn } from "node:child_process";
import { fileURLToPath } from "node:url";
import path from "node:path";
import assert from "node:assert/strict";
import { browserOrSkip, launch } from "./browser.mjs";

const chromium = await browserOrSkip();

const here = path.dirname(fileURLToPath(import.meta.url));
const web = path.join(here, "..", "..", "res", "web");
const stub = spawn("python3", [path.join(here, "stub_server.py"), web, path.join(here, "hosts.json")],
  { stdio: ["pipe", "pipe", "inherit"] });
const lines = [];
let waiting = null;
stub.stdout.setEncoding("utf8");
stub.stdout.on("data", (text) => {
  lines.push(...text.split("\n").filter((line) => line));
  if (waiting) waiting();
});
async function nextLine() {
  const deadline = Date.now() + 10000;
  while (lines.length === 0) {
    assert.ok(Date.now() < deadline, "the stand-in server did not answer");
    await new Promise((resolve) => { waiting = resolve; setTimeout(resolve, 100); });
  }
  return lines.shift();
}

const browser = await launch(chromium);
let failed = false;
try {
  const port = Number(await nextLine());
  const page = await browser.newPage();
  const dialogs = [];
  page.on("dialog", (dialog) => { dialogs.push(dialog.message()); dialog.dismiss(); });
  const errors = [];
  page.on("pageerror", (error) => errors.push(error.message));
  await page.goto(`http://127.0.0.1:${port}/`);

  const rows = page.locator("#hosts tbody tr");
  await rows.first().waitFor();
  // Waits through locators: the page's policy forbids the eval a polled
  // waitForFunction needs.
  await rows.nth(2).waitFor();
  assert.equal(await rows.count(), 3);
  assert.equal(await page.textContent("#counts"), "1 red, 0 yellow, 2 green");
  // Red first, then the list's order; the status in a word.
  assert.deepEqual(await rows.locator("td:nth-child(2)").allTextContents(), ["old", "web1", "db1"]);
  assert.equal(await rows.nth(0).locator("td").first().textContent(), "Red");
  // The comment is text: shown as written, run never.
  assert.equal(await rows.nth(2).locator("td:nth-child(4)").textContent(), "<script>alert(1)</script>");
  assert.equal(await page.locator("#hosts tbody script").count(), 0);
  assert.equal(await rows.nth(1).locator("td:nth-child(6)").textContent(), "0.412 ms");
  assert.equal(await rows.nth(2).locator("td:nth-child(8)").textContent(), "50 %");
  assert.equal(await rows.nth(2).locator(".strip .lost").count(), 1);

  await page.fill("#filter", "front");
  assert.deepEqual(await rows.locator("td:nth-child(2)").allTextContents(), ["web1"]);
  await page.fill("#filter", "");

  // A pass turns web1 red on the open page, without a reload.
  for (let tries = 0; tries < 50; ++tries) {
    stub.stdin.write("count\n");
    if (Number(await nextLine()) > 0) break;
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
  const started = Date.now();
  stub.stdin.write(JSON.stringify({ changed: [{ key: "198.18.0.5", name: "web1", host: "198.18.0.5",
    comment: "front", status: "red", since: 1800003000, error: "Timed out", latestRtt: null, medianRtt: null,
    loss: 1, strip: [-1] }] }) + "\n");
  await page.locator("#counts", { hasText: /^2 red, 0 yellow, 1 green$/ }).waitFor({ timeout: 2000 });
  console.log(`a pass reached the page in ${Date.now() - started} ms`);
  assert.deepEqual(await rows.locator("td:nth-child(2)").allTextContents(), ["web1", "old", "db1"]);
  assert.deepEqual(dialogs, []);
  assert.deepEqual(errors, []);
} catch (error) {
  failed = true;
  console.error(error);
} finally {
  await browser.close();
  stub.kill();
}
process.exit(failed ? 1 : 0);
