/*
 * docstation-client.js: a small client for the station's WebSocket service.
 * No framework, no build step; copy it into your page and load it with a
 * plain <script> tag (it also loads as a CommonJS module).
 *
 *   const station = new DocStationClient({ token: "..." });  // or { url, origin approved }
 *   station.addEventListener("frame", (e) => img.src = e.detail.dataUrl);
 *   station.addEventListener("reply", (e) => console.log(e.detail));
 *   station.connect();
 *   station.startPreview({ camidx: 1 });
 *   const shot = await station.captureBase64({ quality: 80 });   // reply 20003
 *
 * Events (DocStationClient is an EventTarget; every detail is the message object):
 *   "open", "close" ({code, reason, willReconnect, opened}), "error"
 *   "frame"   20001 preview frames: detail {base64, dataUrl, message}
 *   "reply"   every other message from the station (replies and pushes)
 *   "message" every message, frames included
 *   "20003", "20008", ... the message of that command only
 *
 * The station broadcasts every reply to every connected page, so a page may
 * also see replies to requests that another page made.
 *
 * Reconnecting: a connection that was open and is lost is tried again
 * (after 1 s, doubling up to 10 s, at most `maxRetries` failed tries in a
 * row). A connection that never opened is not tried again by itself: the
 * station refused it (the clerk said no, or no one answered the question)
 * or is not running, and trying again would put the question to the clerk
 * again and again. Call connect() again when the user asks for it.
 */
