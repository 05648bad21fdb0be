// docstation-client.js on its own, in node with a stand-in WebSocket: the
// address it connects to, the events it raises for frames and replies,
// requests answered or timed out, reconnecting after a lost connection and
// not after a refused one.
"use strict";

const assert = require("node:assert/strict");
const path = require("node:path");
const test = require("node:test");

const clientPath = process.argv[2]
  || path.join(__dirname, "../../app/Resources/tavel-web/docstation-client.js");

// Records what the client does with its sockets.
class FakeSocket {
  constructor(url) {
    this.url = url;
    this.readyState = 0;
    this.sent = [];
    FakeSocket.all.push(this);
  }
  send(text) { this.sent.push(JSON.parse(text)); }
  close() { this.drop(1000); }
  // What the station side does:
  accept() { this.readyState = 1; this.onopen && this.onopen({}); }
  push(message) { this.onmessage({ data: typeof message === "string" ? message : JSON.stringify(message, null, 4) }); }
  drop(code = 1006) { this.readyState = 3; this.onclose && this.onclose({ code, reason: "" }); }
}
FakeSocket.all = [];
global.WebSocket = FakeSocket;
const DocStationClient = require(clientPath);

const sleep = (ms) => new Promise((resolve) => setTimeout(resolve, ms));
function collect(client, type) {
  const seen = [];
  client.addEventListener(type, (e) => seen.push(e.detail));
  return seen;
}

test("connects to the local station with the token and raises frame and reply events", () => {
  FakeSocket.all = [];
  const client = new DocStationClient({ token: "ab12 cd", port: 4000 });
  const frames = collect(client, "frame");
  const replies = collect(client, "reply");
  const captures = collect(client, "20003");
  client.connect();
  const socket = FakeSocket.all[0];
  assert.equal(socket.url, "ws://127.0.0.1:4000/?token=ab12%20cd");
  socket.accept();
  assert.equal(client.connected, true);

  socket.push({ command: 20001, video: "/9j/4AAQ\r\nSkZJRg==" });
  socket.push({ command: 20003, pic: "abc" });
  socket.push("not json");
  assert.equal(frames.length, 1);
  assert.equal(frames[0].base64, "/9j/4AAQSkZJRg==");
  assert.equal(frames[0].dataUrl, "data:image/jpeg;base64,/9j/4AAQSkZJRg==");
  assert.equal(client.frames, 1);
  assert.deepEqual(replies.map((r) => r.command), [20003]);
  assert.deepEqual(captures, [{ command: 20003, pic: "abc" }]);
  client.disconnect();
});

test("sends each command with its members", async () => {
  FakeSocket.all = [];
  const client = new DocStationClient({ replyTimeoutMs: 200 });
  client.connect();
  const socket = FakeSocket.all[0];
  assert.equal(socket.url, "ws://127.0.0.1:3417/");
  socket.accept();

  const started = client.startPreview({ camidx: 0, width: 1920, height: 1080, autocrop: 1, canvasWidth: 800 });
  socket.push({ command: 20000, width: 1920, height: 1080 });
  assert.equal((await started).width, 1920);
  client.captureToFile("/w/a.jpg", { quality: 70 }).catch(() => {});
  client.recordStart("/w/v.avi");
  client.recordStop();
  client.setAutoCapture(true);
  client.rotateLeft();
  client.zoomIn();
  client.toggleIdCard();
  client.toggleFingerprint();
  client.upload("/w/a.jpg", "http://127.0.0.1:9/up").catch(() => {});
  assert.deepEqual(socket.sent[0], { command: 10001, code: 1, camidx: 0, width: 1920, height: 1080,
    autocrop: 1, autograp: 0, videoCanvas_width: 800, videoCanvas_height: 0 });
  assert.deepEqual(socket.sent.slice(1).map((m) => m.command),
    [10002, 10022, 10023, 10008, 10014, 10024, 10010, 10026, 10006]);
  assert.deepEqual(socket.sent[1], { command: 10002, path: "/w/a.jpg", quality: 70, angle: 0, bShow: 0 });
  assert.deepEqual(socket.sent[4], { command: 10008, bEnable: 1 });
  assert.deepEqual(socket.sent[9], { command: 10006, path: "/w/a.jpg", url: "http://127.0.0.1:9/up" });

  await assert.rejects(client.captureBase64(), /no reply 20003/);
  client.disconnect();
  await assert.rejects(client.readFile("/w/a.jpg"), /not connected/);
  assert.equal(client.send(10013), false);
});

test("reconnects after a lost connection until disconnected", async () => {
  FakeSocket.all = [];
  const client = new DocStationClient({ reconnectDelayMs: 20 });
  const closes = collect(client, "close");
  client.connect();
  FakeSocket.all[0].accept();
  FakeSocket.all[0].drop();
  assert.equal(closes[0].willReconnect, true);
  await sleep(60);
  assert.equal(FakeSocket.all.length, 2, "a new connection after the delay");
  FakeSocket.all[1].drop();   // the station is still away: the delay doubles
  await sleep(25);
  assert.equal(FakeSocket.all.length, 2);
  await sleep(40);
  assert.equal(FakeSocket.all.length, 3);
  FakeSocket.all[2].accept();
  client.disconnect();
  assert.equal(closes.at(-1).willReconnect, false);
  await sleep(100);
  assert.equal(FakeSocket.all.length, 3, "no reconnecting after disconnect()");
});

test("a connection that never opened is not tried again until the page asks", (t) => {
  t.mock.timers.enable({ apis: ["setTimeout"] });
  FakeSocket.all = [];
  const client = new DocStationClient({ reconnectDelayMs: 1000 });
  const closes = collect(client, "close");
  client.connect();
  FakeSocket.all[0].drop();   // refused: the clerk said no, or no station runs
  assert.equal(closes[0].willReconnect, false);
  assert.equal(closes[0].opened, false);
  t.mock.timers.tick(10 * 60 * 1000);
  assert.equal(FakeSocket.all.length, 1, "the consent question is not put again by itself");

  client.connect();   // the user asks again
  assert.equal(FakeSocket.all.length, 2);
  FakeSocket.all[1].accept();
  FakeSocket.all[1].drop();   // lost: tried again, a bounded number of times
  for (let delay = 1000; FakeSocket.all.length < 20; delay = Math.min(delay * 2, 10000)) {
    const before = FakeSocket.all.length;
    t.mock.timers.tick(delay);
    if (FakeSocket.all.length === before) break;
    FakeSocket.all.at(-1).drop();
  }
  assert.equal(FakeSocket.all.length, 2 + 5, "five tries after the loss, then it stops");
  assert.equal(closes.at(-1).willReconnect, false);
  t.mock.timers.tick(10 * 60 * 1000);
  assert.equal(FakeSocket.all.length, 7);
  client.disconnect();
});
