// What the browser tests share: Playwright's Chromium driver, or the end
// of the test with status 77 (skipped, for CTest) when Chromium or the npm
// packages are missing.
import { existsSync } from "node:fs";

export const chromiumPath = "/usr/bin/chromium";

export async function browserOrSkip() {
  if (!existsSync(chromiumPath)) {
    console.log(`skipped: needs ${chromiumPath} (Debian's chromium; scripts/install-deps.sh browser)`);
    process.exit(77);
  }
  try {
    return (await import("playwright-core")).chromium;
  } catch (error) {
    console.log(`skipped: needs playwright-core in tests/browser/node_modules (scripts/install-deps.sh browser): ${error.message}`);
    process.exit(77);
  }
}

export function launch(chromium) {
  // Root in a container has no user namespaces for Chromium's sandbox.
  return chromium.launch({ executablePath: chromiumPath, headless: true, args: ["--no-sandbox"] });
}
