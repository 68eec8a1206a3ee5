#include "TestHttpsServer.h"

#include "Platform/OpenSslHandles.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <csignal>
#include <set>
#include <stdexcept>

namespace Hub::Test {

namespace {

[[noreturn]] void fail(const std::string& what)
{
    throw std::runtime_error("TestHttpsServer: " + what);
}

void addExtension(X509* certificate, int nid, const char* value)
{
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (!extension)
        fail(std::string("cannot make extension ") + value);
    const int added = X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
    if (!added)
        fail(std::string("cannot add extension ") + value);
}

void writePem(const QString& path, const std::function<int(BIO*)>& write)
{
    const OpenSsl::Bio bio(BIO_new_file(path.toLocal8Bit().constData(), "w"));
    if (!bio || write(bio.get()) != 1)
        fail("cannot write " + path.toStdString());
}

// Writes a fresh self-signed certificate and its key; the certificate is its
// own root, so the client trusts exactly this server and nothing else.
void writeSelfSignedCertificate(const QString& certificatePath, const QString& keyPath,
                                bool namesLoopbackIp)
{
    const OpenSsl::PKey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
    const OpenSsl::X509Ptr certificate(X509_new());
    if (!key || !certificate)
        fail("cannot create key or certificate");
    X509* cert = certificate.get();

    // A random serial keeps two servers' certificates distinct to OpenSSL.
    std::uint64_t serial = 0;
    if (RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof serial) != 1)
        fail("no random bytes");
    serial >>= 1;

    X509_NAME* name = X509_get_subject_name(cert);
    if (X509_set_version(cert, X509_VERSION_3) != 1
        || ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert), serial) != 1
        || !X509_gmtime_adj(X509_getm_notBefore(cert), -3600)
        || !X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600)
        || X509_set_pubkey(cert, key.get()) != 1
        || X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char*>("localhost"), -1, -1, 0)
            != 1
        || X509_set_issuer_name(cert, name) != 1)
        fail("cannot fill in the certificate");

    addExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
    addExtension(cert, NID_subject_key_identifier, "hash");
    addExtension(cert, NID_authority_key_identifier, "keyid:always");
    addExtension(cert, NID_ext_key_usage, "serverAuth");
    addExtension(cert, NID_subject_alt_name,
                 namesLoopbackIp ? "DNS:localhost,IP:127.0.0.1" : "DNS:localhost");

    if (X509_sign(cert, key.get(), EVP_sha256()) <= 0)
        fail("cannot sign the certificate");

    writePem(certificatePath, [cert](BIO* bio) { return PEM_write_bio_X509(bio, cert); });
    writePem(keyPath, [&key](BIO* bio) {
        return PEM_write_bio_PrivateKey(bio, key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    });
}

} // namespace

