// The pipeline of the account client: one exchange per request on a one-off worker of the
// request pipeline under the account kind of its address, the reply mapped to an error, the
// risk-control dump.

#include "account/KRAccountClient.h"

#include "account/KRAccountRiskChallenge.h"
#include "platform/foundation/AtomicFile.h"
#include "platform/foundation/Directories.h"
#include "platform/foundation/Dispatch.h"
#include "platform/net/HTTPExchange.h"
#include "platform/security/Hash.h"
#include "model/KRConsole.h"
#include "model/KRJSON.h"
#include "model/KRServiceHosts.h"
#include "model/KRTolerantValue.h"
#include "service/KRAsyncRequest.h"
#include "store/KRSessionStore.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QStringBuilder>
#include <QUrl>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

namespace {

const QString kNotLoggedIn = QStringLiteral("账号未登录");

// The reply's non-zero code, when it has one as a number or numeric text.
std::optional<qint64> replyCode(const QVariantMap& reply)
{
    const QVariant code = reply.value(QStringLiteral("code"));
    if (KRIsMissing(code) || !(KRIsNumber(code) || KRIsString(code)))
        return std::nullopt;
    return KRIntegerValue(code);
}

QString replyMessage(const QVariantMap& reply)
{
    const QVariant message = reply.value(QStringLiteral("message"));
    return KRIsString(message) ? message.toString() : QString();
}

void writeDiagnosticDump(const QString& path, const QVariant& json, const platform::HTTPResponse& response)
{
    const QVariantMap reply = json.toMap();
    const qint64 code = replyCode(reply).value_or(0);
    const QVariantMap challenge = KRAccountGaiaChallengeMetadata(json, &response);
    QVariantMap headerMap;
    for (const auto& field : response.headers.all())
        headerMap.insert(field.first, field.second);
    QVariantMap dump{{QStringLiteral("format_version"), 2},
                     {QStringLiteral("captured_at"), KRAPIClient::currentTime()},
                     {QStringLiteral("request_path"), path.isNull() ? QString() : path},
                     {QStringLiteral("http_status"), response.status},
                     {QStringLiteral("server_code"), code},
                     {QStringLiteral("payload_shape"), KRAccountRedactedShape(json, 0)},
                     {QStringLiteral("challenge"), challenge},
                     {QStringLiteral("response_header_names"), KRAccountSortedStringKeys(headerMap)}};
    if (KRIsString(reply.value(QStringLiteral("message"))))
        dump.insert(QStringLiteral("server_message"), reply.value(QStringLiteral("message")));
    const QByteArray text = QJsonDocument::fromVariant(dump).toJson(QJsonDocument::Indented);
    const QString target = KRAccountDiagnosticDumpPath();
    const bool written = !text.isEmpty() && platform::writeFileAtomically(target, text);
    const QVariant data = reply.value(QStringLiteral("data"));
    const QVariant gaData = KRIsDictionary(data) ? data.toMap().value(QStringLiteral("ga_data")) : QVariant();
    auto keys = [](const QVariant& value) {
        return KRAccountSortedStringKeys(KRIsDictionary(value) ? std::optional<QVariantMap>(value.toMap()) : std::nullopt)
            .join(QLatin1Char(','));
    };
    KRConsole::log(QStringLiteral("[KorvaneGaia] diagnostic=%1 code=%2 source=%3 payloadKeys=%4 dataKeys=%5 gaDataKeys=%6 "
                                  "bodyVoucherLength=%7 headerVoucherLength=%8")
                       .arg(written ? target : QStringLiteral("WRITE-FAILED"))
                       .arg(code)
                       .arg(challenge.value(QStringLiteral("source")).toString(), keys(json), keys(data), keys(gaData),
                            challenge.value(QStringLiteral("body_voucher_length")).toString(),
                            challenge.value(QStringLiteral("header_voucher_length")).toString()));
}

} // namespace

