/* Promises for web views that have none: enough for then/catch, resolve, reject and the
   chaining the verification page relies on. Current engines keep their own. */
(function (global) {
  if (typeof global.Promise === 'function') return;
  var later = typeof global.setTimeout === 'function' ? function (f) { global.setTimeout(f, 0); } : function (f) { f(); };
  function SimplePromise(executor) {
    var self = this;
    self._state = 0; self._value = undefined; self._handlers = [];
    function settle(state, value) {
      if (self._state !== 0) return;
      if (state === 1 && value && (typeof value === 'object' || typeof value === 'function')) {
        var then;
        try { then = value.then; } catch (e) { return settle(2, e); }
        if (typeof then === 'function') {
          var done = false;
          try {
            then.call(value, function (v) { if (!done) { done = true; settle(1, v); } },
                             function (r) { if (!done) { done = true; settle(2, r); } });
          } catch (e) { if (!done) { done = true; settle(2, e); } }
          return;
        }
      }
      self._state = state; self._value = value;
      var handlers = self._handlers; self._handlers = [];
      for (var i = 0; i < handlers.length; i++) run(handlers[i]);
    }
    function run(h) {
      later(function () {
        var callback = self._state === 1 ? h.fulfilled : h.rejected;
        if (typeof callback !== 'function') { (self._state === 1 ? h.resolve : h.reject)(self._value); return; }
        try { h.resolve(callback(self._value)); } catch (e) { h.reject(e); }
      });
    }
    self._run = function (h) { if (self._state === 0) self._handlers.push(h); else run(h); };
    try { executor(function (v) { settle(1, v); }, function (r) { settle(2, r); }); } catch (e) { settle(2, e); }
  }
  SimplePromise.prototype.then = function (fulfilled, rejected) {
    var self = this;
    return new SimplePromise(function (resolve, reject) {
      self._run({ fulfilled: fulfilled, rejected: rejected, resolve: resolve, reject: reject });
    });
  };
  SimplePromise.prototype['catch'] = function (rejected) { return this.then(undefined, rejected); };
  SimplePromise.resolve = function (v) { return v instanceof SimplePromise ? v : new SimplePromise(function (resolve) { resolve(v); }); };
  SimplePromise.reject = function (r) { return new SimplePromise(function (resolve, reject) { reject(r); }); };
  global.Promise = SimplePromise;
})(window);
