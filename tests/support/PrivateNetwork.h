#pragma once

#include <QString>

// A network of this process's own, for tests of what the hub does when the
// network misbehaves in ways loopback alone cannot show: a name server that
// never answers (a captive portal's, a broken VPN's) and connection counts
// no other process adds to. The process gets a private network namespace
// (its own loopback, its own counters) and a private mount namespace whose
// /etc/resolv.conf names a server on 127.0.0.1 that takes every query and
// answers none (as root, else inside a user namespace as `unshare -rmn`
// makes).
namespace Hub::Test::PrivateNetwork {

// Makes the namespaces, brings loopback up and starts the silent name
// server. `resolverOptions` is the "options" line of the resolver's
// configuration (how long the C library waits for the server). Must run
// first in main(): unshare(2) refuses a new user or mount namespace to a
// process with more than one thread. Never fails; available() says how it
// went.
void prepare(const char* resolverOptions = "timeout:30 attempts:1");

// True when the namespaces are made; else why() says what failed, for the
// tests' skip message.
bool available();
QString why();

// A host name no one ever answers for.
QString deadName();

// TCP connection attempts that failed in this namespace so far (refused,
// reset or timed out before the connection was made).
long long failedConnectionAttempts();

} // namespace Hub::Test::PrivateNetwork
