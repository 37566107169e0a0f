// Firefox for browser.py, driven over WebDriver BiDi (which Firefox speaks itself) by
// puppeteer-core (found through NODE_PATH): in a real window on the X display, one page in one
// tab. It reads one request a line on standard input, a JSON array [command, ...arguments],
// and answers each with one JSON line: {value} or {error}.
//   load URL WIDTH HEIGHT SCALE   the page at WIDTH x HEIGHT CSS pixels, SCALE device pixels each
//   resize WIDTH HEIGHT SCALE     the same for the page already shown
//   evaluate SCRIPT               the value of the script's last statement
//   click X Y | key KEY           a click at (X, Y) CSS pixels, a key press
//   console                       [level, text] of each message since the last call
const puppeteer = require('puppeteer-core');
const readline = require('node:readline');

const LEVELS = { error: 'error', assert: 'error', warn: 'warning', debug: 'debug' };
const messages = [];

async function main() {
  const browser = await puppeteer.launch({
    browser: 'firefox',
    executablePath: process.env.VELMORA_FIREFOX || '/usr/bin/firefox-esr',
    headless: false,
    // WebGL on Mesa's llvmpipe, which Firefox otherwise leaves out as too slow; audio waits
    // for a click or a key press, as with Firefox's default settings.
    extraPrefsFirefox: {
      'webgl.force-enabled': true,
      'media.autoplay.default': 1,
      'media.autoplay.block-webaudio': true,
    },
  });
  const [page] = await browser.pages();
  page.on('console', (m) => messages.push([LEVELS[m.type()] ?? 'info', m.text()]));
  page.on('pageerror', (e) => messages.push(['error', String(e.message ?? e)]));
  page.on('requestfailed', (r) => messages.push(['error', `Failed to load resource: ${r.url()}`]));
  page.on('response', (r) => {
    if (r.status() >= 400) messages.push(['error', `Failed to load resource: ${r.status()}`]);
  });

  const commands = {
    load: async (url, width, height, scale) => {
      await page.setViewport({ width, height, deviceScaleFactor: scale });
      await page.goto(url);
    },
    resize: (width, height, scale) => page.setViewport({ width, height, deviceScaleFactor: scale }),
    evaluate: (script) => page.evaluate((text) => (0, eval)(text), script),
    click: (x, y) => page.mouse.click(x, y),
    key: (key) => page.keyboard.press(key),
    console: () => messages.splice(0),
  };
  for await (const line of readline.createInterface({ input: process.stdin })) {
    const [command, ...args] = JSON.parse(line);
    try {
      const value = await commands[command](...args);
      process.stdout.write(JSON.stringify({ value: value ?? null }) + '\n');
    } catch (e) {
      process.stdout.write(JSON.stringify({ error: String(e.stack ?? e) }) + '\n');
    }
  }
  await browser.close();
}

main().catch((e) => {
  process.stdout.write(JSON.stringify({ error: String(e.stack ?? e) }) + '\n');
  process.exit(1);
});
