// Run before the page's own scripts (the test's server puts it at the top of the page): a clock
// the test can stop (Date.now, which SDL's ticks come from in the browser, and performance.now);
// the times at which the last 21 frames were issued (each frame of the program ends with its
// fourth draw, the light-shaft composite), with `skip` the draws left out (frames cheaper than a
// refresh, to see the program's own pace); with `grab`, the next frame's pixels as the program
// drew them, read back at its end (rows from the bottom up, RGBA, base64) with their size; the
// size of the light mask, whose storage is the one texture specified without data; a request
// for fullscreen, which the page never makes (it would take the screen and change the drawing
// size), as a console error; the audio context, the peak level its output reached and the
// events in which it was asked to resume; the audio session's type (an object of the probe's
// where the browser has none); the hint and the loading note; with `suspend`, the audio context
// suspended as a lock of the phone does; with `lose`, the WebGL context lost and, half a second
// later, asked back; and the console, as [level, text] (level one of error, warning, info,
// debug), with the page's uncaught errors and, at the end of each frame, any WebGL error. 200 ms
// after each exchange (none overlap, however slow the link) it takes the settings the test has
// left for it on the test's server (GET /settings) and sends what the test checks there (POST
// /report), the picture once.
// In a block, so that none of its names is the page's.
{
const probe = window.velmoraProbe = { draws: 0, frames: [], audioPeak: 0, console: [], restored: 0, resumes: [] };
navigator.audioSession ??= { type: 'auto' };
for (const [name, level] of [['log', 'info'], ['info', 'info'], ['warn', 'warning'],
  ['error', 'error'], ['debug', 'debug']]) {
  const real = console[name];
  console[name] = (...args) => probe.console.push([level, args.join(' ')]) && real.apply(console, args);
}
addEventListener('error', (e) => console.error(`Uncaught: ${e.message}`));
addEventListener('unhandledrejection', (e) => console.error(`Unhandled: ${e.reason}`));
const realNow = performance.now.bind(performance), realDateNow = Date.now;
performance.now = () => probe.clock ?? realNow();
Date.now = () => probe.clock ?? realDateNow();
const gl = WebGL2RenderingContext.prototype;
const drawArrays = gl.drawArrays, texImage2D = gl.texImage2D;
gl.drawArrays = function (...args) {
  probe.gl = this;
  if (!probe.skip) drawArrays.apply(this, args);
  if (++probe.draws % 4 !== 0) return;
  const error = this.getError();  // losing the context, which the test asks for, is none
  if (error && error !== this.CONTEXT_LOST_WEBGL) console.error(`WebGL error 0x${error.toString(16)} in frame ${probe.frames.length}`);
  if (probe.grab) {
    const [width, height] = [this.drawingBufferWidth, this.drawingBufferHeight];
    const pixels = new Uint8Array(width * height * 4);
    this.readPixels(0, 0, width, height, this.RGBA, this.UNSIGNED_BYTE, pixels);
    let text = '';
    for (let i = 0; i < pixels.length; i += 0x8000) {
      text += String.fromCharCode(...pixels.subarray(i, i + 0x8000));
    }
    probe.picture = [width, height, btoa(text)];
    probe.grab = false;
  }
  probe.frames.push(realNow());
};
gl.texImage2D = function (...args) {
  if (args.length === 9 && args[8] === null) probe.mask = [args[3], args[4]];
  return texImage2D.apply(this, args);
};
Element.prototype.requestFullscreen = async () => console.error('The page asks for fullscreen');
const resume = AudioContext.prototype.resume;
AudioContext.prototype.resume = function () {
  probe.resumes.push(window.event?.type ?? 'none');
  return resume.apply(this);
};
const createScriptProcessor = AudioContext.prototype.createScriptProcessor;
AudioContext.prototype.createScriptProcessor = function (...args) {
  const node = createScriptProcessor.apply(this, args);
  probe.audioContext = this;
  // Listens after the program's own handler, which it sets right after it creates the node.
  queueMicrotask(() => node.addEventListener('audioprocess', (e) => {
    probe.audioPeak = Math.max(probe.audioPeak, ...e.outputBuffer.getChannelData(0).map(Math.abs));
  }));
  return node;
};
addEventListener('webglcontextrestored', () => probe.restored++, true);
(async function report() {
  try {
    Object.assign(probe, await (await fetch('/settings')).json());
    if (probe.suspend) probe.audioContext?.suspend();
    if (probe.lose) {
      const lose = probe.gl.getExtension('WEBGL_lose_context');
      lose.loseContext();
      setTimeout(() => lose.restoreContext(), 500);
    }
    probe.suspend = probe.lose = false;
    const canvas = document.getElementById('canvas'), box = canvas?.getBoundingClientRect();
    const hint = document.getElementById('sound-hint'), picture = probe.picture;
    const progress = document.getElementById('progress');
    delete probe.picture;
    await fetch('/report', { method: 'POST', body: JSON.stringify({
      frames: probe.frames.slice(-21), count: probe.frames.length,
      box: [canvas?.width, canvas?.height, box?.width, box?.height], mask: probe.mask,
      ratio: devicePixelRatio,
      audioPeak: probe.audioPeak, audio: probe.audioContext?.state, console: probe.console,
      hint: !!hint?.checkVisibility({ opacityProperty: true, visibilityProperty: true }) &&
        hint.textContent, progress: progress?.textContent, session: navigator.audioSession.type,
      restored: probe.restored, resumes: probe.resumes,
      picture }) });
  } finally {
    setTimeout(report, 200);
  }
})();
}