(function (root, factory) {
  const DocStationClient = factory();
  if (typeof module === "object" && module.exports) module.exports = DocStationClient;
  else root.DocStationClient = DocStationClient;
})(typeof self !== "undefined" ? self : this, function () {
  "use strict";

  const DEFAULT_PORT = 3417;

  // Commands a page sends, by name.
  const Command = Object.freeze({
    PREVIEW: 10001, CAPTURE_FILE: 10002, CAPTURE_BASE64: 10003, COLOUR_MODE: 10004,
    RESOLUTION: 10005, UPLOAD: 10006, CORRECTION: 10007, AUTO_CAPTURE: 10008, ANGLE: 10009,
    ID_CARD: 10010, CAPTURE_FILE_BASE64: 10011, CAMERA: 10012, ROTATE_RIGHT: 10013,
    ROTATE_LEFT: 10014, READ_FILE: 10021, RECORD_START: 10022, RECORD_STOP: 10023,
    ZOOM_IN: 10024, ZOOM_OUT: 10025, FINGERPRINT: 10026,
  });

  // Messages the station sends, by name.
  const Reply = Object.freeze({
    PREVIEW_STARTED: 20000, FRAME: 20001, FILE_CAPTURED: 20002, BASE64_CAPTURED: 20003,
    UPLOAD: 20006, SCENE_CHANGED: 20007, ID_CARD: 20008, FILE_BASE64: 20021, FINGERPRINT: 20026,
  });

  class DocStationClient extends EventTarget {
    /**
     * options.url        WebSocket address (default ws://127.0.0.1:3417/)
     * options.port       port, when url is not given
     * options.token      the station's per-start token (the bundled demo page gets it in its URL)
     * options.reconnect  reconnect after a lost connection (default true)
     * options.reconnectDelayMs  first delay, doubled up to 10 s (default 1000)
     * options.maxRetries  failed reconnection tries in a row before giving up (default 5)
     * options.replyTimeoutMs    how long request() waits for its reply (default 15000)
     */
    constructor(options = {}) {
      super();
      const port = options.port || DEFAULT_PORT;
      let url = options.url || `ws://127.0.0.1:${port}/`;
      if (options.token) {
        url += (url.includes("?") ? "&" : "?") + "token=" + encodeURIComponent(options.token);
      }
      this.url = url;
      this.reconnect = options.reconnect !== false;
      this.reconnectDelayMs = options.reconnectDelayMs || 1000;
      this.maxRetries = options.maxRetries === undefined ? 5 : options.maxRetries;
      this.failedRetries = 0;
      this.replyTimeoutMs = options.replyTimeoutMs || 15000;
      this.socket = null;
      this.frames = 0;
      this.wanted = false;
      this.retryDelay = this.reconnectDelayMs;
      this.retryTimer = null;
    }

    get connected() {
      return !!this.socket && this.socket.readyState === 1;
    }

    /** Connects once; see "Reconnecting" above for what happens when it fails. */
    connect() {
      this.wanted = true;
      this.failedRetries = 0;
      this.retryDelay = this.reconnectDelayMs;
      this.open(false);
    }

    open(isRetry) {
      clearTimeout(this.retryTimer);
      if (this.socket && this.socket.readyState <= 1) return;
      const socket = new WebSocket(this.url);
      let opened = false;
      this.socket = socket;
      socket.onopen = () => {
        opened = true;
        this.failedRetries = 0;
        this.retryDelay = this.reconnectDelayMs;
        this.emit("open", {});
      };
      socket.onerror = () => this.emit("error", {});
      socket.onclose = (event) => {
        if (this.socket !== socket) return;
        this.socket = null;
        if (!opened && isRetry) this.failedRetries += 1;
        const willReconnect = this.wanted && this.reconnect
          && (opened || (isRetry && this.failedRetries < this.maxRetries));
        this.emit("close", { code: event.code, reason: event.reason, willReconnect, opened });
        if (willReconnect) {
          this.retryTimer = setTimeout(() => this.open(true), this.retryDelay);
          this.retryDelay = Math.min(this.retryDelay * 2, 10000);
        }
      };
      socket.onmessage = (event) => this.receive(event.data);
    }

    disconnect() {
      this.wanted = false;
      clearTimeout(this.retryTimer);
      if (this.socket) this.socket.close();
    }

    receive(text) {
      let message;
      try {
        message = JSON.parse(text);
      } catch (e) {
        return;
      }
      if (!message || typeof message !== "object") return;
      if (message.command === Reply.FRAME) {
        this.frames += 1;
        // Frames are Base64 JPEG broken into lines of 76 characters.
        const base64 = String(message.video || "").replace(/\s+/g, "");
        this.emit("frame", { base64, dataUrl: "data:image/jpeg;base64," + base64, message });
      } else {
        this.emit("reply", message);
      }
      this.emit("message", message);
      this.emit(String(message.command), message);
    }

    emit(type, detail) {
      this.dispatchEvent(new CustomEvent(type, { detail }));
    }

    /** Sends {"command": command, ...members}; false when not connected. */
    send(command, members = {}) {
      if (!this.connected) return false;
      this.socket.send(JSON.stringify(Object.assign({ command }, members)));
      return true;
    }

    /**
     * Sends a command and resolves with the next message of `replyCommand`
     * (rejects after the reply timeout or when not connected).
     */
    request(command, members, replyCommand) {
      return new Promise((resolve, reject) => {
        const type = String(replyCommand);
        const onReply = (event) => {
          clearTimeout(timer);
          resolve(event.detail);
        };
        const timer = setTimeout(() => {
          this.removeEventListener(type, onReply);
          reject(new Error(`no reply ${replyCommand} to ${command}`));
        }, this.replyTimeoutMs);
        this.addEventListener(type, onReply, { once: true });
        if (!this.send(command, members)) {
          clearTimeout(timer);
          this.removeEventListener(type, onReply);
          reject(new Error("not connected"));
        }
      });
    }

    // --- Preview and camera ---
    /** camidx 1: the first camera; 0: the secondary one. Resolves with 20000. */
    startPreview({ camidx = 1, width = 0, height = 0, autocrop = 0, autograp = 0,
                   canvasWidth = 0, canvasHeight = 0 } = {}) {
      return this.request(Command.PREVIEW, {
        code: 1, camidx, width, height, autocrop, autograp,
        videoCanvas_width: canvasWidth, videoCanvas_height: canvasHeight,
      }, Reply.PREVIEW_STARTED);
    }
    stopPreview() { return this.send(Command.PREVIEW, { code: 0 }); }
    selectCamera(camidx) { return this.send(Command.CAMERA, { camidx }); }
    setResolution(width, height) { return this.send(Command.RESOLUTION, { width, height }); }
    /** 0 colour, 1 grey, 2 black-and-white, 3 black-and-white keeping red seals. */
    setColourMode(types) { return this.send(Command.COLOUR_MODE, { types }); }
    /** 0 whole frame, 1 the largest document, 2 every document. */
    setCorrection(bEnable) { return this.send(Command.CORRECTION, { bEnable }); }
    setAutoCapture(on) { return this.send(Command.AUTO_CAPTURE, { bEnable: on ? 1 : 0 }); }
    /** 0, 1, 2, 3 quarter turns clockwise. */
    setAngle(angle) { return this.send(Command.ANGLE, { angle }); }
    rotateRight() { return this.send(Command.ROTATE_RIGHT); }
    rotateLeft() { return this.send(Command.ROTATE_LEFT); }
    zoomIn() { return this.send(Command.ZOOM_IN); }
    zoomOut() { return this.send(Command.ZOOM_OUT); }

    // --- Capture ---
    /** Resolves with 20003 {"pic": Base64 JPEG}. */
    captureBase64({ quality = 80, bShow = 0 } = {}) {
      return this.request(Command.CAPTURE_BASE64, { quality, angle: 0, bShow }, Reply.BASE64_CAPTURED);
    }
    /** Writes an image file (jpg, jpeg, png, bmp, tif, tiff); resolves with 20002. */
    captureToFile(path, { quality = 80, angle = 0, bShow = 0 } = {}) {
      return this.request(Command.CAPTURE_FILE, { path, quality, angle, bShow }, Reply.FILE_CAPTURED);
    }
    /** Writes an image file and resolves with 20021 {"base64"} of it. */
    captureToFileAndBase64(path) {
      return this.request(Command.CAPTURE_FILE_BASE64, { path }, Reply.FILE_BASE64);
    }
    /** A file the station wrote for a page, or inside its working directory: 20021. */
    readFile(filepath) { return this.request(Command.READ_FILE, { filepath }, Reply.FILE_BASE64); }

    // --- Recording and upload ---
    /** Records into a video file (avi, mp4, mkv, mov) until recordStop(). */
    recordStart(filepath, { width = 0, height = 0, bitrate = 0 } = {}) {
      return this.send(Command.RECORD_START, { filepath, width, height, bitrate });
    }
    recordStop() { return this.send(Command.RECORD_STOP); }
    /** Posts a file to url (multipart, field "file"); resolves with the first 20006. */
    upload(path, url) { return this.request(Command.UPLOAD, { path, url }, Reply.UPLOAD); }

    // --- Devices ---
    /** Opens or closes the identity-card window; the card arrives as 20008. */
    toggleIdCard() { return this.send(Command.ID_CARD); }
    /** Opens or closes the fingerprint window; images arrive as 20026. */
    toggleFingerprint() { return this.send(Command.FINGERPRINT); }
  }

  DocStationClient.Command = Command;
  DocStationClient.Reply = Reply;
  DocStationClient.DEFAULT_PORT = DEFAULT_PORT;
  return DocStationClient;
});
