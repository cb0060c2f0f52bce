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

namespace kivplc::web {

class Api;

class Sessions {
 public:
  using Clock = std::chrono::steady_clock;

  // `catalogue`: the postgresql:// URI, without anyone's password; a
  // session ends `lifetime` after it began, however busy.
  // `pageToken`: the page's session token, which every Api gives the page;
  // `readOnly`: every session refuses changes, whatever its rights.
  Sessions(std::string catalogue, Clock::duration lifetime, std::string pageToken, bool readOnly);

  // Connects as `person`; the new session's id.  Throws Refused with the
  // server's reason (a wrong password, an unknown account) as the
  // component words it, which never holds the password.
  std::string SignIn(const std::string& person, const std::string& password);
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
  kiv::Mutex m_lock;
  std::map<std::string, Session> m_sessions KIV_GUARDED_BY(m_lock);
};

// 256 random bits from the kernel's generator, as 64 hexadecimal digits:
// the access token, the page's token and the sessions' ids.
std::string RandomId();

}  // namespace kivplc::web

#endif  // KIV_WEB_SIGNIN_H_
