#include "platform/net/URLError.h"

namespace platform {

namespace URLError {

QString domain() { return QStringLiteral("NSURLErrorDomain"); }

QString message(int code)
{
    switch (code) {
    case Cancelled: return QStringLiteral("已取消");
    case BadURL: return QStringLiteral("错误的 URL");
    case TimedOut: return QStringLiteral("请求超时。");
    case UnsupportedURL: return QStringLiteral("不支持的 URL");
    case CannotFindHost: return QStringLiteral("未能找到使用指定主机名的服务器。");
    case CannotConnectToHost: return QStringLiteral("未能连接到服务器。");
    case NetworkConnectionLost: return QStringLiteral("网络连接已中断。");
    case HTTPTooManyRedirects: return QStringLiteral("重定向次数过多。");
    case NotConnectedToInternet: return QStringLiteral("似乎已断开与互联网的连接。");
    case BadServerResponse: return QStringLiteral("服务器响应错误。");
    case DataLengthExceedsMaximum: return QStringLiteral("资源超过最大大小。");
    case SecureConnectionFailed: return QStringLiteral("发生了 SSL 错误，无法建立与该服务器的安全连接。");
    case ServerCertificateUntrusted: return QStringLiteral("此服务器的证书无效。");
    default: return QStringLiteral("未知错误。");
    }
}

Error make(int code) { return Error(domain(), code, message(code)); }

} // namespace URLError

} // namespace platform
