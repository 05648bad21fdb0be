#!/usr/bin/env node
// The demo page in a real browser: the station runs in service mode on a
// synthetic virtual camera under a virtual X display and opens its demo page
// through a launcher page (caught by a stand-in "xdg-open"); headless
// chromium opens that URL, must land on the demo page with its token, the
// preview must show frames, a Base64 capture and a file
// capture must come back, and a screenshot of the preview must not be blank.
//
// Usage: node demo_page.test.js <docstation executable> [<screenshot directory>]
// Exit codes: 0 passed, 1 failed, 77 skipped (no chromium on this machine).
"use strict";

const { spawn } = require("child_process");
const fs = require("fs");
const net = require("net");
const os = require("os");
const path = require("path");
const { fileURLToPath } = require("url");

const SKIP = 77;
const station = process.argv[2];
const shotDir = process.argv[3] || process.cwd();
const chromiumPath = process.env.DOCSTATION_CHROMIUM
  || ["/usr/bin/chromium", "/usr/bin/chromium-browser"].find((p) => fs.existsSync(p));

if (!chromiumPath) {
  console.log("SKIP: chromium is not installed (scripts/setup.sh installs it)");
  process.exit(SKIP);
}
let chromium;
try {
  ({ chromium } = require("playwright-core"));
} catch (e) {
  console.error("playwright-core is missing: run scripts/setup.sh (npm ci in tests/browser)");
  process.exit(1);
}

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

async function waitUntil(what, check, timeoutMs) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await check();
    if (value) return value;
    if (Date.now() > end) throw new Error("timed out waiting for " + what);
    await sleep(100);
  }
}

function freePort() {
  return new Promise((resolve, reject) => {
    const server = net.createServer();
    server.on("error", reject);
    server.listen(0, "127.0.0.1", () => {
      const { port } = server.address();
      server.close(() => resolve(port));
    });
  });
}

// A working directory with settings that switch the WebSocket service on.
function prepareHome(home) {
  fs.mkdirSync(path.join(home, "bin"));
  fs.mkdirSync(path.join(home, "VarEvuZu"));
  fs.writeFileSync(path.join(home, "system.ini"), [
    "[camera]", "isWebsocket=true", "isHttp=false", "",
    "[image]", "codec=jpg", "quality=85", "",
    "[user]", `documentsLocation=${path.join(home, "VarEvuZu")}`, "",
  ].join("\n"));
  const opener = path.join(home, "bin", "xdg-open");
  fs.writeFileSync(opener, `#!/bin/sh\nprintf '%s\\n' "$1" >> '${path.join(home, "opened.txt")}'\n`);
  fs.chmodSync(opener, 0o755);
}

function startStation(home, wsPort, httpPort) {
  const env = Object.assign({}, process.env, {
    HOME: home,
    // The single-instance socket lives in the temporary directory: a
    // station of its own, beside any other running on this machine.
    TMPDIR: home,
    PATH: path.join(home, "bin") + ":" + process.env.PATH,
    QT_QPA_PLATFORM: "xcb",
    DOCSTATION_VIRTUAL_CAMERAS: "synthetic:sizes=1280x720,fps=15,sheets=1",
    DOCSTATION_WS_PORT: String(wsPort),
    DOCSTATION_HTTP_PORT: String(httpPort),
  });
  delete env.BROWSER;
  const child = spawn("xvfb-run", ["-a", "-s", "-screen 0 1366x768x24", station], {
    cwd: home, env, detached: true, stdio: ["ignore", "pipe", "pipe"],
  });
  child.log = "";
  child.stdout.on("data", (d) => { child.log = (child.log + d).slice(-20000); });
  child.stderr.on("data", (d) => { child.log = (child.log + d).slice(-20000); });
  return child;
}

function stopStation(child) {
  if (!child || child.exitCode !== null) return;
  try { process.kill(-child.pid, "SIGTERM"); } catch (e) { /* already gone */ }
}

