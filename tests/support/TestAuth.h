#pragma once

// A signed-in AuthService for tests of any backend client: the session sits in an
// in-memory secret store, expires far in the future, and the base URL is the given one
// (usually FakeBackend::baseUrl()). activeSession() then answers for real without any
// request. Register the session with FakeAuthBackend when its routes must accept the token.

#include "accounts/AppConfigurationStore.h"
#include "accounts/AuthSession.h"

#include <QUrl>

#include <memory>
#include <optional>

class AuthService;
class InMemorySecretStore;

namespace TestAuth {

// access token "test-access-token", refresh token "test-refresh-token", expiry in 2099,
// user "user-1" / ada@example.com / "Ada Lovelace" with workspace "workspace-1".
AuthSession defaultSession();
// Another person's account on the same computer: access token "second-access-token", refresh
// token "second-refresh-token", user "user-2" / grace@example.com / "Grace Hopper" with
// workspace "workspace-2".
AuthSession secondSession();

// A configuration whose base URL comes from a fake environment, with no saved settings
// and an empty information table.
AppConfigurationStore configurationFor(const QUrl &baseUrl);

// An AuthService over that configuration with the session saved. Without a session it is
// signed out.
std::unique_ptr<AuthService> signedInService(const QUrl &baseUrl,
                                             std::optional<AuthSession> session = defaultSession());

// The in-memory store of a service made here.
InMemorySecretStore *secretStoreOf(AuthService *service);

} // namespace TestAuth