TestHttpsServer::TestHttpsServer(TestServerOptions options)
{
    // Tests drop connections in mid-reply all the time; writing to such a
    // socket raises SIGPIPE, which would end the whole test program.
    std::signal(SIGPIPE, SIG_IGN);

    if (options.tls) {
        if (!m_directory.isValid())
            fail("no temporary directory");
        m_certificatePath = m_directory.filePath(QStringLiteral("server-cert.pem"));
        const QString keyPath = m_directory.filePath(QStringLiteral("server-key.pem"));
        writeSelfSignedCertificate(m_certificatePath, keyPath, options.certificateNamesLoopbackIp);
        m_server = std::make_unique<httplib::SSLServer>(m_certificatePath.toLocal8Bit().constData(),
                                                        keyPath.toLocal8Bit().constData());
    } else {
        m_server = std::make_unique<httplib::Server>();
    }
    if (!m_server->is_valid())
        fail("the server did not accept its certificate");

    // Short keep-alive so that shutting down never waits long for an idle
    // connection.
    m_server->set_keep_alive_timeout(1);
    // A reply goes out in several writes (headers, then body); with Nagle's
    // rule the body waits for the client's delayed acknowledgement, 40 ms a
    // reply that no real service makes its clients wait.
    m_server->set_tcp_nodelay(true);
    m_server->set_keep_alive_max_count(options.requestsPerConnection);

    const Handler dispatcher = [this](const httplib::Request& request, httplib::Response& response) {
        dispatch(request, response);
    };
    const std::string everything = ".*";
    m_server->Get(everything, dispatcher);
    m_server->Post(everything, dispatcher);
    m_server->Put(everything, dispatcher);
    m_server->Patch(everything, dispatcher);
    m_server->Delete(everything, dispatcher);
    m_server->Options(everything, dispatcher);

    m_port = m_server->bind_to_any_port("127.0.0.1");
    if (m_port <= 0)
        fail("cannot bind to 127.0.0.1");
    m_thread = std::thread([this] { m_server->listen_after_bind(); });

    // stop() is a no-op until the accept loop runs, so the destructor must
    // not be reached before that.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!m_server->is_running()) {
        if (std::chrono::steady_clock::now() > deadline) {
            m_thread.detach();
            fail("the server did not start");
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

TestHttpsServer::~TestHttpsServer()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stopRequested = true;
    }
    m_stopping.notify_all();
    m_server->stop();
    if (m_thread.joinable())
        m_thread.join();
}

QString TestHttpsServer::caBundle() const
{
    return m_certificatePath;
}

QUrl TestHttpsServer::url(const QString& path) const
{
    const QString scheme = m_certificatePath.isEmpty() ? QStringLiteral("http") : QStringLiteral("https");
    return QUrl(scheme % QStringLiteral("://127.0.0.1:") % QString::number(m_port) % path);
}

void TestHttpsServer::on(const std::string& method, const std::string& pattern, Handler handler)
{
    const std::lock_guard lock(m_mutex);
    m_routes.push_back(Route{method, std::regex(pattern), std::move(handler)});
}

std::vector<TestHttpsServer::Recorded> TestHttpsServer::requests() const
{
    const std::lock_guard lock(m_mutex);
    return m_requests;
}

int TestHttpsServer::count(const std::string& path) const
{
    const std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count_if(m_requests.begin(), m_requests.end(),
                                          [&path](const Recorded& r) { return r.path == path; }));
}

int TestHttpsServer::connections() const
{
    const std::lock_guard lock(m_mutex);
    std::set<int> ports;
    for (const Recorded& r : m_requests)
        ports.insert(r.remotePort);
    return static_cast<int>(ports.size());
}

void TestHttpsServer::drip(const std::string& pattern, std::string body, std::chrono::milliseconds interval)
{
    get(pattern, [this, body = std::move(body), interval](const httplib::Request&, httplib::Response& response) {
        response.set_content_provider(body.size(), "application/octet-stream",
                                      [this, body, interval](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                          if (!pause(interval))
                                              return false;
                                          return sink.write(body.data() + offset, 1);
                                      });
    });
}

bool TestHttpsServer::pause(std::chrono::milliseconds duration) const
{
    std::unique_lock lock(m_mutex);
    return !m_stopping.wait_for(lock, duration, [this] { return m_stopRequested; });
}

void TestHttpsServer::dispatch(const httplib::Request& request, httplib::Response& response)
{
    const std::string routeMethod = request.method == "HEAD" ? std::string("GET") : request.method;
    httplib::Request matched = request;
    Handler handler;
    {
        const std::lock_guard lock(m_mutex);
        m_requests.push_back(Recorded{request.method, request.path, request.body, request.headers, request.remote_port});
        for (auto route = m_routes.rbegin(); route != m_routes.rend(); ++route) {
            if (route->method == routeMethod
                && std::regex_match(matched.path, matched.matches, route->pattern)) {
                handler = route->handler;
                break;
            }
        }
    }
    // Called without the lock, so handlers may add routes or read the log.
    if (handler)
        handler(matched, response);
    else
        response.status = 404;
}

} // namespace Hub::Test
