// People signed in to the editor (kivplc serve --sign-in): each session
// holds an Api over the person's own connection to the catalogue, so the
// server's roles decide what each may do.  A session is known by a random
// id that the page keeps in a cookie; the password is passed on to the
// server once, when signing in, and kept in nothing but that session's
// connections.
#ifndef KIV_WEB_SIGNIN_H_
#define KIV_WEB_SIGNIN_H_

#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "KivThreadSafety.h"
#include "catalogue/Errors.h"

namespace kivplc::web {

class Api;

// Sign-ins from one address failed too often: it may try again after `wait`.
struct TooManyAttempts : kivcat::Refused {
  TooManyAttempts(const std::string& what, std::chrono::seconds after) : kivcat::Refused(what), wait(after) {}
  std::chrono::seconds wait;
};

class Sessions {
 public:
  using Clock = std::chrono::steady_clock;

  // `catalogue`: the postgresql:// URI, without anyone's password; a
  // session ends `lifetime` after it began, however busy.
  // `pageToken`: the page's session token, which every Api gives the page;
  // `readOnly`: every session refuses changes, whatever its rights.
  Sessions(std::string catalogue, Clock::duration lifetime, std::string pageToken, bool readOnly);

  // Connects as `person` for a client at `address`; the new session's id.
  // Throws Refused with the server's reason (a wrong password, an unknown
  // account) as the component words it, which never holds the password.
  // After kFreeFailures failed sign-ins in a row from one address, each
  // further one waits a delay that doubles with every failure, up to
  // kLongestWait: a try before then throws TooManyAttempts without asking
  // the server, whatever the password.  A sign-in under way counts as
  // failed until it succeeds, so that tries sent side by side count too.
  std::string SignIn(const std::string& person, const std::string& password, const std::string& address);
  static constexpr int kFreeFailures = 5;
  static constexpr std::chrono::seconds kLongestWait{300};
  // The session's Api, or null for an unknown or ended one.
  std::shared_ptr<Api> Find(const std::string& id);
  // Ends the session; an unknown id is no error.
  void SignOut(const std::string& id);
  Clock::duration Lifetime() const { return m_lifetime; }

 private:
  struct Session {
    std::shared_ptr<Api> api;
    Clock::time_point ends;
  };
  const std::string m_catalogue;
  const Clock::duration m_lifetime;
  const std::string m_pageToken;
  const bool m_readOnly;
  struct Failures {
    int count = 0;
    Clock::time_point last;  // of the last failure or try
  };
  // How long `failures` must wait from now; zero when it may try.
  static Clock::duration Wait(const Failures& failures, Clock::time_point now);
  kiv::Mutex m_lock;
  std::map<std::string, Session> m_sessions KIV_GUARDED_BY(m_lock);
  std::map<std::string, Failures> m_failures KIV_GUARDED_BY(m_lock);  // by client address
};

// 256 random bits from the kernel's generator, as 64 hexadecimal digits:
// the access token, the page's token and the sessions' ids.
std::string RandomId();

}  // namespace kivplc::web

#endif  // KIV_WEB_SIGNIN_H_
