#include "search_script.h"

// Finds keys in the split index (search_index.h): a key id (8 or 16 hex
// digits, "0x" allowed, or a 40-digit fingerprint with or without spaces,
// whose last 16 digits are the key id), or words of a user id. Results are
// put in with textContent only: a user id is never read as markup. The
// page's address may carry a search (index.html?q=...), done on opening.
const char* const SEARCH_SCRIPT = R"js("use strict";
(function () {
  var section = document.getElementById("find");
  if (!section) return;
  var form = section.querySelector("form");
  var input = section.querySelector("input");
  var list = section.querySelector("ol");
  var status = section.querySelector("p.find-status");
  var hasNames = section.hasAttribute("data-names");
  var loaded = {};
  var waiting = {};
  var SHOWN = 50;

  window.korvalindeIndex = function (name, data) {
    loaded[name] = data;
    var callbacks = waiting[name] || [];
    delete waiting[name];
    callbacks.forEach(function (done) { done(data); });
  };

  function load(name, done) {
    if (Object.prototype.hasOwnProperty.call(loaded, name)) return done(loaded[name]);
    if (waiting[name]) return waiting[name].push(done);
    waiting[name] = [done];
    var script = document.createElement("script");
    script.src = "index/" + name + ".js";
    // No file: no key under that prefix.
    script.onerror = function () { window.korvalindeIndex(name, { keys: [] }); };
    document.head.appendChild(script);
  }

  function lower(text) {
    return text.replace(/[A-Z]/g, function (c) { return c.toLowerCase(); });
  }

  function hex(text) {
    var bytes = new TextEncoder().encode(text);
    var out = "";
    for (var i = 0; i < bytes.length; i++) out += (bytes[i] < 16 ? "0" : "") + bytes[i].toString(16);
    return out;
  }

  function words(text) {
    return text.split(/[^0-9A-Za-z\u0080-\uFFFF]+/).filter(function (w) { return w.length > 0; });
  }

  function prefix(word, count) {
    var chars = Array.from(lower(word));
    return chars.length < count ? "" : chars.slice(0, count).join("");
  }

  // The 16-digit key id or the 8-digit one asked for, or null.
  function keyId(query) {
    var digits = query.replace(/\s+/g, "").replace(/^0x/i, "").toUpperCase();
    if (!/^[0-9A-F]+$/.test(digits)) return null;
    if (digits.length === 40) return digits.slice(24);
    return digits.length === 16 || digits.length === 8 ? digits : null;
  }

  function show(keys, more, what) {
    list.textContent = "";
    keys.slice(0, SHOWN).forEach(function (key) {
      var item = document.createElement("li");
      var link = document.createElement("a");
      link.className = "id";
      link.href = "keys/" + key[0] + ".html";
      link.textContent = key[0].slice(0, 8) + " " + key[0].slice(8);
      item.appendChild(link);
      if (key[1]) {
        var name = document.createElement("span");
        name.className = "name";
        name.dir = "auto";
        name.textContent = key[1];
        item.appendChild(name);
      }
      list.appendChild(item);
    });
    var text = keys.length === 0 ? "No key found for " + what + "." :
      keys.length + (keys.length === 1 ? " key" : " keys") + " found for " + what + ".";
    if (keys.length > SHOWN) text += " The first " + SHOWN + " are shown.";
    if (more) text += " The index holds only part of the keys for this word; try a longer one.";
    status.textContent = text;
  }

  function findId(id) {
    var low = id.slice(-8);
    load("ids/" + low.slice(0, 2), function (data) {
      show(data.keys.filter(function (key) { return key[0].slice(-id.length) === id; }),
           false, "key id " + id);
    });
  }

  function findName(query) {
    var asked = words(query).map(lower);
    var longest = asked.reduce(function (a, b) { return b.length > a.length ? b : a; }, "");
    var two = prefix(longest, 2);
    if (!two) return show([], false, "\u201c" + query + "\u201d (type two letters or more)");
    function match(data) {
      show(data.keys.filter(function (key) {
        var name = lower(key[1]);
        return asked.every(function (word) { return name.indexOf(word) >= 0; });
      }), !!data.more, "\u201c" + query + "\u201d");
    }
    load("names/" + hex(two), function (data) {
      var three = prefix(longest, 3);
      if (data.split && three) load("names/" + hex(three), match);
      else match(data);
    });
  }

  function find(query) {
    query = query.trim();
    if (!query) return;
    var id = keyId(query);
    if (id) findId(id);
    else if (hasNames) findName(query);
    else show([], false, "\u201c" + query + "\u201d (a key id has 8, 16 or 40 hex digits)");
  }

  form.addEventListener("submit", function (event) {
    event.preventDefault();
    find(input.value);
  });
  section.hidden = false;
  // A link to the page with ?q=... opens with that search done.
  var asked = new URLSearchParams(window.location.search).get("q");
  if (asked) {
    input.value = asked;
    find(asked);
  }
})();
)js";
