/* Activity sampling for the verification page. It reads only window.__USER_FP_CONFIG__ and
   keeps, in memory, the kinds and times of the last few configured events (no positions, no
   device properties); nothing is sent anywhere. */
(function (global) {
  var config = global.__USER_FP_CONFIG__;
  if (!config || typeof config !== 'object') return;
  var events = Object.prototype.toString.call(config.activityEvents) === '[object Array]' ? config.activityEvents : [];
  var maxLength = Math.max(0, Math.min(100, Number(config.logStackMaxLength) || 0));
  var samplingTime = Math.max(0, Number(config.samplingTime) || 0);
  var stack = [];
  var last = 0;
  function sample(e) {
    var now = new Date().getTime();
    if (now - last < samplingTime) return;
    last = now;
    stack.push({ type: String(e.type), at: now });
    while (stack.length > maxLength) stack.shift();
  }
  for (var i = 0; i < events.length; i++) {
    if (typeof events[i] === 'string' && global.document && global.document.addEventListener)
      global.document.addEventListener(events[i], sample, { passive: true });
  }
  global.__KRUserActivity = function () { return stack.slice(0); };
})(window);
