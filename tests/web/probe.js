// Run before the page's own scripts: a clock the test can stop (Date.now, which SDL's ticks come
// from in the browser, and performance.now); the times at which frames were issued (each frame of
// the program ends with its fourth draw, the light-shaft composite), or, with `finish`, drawn (a
// read-back waits for the GPU), with `skip` the draws left out (the loop's own pace, with no work
// queued that the software renderer falls behind on); the frame count at the last resize of the
// page; a request for fullscreen, which the page never makes (it would take the screen and change
// the drawing size), as a console error; and the number of audio output callbacks and the peak
// level they reached.
// In a block, so that none of its names is the page's.
{
const probe = window.velmoraProbe = { draws: 0, frames: [], audioCalls: 0, audioPeak: 0 };
const realNow = performance.now.bind(performance), realDateNow = Date.now;
performance.now = () => probe.clock ?? realNow();
Date.now = () => probe.clock ?? realDateNow();
const drawArrays = WebGL2RenderingContext.prototype.drawArrays;
WebGL2RenderingContext.prototype.drawArrays = function (...args) {
  if (!probe.skip) drawArrays.apply(this, args);
  if (++probe.draws % 4 !== 0) return;
  if (probe.finish) this.readPixels(0, 0, 1, 1, this.RGBA, this.UNSIGNED_BYTE, new Uint8Array(4));
  probe.frames.push(realNow());
};
addEventListener('resize', () => { probe.resizedAt = probe.frames.length; });
Element.prototype.requestFullscreen = async () => console.error('The page asks for fullscreen');
const createScriptProcessor = AudioContext.prototype.createScriptProcessor;
AudioContext.prototype.createScriptProcessor = function (...args) {
  const node = createScriptProcessor.apply(this, args);
  // Listens after the program's own handler, which it sets right after it creates the node.
  queueMicrotask(() => node.addEventListener('audioprocess', (e) => {
    probe.audioCalls += 1;
    probe.audioPeak = Math.max(probe.audioPeak, ...e.outputBuffer.getChannelData(0).map(Math.abs));
  }));
  return node;
};
}