KROptionalError KRAccountErrorOfReply(const platform::HTTPResponse& response, QVariant& json)
{
    if (response.error) {
        json = QVariant();
        return *response.error;
    }
    const bool statusOK = response.status >= 200 && response.status <= 299;
    KROptionalError parseError;
    if (!response.body.isEmpty()) {
        QString why;
        json = KRJSONParse(response.body, &why);
        if (!json.isValid())
            parseError = KRJSONReaderError(why);
    }
    const bool object = KRIsDictionary(json);
    const std::optional<qint64> code = object ? replyCode(json.toMap()) : std::nullopt;
    if (!statusOK && !code)
        return KRAccountError(response.status, QStringLiteral("服务器返回 HTTP %1，请稍后重试").arg(response.status));
    if (parseError)
        return parseError;
    if (!object)
        return KRAccountError(-2, QStringLiteral("服务器响应无法解析"));
    if (code && *code != 0) {
        const QString message = replyMessage(json.toMap());
        return KRAccountError(*code, message.isEmpty() ? QStringLiteral("请求失败") : message);
    }
    return std::nullopt;
}

KRError KRAccountError(qint64 code, const QString& message)
{
    return KRError(KRAccountErrorDomain, code, message.isEmpty() ? QStringLiteral("请求失败") : message);
}

QString KRAccountDiagnosticDumpPath()
{
    QString folder = platform::Directories::caches();
    if (folder.isEmpty())
        folder = platform::Directories::temporary();
    return folder + QStringLiteral("/KorvaneGaiaDiagnostic.json");
}

KRAccountClient* KRAccountClient::sharedClient()
{
    static KRAccountClient* client = [] {
        auto* created = new KRAccountClient();
        KRPlaybackInfoProvider::install(created);
        return created;
    }();
    return client;
}

void KRAccountClient::resetForTesting()
{
    m_refreshInFlight = false;
    m_refreshWaiters.clear();
    m_refreshGeneration = 0;
    m_refreshLastFailureAt = 0;
    m_refreshLastFailureGeneration = 0;
    m_refreshLastError.reset();
}

// ---- Pipeline ----

void KRAccountClient::performURLString(const QString& url, const QString& method, const QVariantMap& parameters,
                                       bool requireLogin, QObject* owner, KRAccountJSONCompletion completion)
{
    performURLString(url, method, parameters, requireLogin, true, QString(), owner, std::move(completion));
}

void KRAccountClient::performURLString(const QString& url, const QString& method, const QVariantMap& parameters,
                                       bool requireLogin, const QString& referer, QObject* owner,
                                       KRAccountJSONCompletion completion)
{
    performURLString(url, method, parameters, requireLogin, true, referer, owner, std::move(completion));
}

void KRAccountClient::performURLString(const QString& url, const QString& method, const QVariantMap& parameters,
                                       bool requireLogin, bool includeSession, const QString& referer, QObject* owner,
                                       KRAccountJSONCompletion completion)
{
    performURLString(url, method, parameters, nullptr, requireLogin, includeSession, referer, owner, std::move(completion));
}

void KRAccountClient::performURLString(const QString& url, const QString& method, const QVariantMap& parameters,
                                       const QByteArray* formBody, bool requireLogin, bool includeSession,
                                       const QString& referer, QObject* owner, KRAccountJSONCompletion completion)
{
    completion = platform::ownedBy(owner, std::move(completion));
    auto answer = [&completion](const KRError& error) {
        if (completion)
            completion(QVariant(), nullptr, error);
    };
    if (requireLogin && !KRSessionStore::sharedStore().isLoggedIn())
        return answer(KRAccountError(-101, kNotLoggedIn));
    auto form = [&] { return formBody ? *formBody : KRAccountFormBody(parameters); };
    const bool json = method == QLatin1String("POST_JSON");
    Exchange request;
    request.content.method = json ? QStringLiteral("POST") : method;
    request.url = url;
    if (method == QLatin1String("GET") && !parameters.isEmpty())
        request.url += (url.contains(QLatin1Char('?')) ? QLatin1Char('&') : QLatin1Char('?')) + QString::fromUtf8(form());
    QUrl parsed = KRAPIClient::sharedClient()->URLWithString(request.url);
    if (!parsed.isValid())
        return answer(KRAccountError(-1, QStringLiteral("请求地址无效")));
    if (json) {
        if (std::optional<QByteArray> body = KRAccountJSONBody(parameters))
            request.content.body = std::move(*body);
        else
            request.unsendable = KRAccountError(-2, QStringLiteral("请求数据无法编码"));
        request.content.contentType = QStringLiteral("application/json; charset=UTF-8");
    } else if (request.content.method == QLatin1String("POST")) {
        request.content.body = form();
        request.content.contentType = QStringLiteral("application/x-www-form-urlencoded; charset=UTF-8");
    }
    request.includeSession = includeSession;
    request.content.referer = referer;
    request.path = parsed.path();
    const QString host = parsed.host().toLower();
    request.parsed = std::move(parsed);
    KRConsole::log(QString(QLatin1String("[KorvaneAccount] ") % request.content.method % QLatin1String(" host=") % host
                   % QLatin1String(" path=") % request.path));
    const KRRequestKind kind = KRAccountRequestKinds::forAddress(host, request.path);
    exchange(kind, std::move(request), owner, std::move(completion));
}

