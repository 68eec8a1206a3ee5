#pragma once

#include "FakeClerkService.h"
#include "FakeHubService.h"
#include "TestHttpsServer.h"
#include "TestPKI.h"

#include <QByteArray>
#include <QString>

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace Hub::LocalService {

// What the service does wrong on purpose, so the assembled program's fault
// handling can be tried: the product with an update is served with bytes
// whose SHA-256 is not the catalog's, or stops sending halfway, or the
// account check refuses the device.
enum class Fault { none, checksum, stall, unauthorized };

std::optional<Fault> faultNamed(const QString& name);

struct Account {
    QString email;
    QString password;
    QString name;
    std::optional<QString> code; // the second-factor code, when the account asks for one
};

// The maker's whole service on one machine, made from the test doubles: a
// catalog with real signed downloads, release feeds, the maker's service
// and the sign-in service, over HTTPS on 127.0.0.1 with a free port. The
// folder receives everything it makes:
//
//   profile.json        the service profile hubtarn reads when sandboxed
//   accounts.json       the accounts and passwords to sign in with
//   tls-root.pem        the TLS certificate to trust
//   signing-anchor.pem  the code-signing anchor of the downloads
//   home-seed/          an older copy of the product with an update, laid
//                       out as in a home folder (copy it into the home)
//   service.log         one JSON line per call of the maker's service
//
// Serves from construction to destruction. Throws std::runtime_error.
class LocalService {
public:
    LocalService(const QString& folder, Fault fault);
    ~LocalService();

    LocalService(const LocalService&) = delete;
    LocalService& operator=(const LocalService&) = delete;

    QString profilePath() const;
    QString address() const;
    const std::vector<Account>& accounts() const { return m_accounts; }

    // The products the journey of scripts/try and the e2e tests acts on.
    static constexpr char kInstallProduct[] = "echo";
    static constexpr char kUpdateProduct[] = "drift";

private:
    struct Served {
        QByteArray bytes;
        std::string contentType;
        bool corrupt = false; // the checksum fault
        bool stall = false;   // the stall fault
    };

    QString path(const QString& relative) const;
    void buildCatalog();
    void serve(const std::string& path, Served served);
    void route();
    void writeProfile();
    void log(const Test::FakeHubService::Call& call, const Test::FakeHubService::Reply& reply);

    QString m_folder;
    Fault m_fault;
    Test::TestPKI m_pki;
    std::unique_ptr<Test::TestHttpsServer> m_server;
    std::unique_ptr<Test::FakeHubService> m_hub;
    std::unique_ptr<Test::FakeClerkService> m_clerk;
    std::vector<Account> m_accounts;
    std::map<std::string, Served> m_files; // by path; fixed before serving starts
    std::mutex m_logLock;
};

} // namespace Hub::LocalService
