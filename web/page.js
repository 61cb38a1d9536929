// The page around the module: the start choice, the canvas at the window's size, the
// content fetched over HTTP, Escape and full screen, and the message boxes.
(function () {
    "use strict";

    var canvas = document.getElementById("canvas");
    var choice = document.getElementById("choice");
    var startButton = document.getElementById("start");
    var fullscreenBox = document.getElementById("fullscreen");
    var messages = document.getElementById("messages");

    var query = new URLSearchParams(window.location.search);
    var at = query.get("at");
    var atTime = at !== null && /^[0-9]{1,10}$/.test(at) ? Number(at) : -1;
    if (atTime > 4294967295) {
        atTime = -1;
    }

    // The drawing buffer has the window's size in device pixels.
    function fitCanvas() {
        var ratio = window.devicePixelRatio || 1;
        canvas.width = Math.max(1, Math.round(canvas.clientWidth * ratio));
        canvas.height = Math.max(1, Math.round(canvas.clientHeight * ratio));
    }
    fitCanvas();
    window.addEventListener("resize", fitCanvas);

    function box(caption, text, plain) {
        var div = document.createElement("div");
        div.className = plain ? "box plain" : "box";
        var h = document.createElement("h2");
        h.textContent = caption;
        var pre = document.createElement("pre");
        pre.textContent = text;
        div.appendChild(h);
        div.appendChild(pre);
        messages.appendChild(div);
    }

    // A plain word for a browser that lacks what the show needs.
    function lacking(text) {
        console.error(text);
        box("lumenfall", text, true);
        choice.hidden = true;
        page.state = "unsupported";
    }

    function hasWebGL() {
        try {
            var probe = document.createElement("canvas");
            return !!(window.WebGLRenderingContext &&
                      (probe.getContext("webgl") || probe.getContext("experimental-webgl")));
        } catch (e) {
            return false;
        }
    }

    function hasOggVorbis() {
        var audio = document.createElement("audio");
        var Context = window.AudioContext || window.webkitAudioContext;
        return !!Context && !!audio.canPlayType &&
               audio.canPlayType('audio/ogg; codecs="vorbis"') !== "";
    }

    function isFullscreen() {
        return !!(document.fullscreenElement || document.webkitFullscreenElement);
    }

    var startResolve = null;
    var startChosen = new Promise(function (resolve) { startResolve = resolve; });

    var page = {
        atTime: atTime,
        // "choice", "loading", "show", "frame", "failed", "unsupported"
        state: atTime >= 0 ? "loading" : "choice",
        endRequested: false,
        barEnd: -1,
        musicTime: -1,
        clickedAt: -1,
        firstFrameAt: -1,
        audioTime: -1,
        content: null,
        waitForStart: function () { return startChosen; },
        showMessage: function (caption, text) {
            box(caption, text, false);
            if (caption === "Error") {
                page.state = "failed";
            }
        },
        noOggVorbis: function () {
            box("lumenfall", "This browser cannot decode Ogg Vorbis audio, which the show's " +
                "music is. Try another browser.", true);
        },
        loaded: function (barEnd) {
            page.barEnd = barEnd;
            page.state = "show";
        },
        frameDone: function (t) {
            page.musicTime = t;
            if (page.firstFrameAt < 0) {
                page.firstFrameAt = performance.now();
            }
            // The audio clock when this frame's music time was read, for comparing the two.
            var audio = window.Module && Module.webAudio;
            page.audioTime = audio && audio.context ? audio.context.currentTime : -1;
            if (atTime >= 0) {
                page.state = "frame";
            }
        },
        showEnded: function () { restart(); }
    };
    window.lumenfallPage = page;

    // Back to the start choice: a fresh page, the content again from the browser's cache.
    function restart() {
        page.state = "ended";
        if (isFullscreen() && document.exitFullscreen) {
            document.exitFullscreen().catch(function () {});
        }
        window.location.reload();
    }

    function endShow() {
        if (page.state === "show") {
            page.endRequested = true;  // the frame loop stops and calls showEnded
        } else if (page.state === "loading") {
            restart();
        }
    }

    document.addEventListener("keydown", function (event) {
        if (event.key === "Escape" || event.key === "Esc") {
            endShow();
        }
    });
    function fullscreenChanged() {
        fitCanvas();
        if (!isFullscreen() && page.wentFullscreen) {
            endShow();
        }
    }
    document.addEventListener("fullscreenchange", fullscreenChanged);
    document.addEventListener("webkitfullscreenchange", fullscreenChanged);

    function waitForSize() {
        return new Promise(function (resolve) {
            requestAnimationFrame(function () { requestAnimationFrame(resolve); });
        });
    }

    startButton.addEventListener("click", function () {
        page.clickedAt = performance.now();
        choice.hidden = true;
        page.state = "loading";
        var goFullscreen = Promise.resolve();
        if (fullscreenBox.checked) {
            var root = document.documentElement;
            var request = root.requestFullscreen || root.webkitRequestFullscreen;
            if (request) {
                try {
                    goFullscreen = Promise.resolve(request.call(root)).then(function () {
                        page.wentFullscreen = true;
                    }).catch(function (e) {
                        console.warn("full screen refused: " + e);
                    });
                } catch (e) {
                    console.warn("full screen refused: " + e);
                }
            }
        }
        goFullscreen.then(waitForSize).then(function () {
            fitCanvas();
            canvas.focus();
            startResolve();
        });
    });

    if (!hasWebGL()) {
        lacking("This browser cannot show the show: it has no WebGL. Turn on hardware " +
                "acceleration or WebGL, or try another browser.");
        return;
    }
    if (atTime < 0 && !hasOggVorbis()) {
        lacking("This browser cannot play the show's music: it does not decode Ogg Vorbis " +
                "audio. Try another browser.");
        return;
    }

    page.content = fetch("demo.dat").then(function (response) {
        if (!response.ok) {
            console.error("demo.dat: HTTP " + response.status + " " + response.statusText);
            return null;
        }
        return response.arrayBuffer().then(function (buffer) { return new Uint8Array(buffer); });
    }).catch(function (e) {
        console.error("demo.dat cannot be fetched: " + e);
        return null;
    });

    window.Module = {
        page: page,
        canvas: canvas,
        print: function (text) { console.log(text); },
        printErr: function (text) { console.error(text); },
        onAbort: function (what) {
            box("Error", "The show stopped: " + what, false);
            page.state = "failed";
        }
    };
    if (atTime < 0) {
        choice.hidden = false;
        startButton.focus();
    }
    var script = document.createElement("script");
    script.src = "lumenfall.js";
    document.body.appendChild(script);
})();