void KRAccountClient::exchange(KRRequestKind kind, Exchange request, QObject* owner, KRAccountJSONCompletion completion)
{
    struct Reply {
        QVariant json;
        std::shared_ptr<platform::HTTPResponse> response;
        KROptionalError error;
    };
    auto work = [kind, request = std::move(request)](const KRAsyncRequest&) {
        if (request.unsendable)
            return Reply{QVariant(), nullptr, request.unsendable};
        const KRRequestAddress address = request.parsed ? KRRequestAddress(request.url, *request.parsed)
                                                        : KRRequestAddress(request.url);
        auto response = std::make_shared<platform::HTTPResponse>(
            KRRequestPipeline::perform(kind, address, request.content, request.includeSession));
        QVariant json;
        const KROptionalError error = KRAccountErrorOfReply(*response, json);
        const QVariantMap reply = json.toMap();
        // A reply without a code reads as 0, the code of no refusal.
        const qint64 code = KRIsDictionary(json) ? replyCode(reply).value_or(0) : 0;
        // Every value goes in as it is: the path and the service's message may carry "%1".
        KRConsole::log(QString(QLatin1String("[KorvaneAccount] response path=") % request.path % QLatin1String(" status=")
                       % QString::number(response->error ? 0 : response->status) % QLatin1String(" bytes=")
                       % QString::number(response->body.size()) % QLatin1String(" code=") % QString::number(code)
                       % QLatin1String(" message=") % replyMessage(reply) % QLatin1String(" errorDomain=")
                       % (error ? error->domain() : QStringLiteral("(null)")) % QLatin1String(" errorCode=")
                       % QString::number(error ? error->code() : 0)));
        if (!response->error && (code == -352 || code == -401))
            writeDiagnosticDump(request.path, json, *response);
        return Reply{std::move(json), std::move(response), error};
    };
    KRAsyncRequest(owner).run(std::move(work), [completion = std::move(completion)](const Reply& reply) {
        if (completion)
            completion(reply.json, reply.response && !reply.response->error ? reply.response.get() : nullptr, reply.error);
    });
}

// ---- Form encoding and the app signature ----

