#include "static_assets.h"

// korvalinde-html's look: the same colours, type and widths.
const std::string_view STYLE_SHEET = R"css(
:root { --ink: #1b1f24; --muted: #57606a; --line: #d0d7de; --card: #f6f8fa; --link: #0b57d0;
        --page: #fff; }
@media (prefers-color-scheme: dark) {
  :root { --ink: #e6edf3; --muted: #9aa4af; --line: #3d444d; --card: #161b22; --link: #8ab4f8;
          --page: #0d1117; }
}
* { box-sizing: border-box; }
html { -webkit-text-size-adjust: 100%; text-size-adjust: 100%; }
body { margin: 0; background: var(--page); color: var(--ink);
       font: 16px/1.5 system-ui, -apple-system, "Segoe UI", Roboto, sans-serif; }
main { max-width: 60rem; margin: 0 auto; padding: 1rem; }
h1 { font-size: 1.6rem; margin: 0.5rem 0 0.25rem; overflow-wrap: anywhere; }
h2 { font-size: 1.25rem; margin: 2rem 0 0.5rem; border-bottom: 1px solid var(--line); }
.note, footer { color: var(--muted); font-size: 0.9rem; }
a { color: var(--link); }
.id { font-family: ui-monospace, "DejaVu Sans Mono", Menlo, Consolas, monospace;
      white-space: nowrap; }
.name { overflow-wrap: anywhere; color: var(--muted); }
nav { font-size: 0.9rem; display: flex; flex-wrap: wrap; gap: 0.25rem 1rem; }
form { background: var(--card); border: 1px solid var(--line); border-radius: 6px;
       padding: 0.75rem; margin: 1rem 0; display: flex; flex-wrap: wrap; gap: 0.5rem;
       align-items: end; }
label { display: flex; flex-direction: column; font-size: 0.85rem; color: var(--muted);
        flex: 1 1 12rem; }
input { font: inherit; padding: 0.35rem 0.5rem; border: 1px solid var(--line);
        border-radius: 4px; background: var(--page); color: var(--ink); width: 100%; }
button { font: inherit; padding: 0.35rem 1rem; border: 1px solid var(--line);
         border-radius: 4px; background: var(--link); color: var(--page); cursor: pointer; }
dl.figures { display: grid; grid-template-columns: repeat(auto-fit, minmax(8.5rem, 1fr));
             gap: 0.5rem; margin: 0; }
dl.figures div { background: var(--card); border: 1px solid var(--line); border-radius: 6px;
                 padding: 0.5rem 0.75rem; }
dt { font-size: 0.85rem; color: var(--muted); }
dd { margin: 0; font-size: 1.35rem; font-variant-numeric: tabular-nums; }
ol.chain { list-style: none; padding: 0; margin: 0.5rem 0 1rem; border-left: 3px solid var(--link); }
ol.chain li { padding: 0.2rem 0.75rem; }
ol.chain li + li::before { content: "\2193  signed "; color: var(--muted); font-size: 0.8rem;
                           display: block; }
ul.keys { padding-left: 1.25rem; }
ul.keys li { margin: 0.15rem 0; }
pre.report { background: var(--card); border: 1px solid var(--line); border-radius: 6px;
             padding: 0.75rem; white-space: pre-wrap; overflow-wrap: anywhere;
             font: 0.85rem/1.4 ui-monospace, "DejaVu Sans Mono", Menlo, Consolas, monospace; }
.error { border-left: 3px solid #c62828; padding-left: 0.75rem; }
footer { margin: 2rem 0 1rem; border-top: 1px solid var(--line); padding-top: 0.5rem; }
@media (max-width: 40rem) {
  main { padding: 0.75rem; }
  .id { white-space: normal; }
}
)css";

// Suggestions while typing: fills each search field's datalist from
// /api/search. The forms work the same without it.
const std::string_view SEARCH_SCRIPT = R"js("use strict";
(function () {
  var timers = new WeakMap();
  function suggest(input) {
    var list = document.getElementById(input.getAttribute("list"));
    var text = input.value.trim();
    if (!list || text.length < 2) return;
    fetch("/api/search?limit=10&q=" + encodeURIComponent(text))
      .then(function (r) { return r.ok ? r.json() : []; })
      .then(function (keys) {
        list.replaceChildren();
        keys.forEach(function (k) {
          var option = document.createElement("option");
          option.value = k.id;
          option.label = k.name === null ? k.id : k.name;
          list.appendChild(option);
        });
      })
      .catch(function () {});
  }
  document.querySelectorAll("input[data-suggest]").forEach(function (input) {
    input.addEventListener("input", function () {
      clearTimeout(timers.get(input));
      timers.set(input, setTimeout(function () { suggest(input); }, 150));
    });
    // A field the page arrived with filled in gets its suggestions at once.
    suggest(input);
  });
})();
)js";
