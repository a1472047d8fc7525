/* Companion of the offline logic script: it keeps a runner defined even when evaluated alone. */
(function (global) {
  if (typeof global.useCaptcha === 'function') return;
  global.useCaptcha = function () {
    return Promise.reject(new Error('本地不含验证组件，请连接网络后重试'));
  };
})(window);