// Mean and spread of a PNG's pixels, measured by the browser itself.
async function pictureStats(page, png) {
  return page.evaluate(async (base64) => {
    const image = new Image();
    image.src = "data:image/png;base64," + base64;
    await image.decode();
    const canvas = document.createElement("canvas");
    canvas.width = image.naturalWidth;
    canvas.height = image.naturalHeight;
    const context = canvas.getContext("2d");
    context.drawImage(image, 0, 0);
    const { data } = context.getImageData(0, 0, canvas.width, canvas.height);
    let sum = 0, squares = 0, dark = 0, bright = 0;
    const n = data.length / 4;
    for (let i = 0; i < data.length; i += 4) {
      const grey = 0.299 * data[i] + 0.587 * data[i + 1] + 0.114 * data[i + 2];
      sum += grey;
      squares += grey * grey;
      if (grey < 80) dark += 1;
      if (grey > 180) bright += 1;
    }
    const mean = sum / n;
    return { width: canvas.width, height: canvas.height, mean,
             spread: Math.sqrt(squares / n - mean * mean), dark: dark / n, bright: bright / n };
  }, png.toString("base64"));
}

function check(condition, message) {
  if (!condition) throw new Error(message);
  console.log("ok - " + message);
}

async function main() {
  const home = fs.mkdtempSync(path.join(os.tmpdir(), "docstation-browser-"));
  let child, browser;
  try {
    prepareHome(home);
    const wsPort = await freePort();
    const httpPort = await freePort();
    child = startStation(home, wsPort, httpPort);

    const opened = path.join(home, "opened.txt");
    const launcherUrl = await waitUntil("the station to open its demo page",
      () => fs.existsSync(opened) && fs.readFileSync(opened, "utf8").split("\n")[0], 60000)
      .catch((e) => { throw new Error(e.message + "\n" + child.log); });
    // Openers of some desktops drop the query of a file address, so the
    // station opens a launcher without one that carries the token on.
    check(/^file:\/\/[^?#]*\.html$/.test(launcherUrl),
      "the station opens a launcher page without a query: " + launcherUrl);
    const launcher = fs.lstatSync(fileURLToPath(launcherUrl));
    check(launcher.isFile() && (launcher.mode & 0o7777) === 0o600,
      "the launcher is a regular file only its owner may read: " + (launcher.mode & 0o7777).toString(8));

    browser = await chromium.launch({
      executablePath: chromiumPath, headless: true,
      args: ["--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage"],
    });
    const page = await browser.newPage({ viewport: { width: 1366, height: 900 } });
    const pageErrors = [];
    page.on("pageerror", (e) => pageErrors.push(String(e)));
    await page.goto(launcherUrl + "?port=" + wsPort);
    await page.waitForURL(/\/wsVideoDemo\.html\?/, { timeout: 30000 });
    const demoUrl = page.url();
    check(new RegExp("^file://.*/Resources/tavel-web/wsVideoDemo\\.html\\?token=[0-9a-f]{16,}&dir=[^&]+&port="
      + wsPort + "$").test(demoUrl),
      "the launcher leads to the installed demo page with a token, the working directory and the port: "
        + demoUrl.replace(/token=[0-9a-f]*/, "token=…"));
    const stationDir = path.dirname(fs.realpathSync(station));
    check(fs.realpathSync(fileURLToPath(demoUrl))
        === path.join(stationDir, "Resources/tavel-web/wsVideoDemo.html"),
      "the page lies in Resources/ beside the executable");

    await page.waitForFunction(() => document.getElementById("status").textContent === "已连接",
      null, { timeout: 30000 });
    check(true, "the page connects with its token");
    await page.waitForFunction(() => Number(document.getElementById("frameCount").textContent) >= 10,
      null, { timeout: 30000 });
    check(true, "preview frames arrive");

    // A page without the token is turned away (no consent given).
    const refused = await page.evaluate((port) => new Promise((resolve) => {
      const socket = new WebSocket(`ws://127.0.0.1:${port}/`);
      socket.onopen = () => resolve("open");
      socket.onerror = () => resolve("refused");
      setTimeout(() => resolve("timeout"), 15000);
    }), wsPort);
    check(refused === "refused", "a connection from the file page without the token is refused");

    // Captures go into the clerk's working directory, not into /tmp where
    // every user of the machine may read them.
    const documents = path.join(home, "VarEvuZu");
    check(await page.inputValue("#filePath") === path.join(documents, "docstation_demo.jpg")
      && await page.inputValue("#videoPath") === path.join(documents, "docstation_demo.avi"),
      "the page offers capture names in the working directory");

    await page.click("#btnBase64");
    const base64Size = await page.waitForFunction(() => {
      const img = document.getElementById("base64Result");
      return img.complete && img.naturalWidth > 0 && [img.naturalWidth, img.naturalHeight];
    }, null, { timeout: 30000 }).then((handle) => handle.jsonValue());
    check(base64Size[0] > 0 && base64Size[1] > 0, `the Base64 capture shows (${base64Size.join("x")})`);

    // A second demo page sees the first one's replies (they go to every
    // page) but must not answer them with requests of its own.
    const other = await browser.newPage({ viewport: { width: 1366, height: 900 } });
    other.on("pageerror", (e) => pageErrors.push(String(e)));
    await other.goto(demoUrl);
    await other.waitForFunction(() => document.getElementById("status").textContent === "已连接",
      null, { timeout: 30000 });
    const replies = (p, command) => p.textContent("#log")
      .then((text) => text.split(`"command":${command}`).length - 1);

    const target = path.join(home, "VarEvuZu", "browser_capture.jpg");
    await page.fill("#filePath", target);
    await page.click("#btnFile");
    await page.waitForFunction(() => document.getElementById("fileCaption").textContent.startsWith("已保存"),
      null, { timeout: 30000 });
    await waitUntil("the other page to see the reply 20002", async () => await replies(other, 20002) >= 1, 30000);
    check(!(await other.textContent("#fileCaption")).startsWith("已保存"),
      "the other page does not take the capture for its own");
    // Anything the other page sent on seeing 20002 is answered before its next request.
    const captures = await replies(page, 20003);
    await other.click("#btnBase64");
    await waitUntil("the other page's capture", async () => await replies(page, 20003) > captures, 30000);
    check(await replies(page, 20021) === 1, "only the page that captured reads its file back (one 20021)");
    await other.close();
    const written = fs.readFileSync(target);
    check(written[0] === 0xff && written[1] === 0xd8 && written.length > 10000,
      `the file capture is a JPEG on disk (${written.length} bytes)`);
    await page.waitForFunction(() => document.getElementById("fileResult").naturalWidth > 0,
      null, { timeout: 30000 });
    check(true, "the file comes back to the page (10021)");

    const log = await page.textContent("#log");
    for (const command of ["20000", "20002", "20003", "20021"])
      check(log.includes(`"command":${command}`), `the page shows reply ${command}`);

    fs.mkdirSync(shotDir, { recursive: true });
    await page.screenshot({ path: path.join(shotDir, "demo-page.png") });
    const preview = await page.locator("#preview").screenshot();
    fs.writeFileSync(path.join(shotDir, "demo-preview.png"), preview);
    const stats = await pictureStats(page, preview);
    console.log("preview screenshot", JSON.stringify(stats));
    check(stats.spread > 20 && stats.dark > 0.05 && stats.bright > 0.05,
      "the preview screenshot shows the scene (dark table, bright sheet), not a blank");
    check(pageErrors.length === 0, "no script errors on the page " + pageErrors.join("; "));
  } finally {
    if (browser) await browser.close().catch(() => {});
    stopStation(child);
    await sleep(300);
    fs.rmSync(home, { recursive: true, force: true });
  }
}

main().then(() => process.exit(0), (error) => {
  console.error("FAILED: " + (error && error.stack || error));
  process.exit(1);
});
