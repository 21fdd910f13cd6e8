#include "st_storage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace softtoken {
namespace {

constexpr int kBusyTimeoutMs = 30000;

// A statement of the connection's cache, reset and unbound when done with
// (which also ends the read it may hold open).
class Statement {
 public:
  explicit Statement(sqlite3_stmt* st) : st_(st) {}
  ~Statement() {
    if (!st_) return;
    sqlite3_reset(st_);
    sqlite3_clear_bindings(st_);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;
  explicit operator bool() const { return st_ != nullptr; }
  sqlite3_stmt* get() { return st_; }
  bool bind_text(int i, const std::string& s) {
    return sqlite3_bind_text(st_, i, s.c_str(), static_cast<int>(s.size()), SQLITE_TRANSIENT) == SQLITE_OK;
  }
  bool bind_blob(int i, const uint8_t* p, size_t n) {
    static const uint8_t empty = 0;
    return sqlite3_bind_blob(st_, i, n ? p : &empty, static_cast<int>(n), SQLITE_TRANSIENT) == SQLITE_OK;
  }
  bool bind_int(int i, int64_t v) { return sqlite3_bind_int64(st_, i, v) == SQLITE_OK; }
  int step() { return sqlite3_step(st_); }
  Bytes column_blob(int i) {
    const uint8_t* p = static_cast<const uint8_t*>(sqlite3_column_blob(st_, i));
    int n = sqlite3_column_bytes(st_, i);
    return p ? Bytes(p, p + n) : Bytes();
  }

 private:
  sqlite3_stmt* st_ = nullptr;
};

sqlite3* open_connection(const std::string& path, int flags) {
  sqlite3* db = nullptr;
  if (sqlite3_open_v2(path.c_str(), &db, flags | SQLITE_OPEN_FULLMUTEX, nullptr) != SQLITE_OK) {
    sqlite3_close(db);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  return db;
}

}  // namespace

std::unique_ptr<TokenDb> TokenDb::open(const std::string& path) {
  if (access(path.c_str(), R_OK) != 0) return nullptr;
  size_t slash = path.rfind('/');
  std::string dir = slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
  if (access(path.c_str(), W_OK) == 0 && access(dir.c_str(), W_OK) == 0) {
    sqlite3* db = open_connection(path, SQLITE_OPEN_READWRITE);
    if (!db) return nullptr;
    std::unique_ptr<TokenDb> t(new TokenDb(db, false));
    if (!t->exec("PRAGMA synchronous=NORMAL; PRAGMA secure_delete=ON;")) return nullptr;
    return t;
  }
  // Read-only. When the journal's files are missing and cannot be made,
  // the file is read as it stands, without locks: nobody writes where this
  // process may not.
  if (sqlite3* db = open_connection(path, SQLITE_OPEN_READONLY)) {
    std::unique_ptr<TokenDb> t(new TokenDb(db, true));
    if (t->exec("SELECT count(*) FROM meta")) return t;
  }
  std::string uri = "file:";
  for (char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      char esc[4];
      std::snprintf(esc, sizeof esc, "%%%02X", static_cast<unsigned char>(c));
      uri += esc;
    } else {
      uri += c;
    }
  }
  uri += "?immutable=1";
  sqlite3* db = open_connection(uri, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI);
  return db ? std::unique_ptr<TokenDb>(new TokenDb(db, true)) : nullptr;
}

std::unique_ptr<TokenDb> TokenDb::create(const std::string& path) {
  int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd < 0) return nullptr;
  ::close(fd);
  sqlite3* db = open_connection(path, SQLITE_OPEN_READWRITE);
  if (!db) return nullptr;
  std::unique_ptr<TokenDb> t(new TokenDb(db, false));
  if (!t->exec("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA secure_delete=ON;"
               "CREATE TABLE IF NOT EXISTS meta(name TEXT PRIMARY KEY, value BLOB NOT NULL);"
               "CREATE TABLE IF NOT EXISTS objects(id INTEGER PRIMARY KEY AUTOINCREMENT,"
               " private INTEGER NOT NULL, clear BLOB NOT NULL, sealed BLOB);"))
    return nullptr;
  return t;
}

TokenDb::~TokenDb() {
  for (auto& entry : statements_) sqlite3_finalize(entry.second);
  sqlite3_close_v2(db_);
}

// Statements are prepared once per connection (the text is a literal, its
// address the key): preparing costs more than a lookup by the row id.
sqlite3_stmt* TokenDb::prepared(const char* sql) {
  auto it = statements_.find(sql);
  if (it != statements_.end()) return it->second;
  sqlite3_stmt* st = nullptr;
  if (sqlite3_prepare_v3(db_, sql, -1, SQLITE_PREPARE_PERSISTENT, &st, nullptr) != SQLITE_OK) {
    sqlite3_finalize(st);
    return nullptr;
  }
  statements_.emplace(sql, st);
  return st;
}

