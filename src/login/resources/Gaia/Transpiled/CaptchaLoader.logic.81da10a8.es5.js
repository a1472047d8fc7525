/* The service's captcha cannot be shipped with this program, so the offline fall-back only
   says so: its runner rejects with a message the page shows and logs. */
(function (global) {
  global.useCaptcha = function () {
    return Promise.reject(new Error('本地不含验证组件，请连接网络后重试'));
  };
})(window);