namespace {

// The text a parameter's value is sent as.
QString formText(const QVariant& value)
{
    if (KRIsBooleanValue(value))
        return value.toBool() ? QStringLiteral("1") : QStringLiteral("0");
    if (KRIsMissing(value))
        return QString();
    return KRIsString(value) ? value.toString() : (KRString(value).isNull() ? value.toString() : KRString(value));
}

bool isUnreserved(uchar byte)
{
    return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') || (byte >= '0' && byte <= '9') || byte == '-'
        || byte == '.' || byte == '_' || byte == '~';
}

// Writes `byte`, escaped unless unreserved, at `to`; returns the end of what it wrote.
char* writeEscapedByte(char* to, uchar byte)
{
    static const char* hex = "0123456789ABCDEF";
    if (isUnreserved(byte)) {
        *to++ = char(byte);
    } else {
        *to++ = '%';
        *to++ = hex[byte >> 4];
        *to++ = hex[byte & 0xF];
    }
    return to;
}

// Appends the UTF-8 bytes of `text` with everything but the unreserved characters escaped.
void appendPercentEscaped(QByteArray& out, QStringView text)
{
    // Keys and most values are ASCII, whose UTF-8 is the characters themselves.
    const bool ascii = std::all_of(text.cbegin(), text.cend(), [](QChar c) { return c.unicode() < 0x80; });
    const QByteArray utf8 = ascii ? QByteArray() : text.toUtf8();
    const qsizetype length = ascii ? text.size() : utf8.size();
    const qsizetype start = out.size();
    out.resize(start + 3 * length); // the most escaping can make of it
    char* end = out.data() + start;
    for (qsizetype i = 0; i < length; ++i)
        end = writeEscapedByte(end, ascii ? uchar(text[i].unicode()) : uchar(utf8[i]));
    out.truncate(end - out.constData());
}

// Appends a parameter's value as sent. Whole numbers, the common case after text, are
// written directly: their digits and sign need no escaping.
void appendFormValue(QByteArray& out, const QVariant& value)
{
    switch (value.typeId()) {
    case QMetaType::QString:
        appendPercentEscaped(out, *static_cast<const QString*>(value.constData()));
        return;
    case QMetaType::Int:
    case QMetaType::LongLong: {
        char digits[24];
        const auto written = std::to_chars(digits, digits + sizeof digits, value.toLongLong());
        out.append(digits, written.ptr - digits);
        return;
    }
    default:
        appendPercentEscaped(out, formText(value));
    }
}

} // namespace

QString KRAccountPercentEscape(const QVariant& value)
{
    QByteArray escaped;
    appendPercentEscaped(escaped, formText(value));
    return QString::fromLatin1(escaped);
}

QByteArray KRAccountFormBody(const QVariantMap& parameters)
{
    // QVariantMap keeps its keys in QString order, which is the literal comparison asked for.
    QByteArray body;
    if (!parameters.isEmpty())
        body.reserve(parameters.size() * 48);
    for (auto it = parameters.constBegin(); it != parameters.constEnd(); ++it) {
        if (!body.isEmpty())
            body.append('&');
        appendPercentEscaped(body, it.key());
        body.append('=');
        appendFormValue(body, it.value());
    }
    return body;
}

namespace {

// The value as JSON, or nothing when JSON cannot hold it as it stands: the writer would put
// null or some text of its own in its place, and the service would act on a body the caller
// never meant.
std::optional<QJsonValue> jsonValue(const QVariant& value);

template <typename Members>
std::optional<QJsonValue> jsonObject(const Members& members)
{
    QJsonObject object;
    for (auto it = members.cbegin(); it != members.cend(); ++it) {
        std::optional<QJsonValue> member = jsonValue(it.value());
        if (!member)
            return std::nullopt;
        object.insert(it.key(), *member);
    }
    return object;
}

std::optional<QJsonValue> jsonValue(const QVariant& value)
{
    const int type = value.typeId();
    switch (type) {
    case QMetaType::QString:
        return QJsonValue(value.toString());
    case QMetaType::Nullptr:
        return QJsonValue(QJsonValue::Null);
    case QMetaType::Bool:
        return QJsonValue(value.toBool());
    case QMetaType::Double:
    case QMetaType::Float:
        if (!std::isfinite(value.toDouble()))
            return std::nullopt;
        return QJsonValue(value.toDouble());
    case QMetaType::QStringList:
        return QJsonArray::fromStringList(value.toStringList());
    case QMetaType::QVariantList: {
        QJsonArray items;
        for (const QVariant& item : value.toList()) {
            std::optional<QJsonValue> converted = jsonValue(item);
            if (!converted)
                return std::nullopt;
            items.append(*converted);
        }
        return items;
    }
    case QMetaType::QVariantMap:
        return jsonObject(value.toMap());
    case QMetaType::QVariantHash:
        return jsonObject(value.toHash());
    case QMetaType::ULongLong:
    case QMetaType::ULong:
        if (value.toULongLong() > quint64(std::numeric_limits<qint64>::max()))
            return QJsonValue(double(value.toULongLong()));
        return QJsonValue(qint64(value.toULongLong()));
    default:
        if (KRIsNumber(value))
            return QJsonValue(qint64(value.toLongLong()));
        return std::nullopt;
    }
}

} // namespace