bool TokenDb::exec(const char* sql) { return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK; }

TokenDb::Transaction::Transaction(TokenDb& db) : db_(db) { ok_ = db_.exec("BEGIN IMMEDIATE"); }

TokenDb::Transaction::~Transaction() {
  if (ok_ && !done_) db_.exec("ROLLBACK");
}

bool TokenDb::Transaction::commit() {
  if (!ok_ || done_) return false;
  done_ = true;
  if (db_.exec("COMMIT")) return true;
  db_.exec("ROLLBACK");
  return false;
}

bool TokenDb::get_meta(const std::string& name, Bytes& value) {
  Statement st(prepared("SELECT value FROM meta WHERE name = ?1"));
  if (!st || !st.bind_text(1, name)) return false;
  if (st.step() != SQLITE_ROW) return false;
  value = st.column_blob(0);
  return true;
}

bool TokenDb::set_meta(const std::string& name, const uint8_t* data, size_t len) {
  Statement st(prepared("INSERT OR REPLACE INTO meta(name, value) VALUES(?1, ?2)"));
  return st && st.bind_text(1, name) && st.bind_blob(2, data, len) && st.step() == SQLITE_DONE;
}

bool TokenDb::delete_meta(const std::string& name) {
  Statement st(prepared("DELETE FROM meta WHERE name = ?1"));
  return st && st.bind_text(1, name) && st.step() == SQLITE_DONE;
}

long TokenDb::get_counter(const std::string& name) {
  Bytes v;
  if (!get_meta(name, v)) return 0;
  std::string s(v.begin(), v.end());
  return std::strtol(s.c_str(), nullptr, 10);
}

bool TokenDb::set_counter(const std::string& name, long value) {
  std::string s = std::to_string(value);
  return set_meta(name, reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

bool TokenDb::load_objects(std::vector<StoredObject>& out) {
  out.clear();
  Statement st(prepared("SELECT id, private, clear, sealed FROM objects ORDER BY id"));
  if (!st) return false;
  int rc;
  while ((rc = st.step()) == SQLITE_ROW) {
    StoredObject o;
    o.id = sqlite3_column_int64(st.get(), 0);
    o.is_private = sqlite3_column_int(st.get(), 1) != 0;
    o.clear = st.column_blob(2);
    o.sealed = st.column_blob(3);
    out.push_back(std::move(o));
  }
  return rc == SQLITE_DONE;
}

bool TokenDb::load_object(int64_t id, StoredObject& out, bool& found) {
  found = false;
  Statement st(prepared("SELECT id, private, clear, sealed FROM objects WHERE id = ?1"));
  if (!st || !st.bind_int(1, id)) return false;
  int rc = st.step();
  if (rc == SQLITE_DONE) return true;
  if (rc != SQLITE_ROW) return false;
  out.id = id;
  out.is_private = sqlite3_column_int(st.get(), 1) != 0;
  out.clear = st.column_blob(2);
  out.sealed = st.column_blob(3);
  found = true;
  return true;
}

bool TokenDb::insert_object(bool is_private, const Bytes& clear, int64_t& id) {
  Statement st(prepared("INSERT INTO objects(private, clear, sealed) VALUES(?1, ?2, NULL)"));
  if (!st || !st.bind_int(1, is_private ? 1 : 0) || !st.bind_blob(2, clear.data(), clear.size()) ||
      st.step() != SQLITE_DONE)
    return false;
  id = sqlite3_last_insert_rowid(db_);
  return true;
}

bool TokenDb::update_object(int64_t id, const Bytes& clear, const Bytes& sealed) {
  Statement st(prepared("UPDATE objects SET clear = ?1, sealed = ?2 WHERE id = ?3"));
  if (!st || !st.bind_blob(1, clear.data(), clear.size())) return false;
  if (sealed.empty() ? sqlite3_bind_null(st.get(), 2) != SQLITE_OK : !st.bind_blob(2, sealed.data(), sealed.size()))
    return false;
  return st.bind_int(3, id) && st.step() == SQLITE_DONE && sqlite3_changes(db_) == 1;
}

bool TokenDb::delete_object(int64_t id) {
  Statement st(prepared("DELETE FROM objects WHERE id = ?1"));
  return st && st.bind_int(1, id) && st.step() == SQLITE_DONE;
}

bool TokenDb::delete_all_objects() { return exec("DELETE FROM objects"); }

bool TokenDb::object_exists(int64_t id) {
  Statement st(prepared("SELECT 1 FROM objects WHERE id = ?1"));
  return st && st.bind_int(1, id) && st.step() == SQLITE_ROW;
}

}  // namespace softtoken
