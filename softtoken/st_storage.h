// One token, one SQLite database: a table of named settings and a table of
// objects. Every change runs in a transaction; several processes may use one
// database at once (WAL journal, writers wait for each other).
#ifndef SOFTTOKEN_ST_STORAGE_H
#define SOFTTOKEN_ST_STORAGE_H

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "st_secure.h"

namespace softtoken {

struct StoredObject {
  int64_t id = 0;
  bool is_private = false;
  Bytes clear;   // serialized public attributes
  Bytes sealed;  // encrypted secret attributes, empty when none
};

class TokenDb {
 public:
  // Opens an existing database; nullptr when it cannot be opened. A file
  // or directory this process may not write is opened read-only.
  static std::unique_ptr<TokenDb> open(const std::string& path);
  // Creates a new database file (mode 0600, must not exist) with the schema.
  static std::unique_ptr<TokenDb> create(const std::string& path);
  ~TokenDb();
  bool read_only() const { return read_only_; }
  TokenDb(const TokenDb&) = delete;
  TokenDb& operator=(const TokenDb&) = delete;

  // A write transaction (BEGIN IMMEDIATE): rolled back unless committed.
  class Transaction {
   public:
    explicit Transaction(TokenDb& db);
    ~Transaction();
    bool ok() const { return ok_; }
    bool commit();

   private:
    TokenDb& db_;
    bool ok_ = false;
    bool done_ = false;
  };

  bool get_meta(const std::string& name, Bytes& value);
  bool set_meta(const std::string& name, const uint8_t* data, size_t len);
  bool set_meta(const std::string& name, const Bytes& value) { return set_meta(name, value.data(), value.size()); }
  bool delete_meta(const std::string& name);
  long get_counter(const std::string& name);
  bool set_counter(const std::string& name, long value);

  bool load_objects(std::vector<StoredObject>& out);
  // false on a database error; found says whether the row exists.
  bool load_object(int64_t id, StoredObject& out, bool& found);
  bool insert_object(bool is_private, const Bytes& clear, int64_t& id);
  bool update_object(int64_t id, const Bytes& clear, const Bytes& sealed);
  bool delete_object(int64_t id);
  bool delete_all_objects();
  bool object_exists(int64_t id);

 private:
  TokenDb(sqlite3* db, bool read_only) : db_(db), read_only_(read_only) {}
  sqlite3_stmt* prepared(const char* sql);
  bool exec(const char* sql);
  sqlite3* db_;
  std::unordered_map<const char*, sqlite3_stmt*> statements_;
  bool read_only_ = false;
};

}  // namespace softtoken

#endif