std::optional<QByteArray> KRAccountJSONBody(const QVariantMap& parameters)
{
    const std::optional<QJsonValue> object = jsonObject(parameters);
    if (!object)
        return std::nullopt;
    return QJsonDocument(object->toObject()).toJson(QJsonDocument::Compact);
}

QVariantMap KRAccountSignedAppParameters(const QVariantMap& parameters, bool includeClientContext)
{
    return KRAccountSignedAppForm(parameters, includeClientContext).parameters;
}

KRAccountSignedForm KRAccountSignedAppForm(const QVariantMap& parameters, bool includeClientContext)
{
    // Build constants, asked for on every signed request.
    static const QString appKey = KRServiceHosts::appKey();
    static const QByteArray appSecret = KRServiceHosts::appSecret().toUtf8();
    KRAccountSignedForm form{parameters, {}};
    QVariantMap& signedParameters = form.parameters;
    signedParameters.insert(QStringLiteral("appkey"), appKey);
    signedParameters.insert(QStringLiteral("ts"), QString::number(qint64(std::floor(KRAPIClient::currentTime()))));
    if (includeClientContext) {
        signedParameters.insert(QStringLiteral("build"), QStringLiteral("82200200"));
        signedParameters.insert(QStringLiteral("device"), QStringLiteral("phone"));
        signedParameters.insert(QStringLiteral("mobi_app"), QStringLiteral("iphone"));
        signedParameters.insert(QStringLiteral("platform"), QStringLiteral("ios"));
    }
    const QString signKey = QStringLiteral("sign");
    const bool replacesSign = signedParameters.contains(signKey);
    form.body = KRAccountFormBody(signedParameters);
    const QString sign = platform::Hash::md5Hex(form.body + appSecret);
    const auto placed = signedParameters.insert(signKey, sign);
    if (replacesSign) {
        form.body = KRAccountFormBody(signedParameters);
        return form;
    }
    // The signature is hexadecimal, which needs no escaping, and "&" separates the pairs
    // (inside a pair it is escaped): the pair goes in where its key sorts.
    const QByteArray pair = "sign=" + sign.toLatin1();
    const auto pairsBefore = std::distance(signedParameters.begin(), placed);
    if (pairsBefore == signedParameters.size() - 1) {
        form.body.append('&').append(pair);
        return form;
    }
    qsizetype offset = 0;
    for (auto i = pairsBefore; i > 0; --i)
        offset = form.body.indexOf('&', offset) + 1;
    form.body.insert(offset, pair + '&');
    return form;
}

// ---- Redacted shapes ----

QStringList KRAccountSortedStringKeys(const std::optional<QVariantMap>& dictionary)
{
    return dictionary ? dictionary->keys() : QStringList();
}

QVariantMap KRAccountRedactedShape(const QVariant& value, int depth)
{
    if (KRIsMissing(value))
        return {{QStringLiteral("type"), QStringLiteral("null")}};
    if (KRIsDictionary(value)) {
        const QVariantMap map = value.toMap();
        QVariantMap shape{{QStringLiteral("type"), QStringLiteral("dictionary")},
                          {QStringLiteral("keys"), KRAccountSortedStringKeys(map)}};
        if (depth != 3) {
            QVariantMap children;
            for (auto it = map.constBegin(); it != map.constEnd(); ++it)
                children.insert(it.key(), KRAccountRedactedShape(it.value(), depth + 1));
            shape.insert(QStringLiteral("children"), children);
        }
        return shape;
    }
    if (KRIsArray(value)) {
        const QVariantList list = value.toList();
        QVariantMap shape{{QStringLiteral("type"), QStringLiteral("array")}, {QStringLiteral("count"), list.size()}};
        if (depth != 3 && !list.isEmpty())
            shape.insert(QStringLiteral("first_item"), KRAccountRedactedShape(list.first(), depth + 1));
        return shape;
    }
    if (KRIsString(value))
        return {{QStringLiteral("type"), QStringLiteral("string")}, {QStringLiteral("length"), value.toString().size()}};
    if (KRIsNumber(value))
        return {{QStringLiteral("type"), QStringLiteral("number")}};
    return {{QStringLiteral("type"), QString::fromLatin1(value.typeName())}};
}
