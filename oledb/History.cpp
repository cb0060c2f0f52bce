#if defined(_WIN32)
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

#include <atomic>
#include <mutex>

#include "Driver.h"
#include "HistoryScope.h"
#include "KivPmOleDb.h"
#include "Utf16.h"

namespace kivoledb {

namespace {

thread_local HistoryAction::State* t_action = nullptr;

std::atomic<unsigned long long> g_serials{0};

std::mutex g_personMutex;
std::wstring g_person;  // guarded by g_personMutex

DriverConnection* Engine(KivOleDbConnection* connection, std::wstring& error) {
  DriverConnection* driver = connection ? connection->Driver() : nullptr;
  if (!driver) error = L"not connected to a catalogue";
  return driver;
}

}  // namespace

HistoryAction::State* CurrentHistoryAction() { return t_action; }

HistoryAction::HistoryAction(std::wstring label, std::wstring person) : m_state(nullptr), m_outer(t_action) {
  if (m_outer && label.empty() && person.empty()) return;  // part of the open one
  m_state = new State;
  m_state->serial = ++g_serials;
  m_state->label = std::move(label);
  m_state->person = !person.empty() ? std::move(person) : m_outer ? m_outer->person : std::wstring();
  t_action = m_state;
}

HistoryAction::~HistoryAction() {
  if (!m_state) return;
  t_action = m_outer;
  delete m_state;
}

void SetHistoryPerson(const std::wstring& person) {
  std::lock_guard<std::mutex> lock(g_personMutex);
  g_person = person;
}

std::wstring HistoryAccount() {
  static const std::wstring account = [] {
#if defined(_WIN32)
    // The system's own UTF-16 names: no code page in between.
    wchar_t user[257] = {};
    DWORD userLength = 257;
    if (!GetUserNameW(user, &userLength)) user[0] = L'\0';
    wchar_t host[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD hostLength = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(host, &hostLength)) host[0] = L'\0';
    return std::wstring(user[0] ? user : L"unknown") + L"@" + (host[0] ? host : L"localhost");
#else
    std::string user;
    if (const passwd* pw = getpwuid(geteuid())) user = pw->pw_name;
    if (user.empty()) user = std::to_string(geteuid());
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0) host[0] = '\0';
    return kiv::FromUtf8(user + "@" + (host[0] ? host : "localhost"));
#endif
  }();
  return account;
}

std::wstring HistoryPerson() {
  if (t_action && !t_action->person.empty()) return t_action->person;
  {
    std::lock_guard<std::mutex> lock(g_personMutex);
    if (!g_person.empty()) return g_person;
  }
  return HistoryAccount();
}

bool HistoryIsOn(KivOleDbConnection* connection, bool& on, std::wstring& error) {
  DriverConnection* engine = Engine(connection, error);
  return engine && engine->HistoryIsOn(on, error);
}

bool TurnHistoryOn(KivOleDbConnection* connection, std::wstring& error) {
  DriverConnection* engine = Engine(connection, error);
  return engine && engine->TurnHistoryOn(error);
}

bool ListHistory(KivOleDbConnection* connection, const HistoryFilter& filter, std::vector<HistoryEntry>& entries,
                 std::wstring& error) {
  DriverConnection* engine = Engine(connection, error);
  return engine && engine->ListHistory(filter, entries, error);
}

bool HistoryRowsOf(KivOleDbConnection* connection, const std::wstring& table, std::vector<HistoryRow>& rows,
                   std::wstring& error) {
  DriverConnection* engine = Engine(connection, error);
  return engine && engine->HistoryRowsOf(table, rows, error);
}

bool RevertHistory(KivOleDbConnection* connection, const std::vector<long long>& ids, bool force,
                   RevertOutcome& outcome, std::wstring& error) {
  DriverConnection* engine = Engine(connection, error);
  return engine && engine->RevertHistory(ids, force, outcome, error);
}

bool PruneHistory(KivOleDbConnection* connection, const std::wstring& before, long long& actions, long long& rows,
                  std::wstring& error) {
  DriverConnection* engine = Engine(connection, error);
  return engine && engine->PruneHistory(before, actions, rows, error);
}

bool CheckHistory(KivOleDbConnection* connection, HistoryCheck& check, std::wstring& error) {
  DriverConnection* engine = Engine(connection, error);
  return engine && engine->CheckHistory(check, error);
}

bool DriverConnection::HistoryIsOn(bool& on, std::wstring&) {
  on = false;
  return true;
}
bool DriverConnection::TurnHistoryOn(std::wstring& error) {
  error = kNoHistoryEngine;
  return false;
}
bool DriverConnection::ListHistory(const HistoryFilter&, std::vector<HistoryEntry>&, std::wstring& error) {
  error = kNoHistoryEngine;
  return false;
}
bool DriverConnection::HistoryRowsOf(const std::wstring&, std::vector<HistoryRow>&, std::wstring& error) {
  error = kNoHistoryEngine;
  return false;
}
bool DriverConnection::RevertHistory(const std::vector<long long>&, bool, RevertOutcome&, std::wstring& error) {
  error = kNoHistoryEngine;
  return false;
}
bool DriverConnection::PruneHistory(const std::wstring&, long long&, long long&, std::wstring& error) {
  error = kNoHistoryEngine;
  return false;
}
bool DriverConnection::CheckHistory(HistoryCheck& check, std::wstring&) {
  check = HistoryCheck();  // an engine that cannot tell finds nothing wrong
  return true;
}

}  // namespace kivoledb
