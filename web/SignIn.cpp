#include "SignIn.h"

#include <algorithm>
#include <random>

#include "Api.h"
#include "KivPmOleDbFiles.h"
#include "Utf16.h"
#include "catalogue/Errors.h"

namespace kivplc::web {

std::string RandomId() {
  std::random_device random;  // the kernel's generator
  static const char kHex[] = "0123456789abcdef";
  std::string token;
  for (int i = 0; i < 8; ++i) {
    unsigned int word = random();
    for (int j = 0; j < 8; ++j, word >>= 4) token += kHex[word & 0xF];
  }
  return token;
}

Sessions::Sessions(std::string catalogue, Clock::duration lifetime, std::string pageToken, bool readOnly)
    : m_catalogue(std::move(catalogue)),
      m_lifetime(lifetime),
      m_pageToken(std::move(pageToken)),
      m_readOnly(readOnly) {}

Sessions::Clock::duration Sessions::Wait(const Failures& failures, Clock::time_point now) {
  if (failures.count < kFreeFailures) return Clock::duration::zero();
  const int doublings = std::min(failures.count - kFreeFailures, 16);
  const Clock::duration delay = std::min<Clock::duration>(std::chrono::seconds(1LL << doublings), kLongestWait);
  return std::max(failures.last + delay - now, Clock::duration::zero());
}

std::string Sessions::SignIn(const std::string& person, const std::string& password, const std::string& address) {
  if (person.empty()) throw kivcat::Invalid("sign in with the name of your server account");
  {
    kiv::LockGuard lock(m_lock);
    const auto now = Clock::now();
    // Addresses whose delay has long passed are forgotten, so that the map stays small.
    std::erase_if(m_failures, [&](const auto& entry) { return entry.second.last + 2 * kLongestWait <= now; });
    Failures& failures = m_failures[address];
    if (const auto wait = Wait(failures, now); wait > Clock::duration::zero()) {
      const auto seconds = std::chrono::ceil<std::chrono::seconds>(wait);
      throw TooManyAttempts(
          "too many failed sign-ins from this address; try again in " + std::to_string(seconds.count()) + " seconds",
          seconds);
    }
    ++failures.count;
    failures.last = now;
  }
  // The Api opens its connections at once: a wrong password or an unknown
  // account fails here, with the server's reason.
  auto api = std::make_shared<Api>(kiv::ToUtf8(kivoledb::WithAccount(kiv::FromUtf8(m_catalogue), person, password)),
                                   m_readOnly, m_pageToken, person);
  std::string id = RandomId();
  kiv::LockGuard lock(m_lock);
  m_failures.erase(address);
  // Ended sessions go as new ones come, so that the map stays small.
  const auto now = Clock::now();
  std::erase_if(m_sessions, [&](const auto& entry) { return entry.second.ends <= now; });
  m_sessions[id] = Session{std::move(api), now + m_lifetime};
  return id;
}

std::shared_ptr<Api> Sessions::Find(const std::string& id) {
  kiv::LockGuard lock(m_lock);
  auto found = m_sessions.find(id);
  if (found == m_sessions.end()) return nullptr;
  if (found->second.ends <= Clock::now()) {
    m_sessions.erase(found);
    return nullptr;
  }
  return found->second.api;
}

void Sessions::SignOut(const std::string& id) {
  kiv::LockGuard lock(m_lock);
  m_sessions.erase(id);
}

}  // namespace kivplc::web
