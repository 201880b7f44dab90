#include "platform/HttpTransport.h"
#include "platform/NetworkError.h"
#include "support/ForwardProxyServer.h"
#include "support/RawReplyServer.h"
#include "support/TaskResult.h"

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkProxyFactory>
#include <QSslConfiguration>
#include <QTest>

namespace {

// Qt never takes a proxy to a loopback address, so the backend has a name only the proxy
// reaches; going direct, its name does not resolve.
const QString backendHost = QStringLiteral("backend.invalid");

// Where each request a test sends takes its road from.
enum class ProxySetting {
    environment,
    environmentExcludingTheHost,
    applicationProxy,
    managersProxy,
    socksApplicationProxy,
    socksManagersProxy,
};

const char *const proxyVariables[] = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY",
                                      "all_proxy",  "ALL_PROXY",   "no_proxy",   "NO_PROXY"};

} // namespace

class tst_HttpTransportProxy : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        for (const char *variable : proxyVariables)
            qunsetenv(variable);
    }

    void cleanup()
    {
        init();
        // Setting an application proxy drops the system's settings, which read the environment.
        QNetworkProxy::setApplicationProxy(QNetworkProxy(QNetworkProxy::DefaultProxy));
        QNetworkProxyFactory::setUseSystemConfiguration(true);
    }

    // A request that changes something takes the road a GET to the same URL takes: the same
    // proxy, in the form it expects (a plain URL in absolute form, an https one through a
    // tunnel), or none.
    void requestsTakeTheManagersRoad_data()
    {
        QTest::addColumn<QByteArray>("method");
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<ProxySetting>("setting");
        QTest::addColumn<QByteArray>("requestLine"); // what the proxy gets; empty: nothing
        for (const QByteArray method : {"GET", "POST", "DELETE"}) {
            const QByteArray forwarded = method + " http://backend.invalid/items?page=2 HTTP/1.1";
            const QByteArray tunnel = "CONNECT backend.invalid:443 HTTP/1.1";
            const QByteArray prefix = method + ": ";
            QTest::newRow(prefix + "http, environment")
                << method << "http" << ProxySetting::environment << forwarded;
            QTest::newRow(prefix + "https, environment")
                << method << "https" << ProxySetting::environment << tunnel;
            QTest::newRow(prefix + "http, environment excluding the host")
                << method << "http" << ProxySetting::environmentExcludingTheHost << QByteArray();
            QTest::newRow(prefix + "https, environment excluding the host")
                << method << "https" << ProxySetting::environmentExcludingTheHost << QByteArray();
            QTest::newRow(prefix + "http, application proxy")
                << method << "http" << ProxySetting::applicationProxy << forwarded;
            QTest::newRow(prefix + "https, application proxy")
                << method << "https" << ProxySetting::applicationProxy << tunnel;
            QTest::newRow(prefix + "http, manager's proxy")
                << method << "http" << ProxySetting::managersProxy << forwarded;
            QTest::newRow(prefix + "https, manager's proxy")
                << method << "https" << ProxySetting::managersProxy << tunnel;
            QTest::newRow(prefix + "http, SOCKS5 application proxy")
                << method << "http" << ProxySetting::socksApplicationProxy
                << QByteArray("SOCKS5 CONNECT backend.invalid:80");
            QTest::newRow(prefix + "https, SOCKS5 manager's proxy")
                << method << "https" << ProxySetting::socksManagersProxy
                << QByteArray("SOCKS5 CONNECT backend.invalid:443");
        }
    }

    void requestsTakeTheManagersRoad()
    {
        QFETCH(QByteArray, method);
        QFETCH(QString, scheme);
        QFETCH(ProxySetting, setting);
        QFETCH(QByteArray, requestLine);
        // The server behind a tunnel; the proxy answers requests it forwards itself.
        RawReplyServer server("HTTP/1.1 201 Created\r\nContent-Length: 6\r\n\r\ntunnel");
        QVERIFY(scheme == QLatin1String("https") ? server.startEncrypted() : server.start());
        ForwardProxyServer proxy("HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nforwarded");
        QVERIFY(proxy.start());
        proxy.setTunnelPort(server.serverPort());

        QNetworkAccessManager manager;
        const QNetworkProxy httpProxy(QNetworkProxy::HttpProxy, QStringLiteral("127.0.0.1"), proxy.serverPort());
        const QNetworkProxy socksProxy(QNetworkProxy::Socks5Proxy, QStringLiteral("127.0.0.1"), proxy.serverPort());
        const QByteArray proxyUrl = proxy.proxyUrl().toEncoded();
        switch (setting) {
        case ProxySetting::environmentExcludingTheHost:
            qputenv("no_proxy", "localhost,.invalid");
            Q_FALLTHROUGH();
        case ProxySetting::environment:
            qputenv(scheme == QLatin1String("https") ? "https_proxy" : "http_proxy", proxyUrl);
            break;
        case ProxySetting::applicationProxy:
            QNetworkProxy::setApplicationProxy(httpProxy);
            break;
        case ProxySetting::managersProxy:
            manager.setProxy(httpProxy);
            break;
        case ProxySetting::socksApplicationProxy:
            QNetworkProxy::setApplicationProxy(socksProxy);
            break;
        case ProxySetting::socksManagersProxy:
            manager.setProxy(socksProxy);
            break;
        }

        HttpTransport transport(&manager);
        transport.setTimeout(std::chrono::seconds(20));
        QNetworkRequest request(QUrl(scheme + "://" + backendHost + "/items?page=2"));
        // The tunnel ends at a stand-in with a certificate for 127.0.0.1, not for the backend's
        // name; certificates are the TLS tests' business.
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone);
        request.setSslConfiguration(configuration);
        const std::optional<QByteArray> body =
            method == "GET" ? std::nullopt : std::optional<QByteArray>(R"({"query":"mutation"})");
        const auto result = runTask(transport.send(request, method, body));

        if (requestLine.isEmpty()) {
            QVERIFY(proxy.heads().isEmpty());
            const auto error = result.errorAs<NetworkError>();
            QVERIFY2(error, qPrintable(result.errorText()));
            QCOMPARE(error->kind(), NetworkError::Kind::cannotConnect);
            return;
        }
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QCOMPARE(proxy.requestLines(), QList<QByteArray>{requestLine});
        if (!requestLine.startsWith(method)) {
            QCOMPARE(result.value->status, 201);
            QCOMPARE(result.value->body, QByteArray("tunnel"));
            QCOMPARE(server.requestCount(), 1);
        } else {
            QCOMPARE(result.value->status, 200);
            QCOMPARE(result.value->body, QByteArray("forwarded"));
            QVERIFY(proxy.heads().first().contains("\r\nHost: backend.invalid\r\n"));
        }
    }

    // A proxy that loses the server's answer: the request it forwarded was carried out, and
    // is not sent again.
    void unsafeRequestsReachTheProxyOnce()
    {
        ForwardProxyServer proxy(QByteArray{});
        QVERIFY(proxy.start());
        qputenv("http_proxy", proxy.proxyUrl().toEncoded());
        QNetworkAccessManager manager;
        HttpTransport transport(&manager);
        const QNetworkRequest request(QUrl("http://" + backendHost + "/graphql"));
        for (int call = 1; call <= 2; ++call) {
            const auto result = runTask(transport.send(request, "POST", QByteArray(R"({"query":"mutation"})")));
            const auto error = result.errorAs<NetworkError>();
            QVERIFY2(error, qPrintable(result.errorText()));
            QCOMPARE(error->kind(), NetworkError::Kind::connectionLost);
            QTest::qWait(50);
            QCOMPARE(proxy.heads().size(), call);
        }
    }

    // A proxy that wants to know who is asking gets the credentials its URL names with the
    // request it forwards, which is written once.
    void forwardedRequestsCarryTheProxysCredentials()
    {
        ForwardProxyServer proxy("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\n{}");
        QVERIFY(proxy.start());
        QUrl proxyUrl = proxy.proxyUrl();
        proxyUrl.setUserName(QStringLiteral("alice"));
        proxyUrl.setPassword(QStringLiteral("s3cret"));
        qputenv("http_proxy", proxyUrl.toEncoded());
        QNetworkAccessManager manager;
        HttpTransport transport(&manager);
        const auto result = runTask(transport.send(QNetworkRequest(QUrl("http://" + backendHost + "/graphql")),
                                                   "POST", QByteArray("{}")));
        QVERIFY2(result.succeeded(), qPrintable(result.errorText()));
        QCOMPARE(proxy.heads().size(), 1);
        QVERIFY(proxy.heads().first().contains("\r\nProxy-Authorization: Basic "
                                               + QByteArray("alice:s3cret").toBase64() + "\r\n"));
    }
};

QTEST_GUILESS_MAIN(tst_HttpTransportProxy)
#include "tst_HttpTransportProxy.moc"
