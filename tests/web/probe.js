// Run before the page's own scripts (the test's server puts it at the top of the page): a clock
// the test can stop (Date.now, which SDL's ticks come from in the browser, and
// performance.now); the times at which frames were issued (each frame of the program ends with
// its fourth draw, the light-shaft composite), or, with `finish`, drawn (a read-back waits for
// the GPU), with `skip` the draws left out (the loop's own pace, with no work queued that a
// software renderer falls behind on); with `grab`, the next frame's pixels as the program drew
// them, read back at its end (rows from the bottom up, RGBA, base64) with their size; the size
// of the light mask, whose storage is the one texture specified without data; a request for
// fullscreen, which the page never makes (it would take the screen and change the drawing
// size), as a console error; and the audio context, the number of its output callbacks and the
// peak level they reached.
// In a block, so that none of its names is the page's.
{
const probe = window.velmoraProbe = { draws: 0, frames: [], audioCalls: 0, audioPeak: 0 };
const realNow = performance.now.bind(performance), realDateNow = Date.now;
performance.now = () => probe.clock ?? realNow();
Date.now = () => probe.clock ?? realDateNow();
const gl = WebGL2RenderingContext.prototype;
const drawArrays = gl.drawArrays, texImage2D = gl.texImage2D;
gl.drawArrays = function (...args) {
  if (!probe.skip) drawArrays.apply(this, args);
  if (++probe.draws % 4 !== 0) return;
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
  } else if (probe.finish) {
    this.readPixels(0, 0, 1, 1, this.RGBA, this.UNSIGNED_BYTE, new Uint8Array(4));
  }
  probe.frames.push(realNow());
};
gl.texImage2D = function (...args) {
  if (args.length === 9 && args[8] === null) probe.mask = [args[3], args[4]];
  return texImage2D.apply(this, args);
};
Element.prototype.requestFullscreen = async () => console.error('The page asks for fullscreen');
const createScriptProcessor = AudioContext.prototype.createScriptProcessor;
AudioContext.prototype.createScriptProcessor = function (...args) {
  const node = createScriptProcessor.apply(this, args);
  probe.audioContext = this;
  // Listens after the program's own handler, which it sets right after it creates the node.
  queueMicrotask(() => node.addEventListener('audioprocess', (e) => {
    probe.audioCalls += 1;
    probe.audioPeak = Math.max(probe.audioPeak, ...e.outputBuffer.getChannelData(0).map(Math.abs));
  }));
  return node;
};
}
