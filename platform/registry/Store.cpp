#include "Store.h"

#include "kernel/TextCodec.h"

#include <orafon/CaseFold.h>
#include <orafon/SqliteHolders.h>
#include <sqlite3.h>

#include <pwd.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace orafon::registry {
namespace {

// ---- Names ------------------------------------------------------------------

// Windows compares registry names by upper-casing them (orafon::FoldCase).
std::string Fold(const std::string &name)
{
    std::u16string wide = text::ToUtf16(name);
    for (char16_t &c : wide)
        c = orafon::FoldCase(c);
    return text::ToUtf8(wide);
}

constexpr size_t kMaxKeyNameChars = 255;
constexpr size_t kMaxValueNameChars = 16383;

size_t Utf16Length(const std::string &s)
{
    return text::ToUtf16(s).size();
}

// Splits a key path at backslashes. A leading backslash is refused as
// Windows refuses it; empty components between separators are skipped.
[[nodiscard]] LSTATUS SplitPath(const std::string &path, std::vector<std::string> &parts)
{
    parts.clear();
    if (!path.empty() && path[0] == '\\')
        return ERROR_BAD_PATHNAME;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start) {
            std::string part = path.substr(start, end - start);
            if (Utf16Length(part) > kMaxKeyNameChars)
                return ERROR_INVALID_PARAMETER;
            parts.push_back(std::move(part));
        }
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

int64_t NowMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

// ---- Database location ----------------------------------------------------

[[nodiscard]] bool MakeDirectories(const std::string &dir)
{
    if (dir.empty())
        return true;
    struct stat st;
    if (stat(dir.c_str(), &st) == 0)
        return S_ISDIR(st.st_mode);
    const size_t slash = dir.rfind('/');
    if (slash != std::string::npos && slash > 0 && !MakeDirectories(dir.substr(0, slash)))
        return false;
    return mkdir(dir.c_str(), 0700) == 0 || errno == EEXIST;
}

std::string HomeDirectory()
{
    if (const char *home = std::getenv("HOME"); home && *home)
        return home;
    if (const passwd *pw = getpwuid(getuid()); pw && pw->pw_dir)
        return pw->pw_dir;
    return "/tmp";
}

std::string ResolveDatabasePath()
{
    if (const char *env = std::getenv("ORAFON_REGISTRY"); env && *env)
        return env;
    const char *xdg = std::getenv("XDG_DATA_HOME");
    const std::string base = (xdg && xdg[0] == '/') ? std::string(xdg) : HomeDirectory() + "/.local/share";
    return base + "/orafon/registry.db";
}

// ---- Connection -------------------------------------------------------------

constexpr int64_t kRootIds[] = {1, 2, 3, 4};

[[nodiscard]] std::optional<int64_t> RootId(HKEY key)
{
    if (key == HKEY_CLASSES_ROOT)
        return kRootIds[0];
    if (key == HKEY_CURRENT_USER)
        return kRootIds[1];
    if (key == HKEY_LOCAL_MACHINE)
        return kRootIds[2];
    if (key == HKEY_USERS)
        return kRootIds[3];
    return std::nullopt;
}

const char *const kSchema = R"sql(
CREATE TABLE IF NOT EXISTS keys(
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  parent INTEGER NOT NULL,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  mtime INTEGER NOT NULL DEFAULT 0);
CREATE UNIQUE INDEX IF NOT EXISTS keys_by_parent ON keys(parent, fold);
CREATE TABLE IF NOT EXISTS vals(
  key INTEGER NOT NULL,
  name TEXT NOT NULL,
  fold TEXT NOT NULL,
  type INTEGER NOT NULL,
  data BLOB NOT NULL);
CREATE UNIQUE INDEX IF NOT EXISTS vals_by_name ON vals(key, fold);
CREATE INDEX IF NOT EXISTS vals_by_key ON vals(key);
INSERT OR IGNORE INTO keys(id, parent, name, fold) VALUES
  (1, 0, 'HKEY_CLASSES_ROOT', 'HKEY_CLASSES_ROOT'),
  (2, 0, 'HKEY_CURRENT_USER', 'HKEY_CURRENT_USER'),
  (3, 0, 'HKEY_LOCAL_MACHINE', 'HKEY_LOCAL_MACHINE'),
  (4, 0, 'HKEY_USERS', 'HKEY_USERS');
)sql";

[[nodiscard]] LSTATUS ErrorFromSqlite(int rc, bool writing)
{
    switch (rc & 0xFF) {
    case SQLITE_OK:
    case SQLITE_ROW:
    case SQLITE_DONE:
        return ERROR_SUCCESS;
    case SQLITE_FULL:
        return ERROR_DISK_FULL;
    case SQLITE_NOMEM:
        return ERROR_NOT_ENOUGH_MEMORY;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_AUTH:
        return ERROR_ACCESS_DENIED;
    case SQLITE_CORRUPT:
    case SQLITE_NOTADB:
        return ERROR_BADDB;
    case SQLITE_CANTOPEN:
        return ERROR_CANTOPEN;
    default:
        return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
    }
}

[[nodiscard]] bool IsBusy(int rc)
{
    return (rc & 0xFF) == SQLITE_BUSY || (rc & 0xFF) == SQLITE_LOCKED;
}

// One connection per process, used under the registry mutex. It is reopened
// when ORAFON_REGISTRY names another file, and in a child after fork (a
// connection must not cross a fork; the parent's is left untouched).
class Connection {
public:
    sqlite3 *db() const { return db_.Get(); }
    uint64_t generation() const { return generation_; }

    [[nodiscard]] int Ensure()
    {
        const std::string wanted = ResolveDatabasePath();
        if (db_ && pid_ == getpid() && wanted == path_)
            return SQLITE_OK;
        if (db_) {
            if (pid_ == getpid()) {
                Close();
            } else {
                // Still owned by the parent: neither finalized nor closed here.
                // Room is made first, so nothing is detached and then lost.
                abandonedStatements_.reserve(abandonedStatements_.size() + statements_.size());
                abandoned_.reserve(abandoned_.size() + 1);
                for (auto &entry : statements_)
                    abandonedStatements_.push_back(entry.second.Detach());
                statements_.clear();
                abandoned_.push_back(db_.Detach());
            }
        }
        return Open(wanted);
    }

    sqlite3_stmt *Statement(const char *sql, int &rc)
    {
        auto it = statements_.find(sql);
        if (it != statements_.end()) {
            rc = SQLITE_OK;
            return it->second.Get();
        }
        orafon::CSqliteStmt stmt;
        rc = sqlite3_prepare_v3(db_.Get(), sql, -1, SQLITE_PREPARE_PERSISTENT, stmt.Out(), nullptr);
        if (rc != SQLITE_OK)
            return nullptr;
        return statements_.emplace(sql, std::move(stmt)).first->second.Get();
    }

    [[nodiscard]] int Exec(const char *sql) { return sqlite3_exec(db_.Get(), sql, nullptr, nullptr, nullptr); }

    // Runs a statement kept prepared (transaction control runs on every call).
    [[nodiscard]] int ExecPrepared(const char *sql)
    {
        int rc;
        sqlite3_stmt *stmt = Statement(sql, rc);
        if (!stmt)
            return rc;
        rc = sqlite3_step(stmt);
        sqlite3_reset(stmt);
        return rc == SQLITE_DONE || rc == SQLITE_ROW ? SQLITE_OK : rc;
    }

    const std::string &path() const { return path_; }

    // Closing checkpoints the write-ahead log into the database and lets
    // SQLite remove its side files; a child of fork leaves the parent's alone.
    void CloseIfOwner()
    {
        if (db_ && pid_ == getpid())
            Close();
    }

private:
    [[nodiscard]] int Open(const std::string &wanted)
    {
        // Copied before anything changes: the connection is set up without
        // allocating, so running out of memory leaves none half-made.
        std::string path = wanted;
        // The default location is ours to create; a file named by the user
        // must be in a folder that exists (a typo must not grow a folder tree).
        const char *named = std::getenv("ORAFON_REGISTRY");
        const size_t slash = path.rfind('/');
        if (!(named && *named) && slash != std::string::npos && slash > 0)
            static_cast<void>(MakeDirectories(path.substr(0, slash))); // a folder that is missing fails the open

        orafon::CSqliteDb db;
        int rc = sqlite3_open_v2(path.c_str(), db.Out(),
                                 SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc != SQLITE_OK || !Usable(db.Get())) {
            // A registry on read-only media, or one we may only read: reading
            // is still worth it (registration fails only when it is tried).
            db.Reset();
            struct stat st;
            if (stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode))
                return rc != SQLITE_OK ? rc : SQLITE_CANTOPEN;
            rc = OpenReadOnly(path, db);
            if (rc != SQLITE_OK)
                return rc;
        }
        sqlite3_busy_timeout(db.Get(), 10000);
        db_ = std::move(db);
        rc = Prepare();
        if (rc != SQLITE_OK) {
            Close();
            return rc;
        }
        path_ = std::move(path);
        pid_ = getpid();
        ++generation_;
        return SQLITE_OK;
    }

    // A write-ahead-log database on read-only media cannot share its log
    // index; nothing can change it there, so it is read as immutable.
    [[nodiscard]] static int OpenReadOnly(const std::string &path, orafon::CSqliteDb &db)
    {
        int rc = sqlite3_open_v2(path.c_str(), db.Out(), SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX, nullptr);
        if (rc == SQLITE_OK &&
            sqlite3_exec(db.Get(), "SELECT 1 FROM keys LIMIT 1", nullptr, nullptr, nullptr) == SQLITE_OK)
            return SQLITE_OK;
        db.Reset();
        struct statvfs fs;
        if (statvfs(path.c_str(), &fs) != 0 || !(fs.f_flag & ST_RDONLY))
            return rc != SQLITE_OK ? rc : SQLITE_CANTOPEN;
        std::string uri = "file:";
        for (unsigned char c : path) {
            if (c == '?' || c == '#' || c == '%' || c < 0x20) {
                char escaped[4];
                std::snprintf(escaped, sizeof escaped, "%%%02X", c);
                uri += escaped;
            } else {
                uri += static_cast<char>(c);
            }
        }
        uri += "?immutable=1";
        rc = sqlite3_open_v2(uri.c_str(), db.Out(), SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX,
                             nullptr);
        if (rc != SQLITE_OK)
            db.Reset();
        return rc;
    }

    // Whether a connection opened for writing can really write: a file we
    // may not write is opened read-only by SQLite without saying so, and a
    // read-only file system refuses the first write.
    [[nodiscard]] static bool Usable(sqlite3 *db)
    {
        if (!db || sqlite3_db_readonly(db, "main") == 1)
            return false;
        const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK && sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr) != SQLITE_OK)
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        return rc == SQLITE_OK || IsBusy(rc);
    }

    // WAL lets readers and one writer work at once across processes;
    // NORMAL synchronisation keeps the file consistent through crashes.
    [[nodiscard]] int Prepare()
    {
        int rc;
        if (sqlite3_db_readonly(db_.Get(), "main") == 1) {
            // Nothing to set up in a file we only read; it must hold a registry.
            return Exec("SELECT 1 FROM keys LIMIT 1");
        }
        for (int attempt = 0;; ++attempt) {
            rc = Exec("PRAGMA journal_mode=WAL");
            if (!IsBusy(rc) || attempt > 100)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        if (rc != SQLITE_OK)
            return rc;
        // Tuning only: a connection that keeps SQLite's defaults still works.
        static_cast<void>(Exec("PRAGMA synchronous=NORMAL"));
        static_cast<void>(Exec("PRAGMA foreign_keys=OFF"));
        for (int attempt = 0;; ++attempt) {
            rc = Exec("BEGIN IMMEDIATE");
            if (rc == SQLITE_OK) {
                rc = Exec(kSchema);
                if (rc == SQLITE_OK)
                    rc = Exec("COMMIT");
                if (rc != SQLITE_OK)
                    static_cast<void>(Exec("ROLLBACK")); // the failure reported is the one before
            }
            if (!IsBusy(rc) || attempt > 100)
                return rc;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }

    void Close()
    {
        statements_.clear(); // finalized before their connection closes
        db_.Reset();
        path_.clear();
    }

    orafon::CSqliteDb db_;
    std::string path_;
    pid_t pid_ = 0;
    uint64_t generation_ = 0;
    std::unordered_map<const char *, orafon::CSqliteStmt> statements_;
    std::vector<sqlite3 *> abandoned_;
    std::vector<sqlite3_stmt *> abandonedStatements_;
};

// ---- Handles ----------------------------------------------------------------

struct KeyHandle {
    int64_t id;
    REGSAM access;
    uint64_t generation;
};

// Process-wide state, never destroyed: handles and the connection stay valid
// for code that runs during exit.
struct State {
    std::mutex mutex;
    Connection connection;
    std::unordered_set<KeyHandle *> handles;
};

void CloseAtExit();

State &GetState()
{
    static State *state = [] {
        auto *created = new State;
        std::atexit(CloseAtExit);
        return created;
    }();
    return *state;
}

void CloseAtExit()
{
    State &state = GetState();
    std::lock_guard lock(state.mutex);
    state.connection.CloseIfOwner();
}

REGSAM EffectiveAccess(REGSAM sam)
{
    REGSAM rights = sam & KEY_ALL_ACCESS;
    if (sam & 0x80000000u) // GENERIC_READ
        rights |= KEY_READ;
    if (sam & 0x40000000u) // GENERIC_WRITE
        rights |= KEY_WRITE;
    if (sam & (0x10000000u | 0x02000000u)) // GENERIC_ALL, MAXIMUM_ALLOWED
        rights |= KEY_ALL_ACCESS;
    return rights;
}

struct ResolvedKey {
    int64_t id = 0;
    REGSAM access = 0;
};

[[nodiscard]] LSTATUS ResolveHandle(State &state, HKEY key, ResolvedKey &out)
{
    if (auto root = RootId(key)) {
        out = {*root, KEY_ALL_ACCESS};
        return ERROR_SUCCESS;
    }
    auto *handle = reinterpret_cast<KeyHandle *>(key);
    if (!key || !state.handles.count(handle))
        return ERROR_INVALID_HANDLE;
    if (handle->generation != state.connection.generation())
        return ERROR_INVALID_HANDLE; // opened in another database
    out = {handle->id, handle->access};
    return ERROR_SUCCESS;
}

// ---- Statements -------------------------------------------------------------

// One use of a cached prepared statement; the first SQLite failure is kept
// in the transaction so the caller can roll back and report it.
class Transaction;

class Query {
public:
    Query(Transaction &tx, const char *sql);
    ~Query()
    {
        if (stmt_) {
            sqlite3_reset(stmt_);
            sqlite3_clear_bindings(stmt_);
        }
    }
    Query(const Query &) = delete;
    Query &operator=(const Query &) = delete;

    Query &Bind(int i, int64_t v)
    {
        if (stmt_)
            Check(sqlite3_bind_int64(stmt_, i, v));
        return *this;
    }
    Query &Bind(int i, const std::string &v)
    {
        if (stmt_)
            Check(sqlite3_bind_text(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
        return *this;
    }
    Query &BindBlob(int i, const std::string &v)
    {
        if (stmt_)
            Check(sqlite3_bind_blob(stmt_, i, v.data(), static_cast<int>(v.size()), SQLITE_TRANSIENT));
        return *this;
    }
    // True when a row is available.
    [[nodiscard]] bool Row();
    // Runs a statement that returns no rows; true on success.
    [[nodiscard]] bool Run()
    {
        static_cast<void>(Row()); // no rows are expected; a failure is kept in the transaction
        return ok();
    }
    int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }
    std::string Text(int col) const
    {
        const auto *p = reinterpret_cast<const char *>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
    }
    std::string Blob(int col) const
    {
        const auto *p = static_cast<const char *>(sqlite3_column_blob(stmt_, col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col))) : std::string();
    }
    [[nodiscard]] bool ok() const;

private:
    void Check(int rc);
    Transaction &tx_;
    sqlite3_stmt *stmt_ = nullptr;
};

class Transaction {
public:
    Transaction(Connection &c, bool forWriting) : connection(c), writing(forWriting) {}
    void Fail(int rc)
    {
        if (rc_ == SQLITE_OK)
            rc_ = rc;
    }
    int rc() const { return rc_; }
    bool ok() const { return rc_ == SQLITE_OK; }
    // The Windows code for a failed statement.
    LSTATUS Error() const { return ErrorFromSqlite(rc_, writing); }

    Connection &connection;
    const bool writing;

private:
    int rc_ = SQLITE_OK;
};

Query::Query(Transaction &tx, const char *sql) : tx_(tx)
{
    int rc;
    stmt_ = tx.connection.Statement(sql, rc);
    if (!stmt_)
        tx.Fail(rc);
}

void Query::Check(int rc)
{
    if (rc != SQLITE_OK)
        tx_.Fail(rc);
}

[[nodiscard]] bool Query::Row()
{
    if (!stmt_)
        return false;
    const int rc = sqlite3_step(stmt_);
    if (rc == SQLITE_ROW)
        return true;
    if (rc != SQLITE_DONE)
        tx_.Fail(rc);
    return false;
}

[[nodiscard]] bool Query::ok() const
{
    return tx_.ok();
}

// Rolls back a transaction that is left while open, as when its body throws:
// the database keeps nothing of it and the next call can begin its own.
class RollbackUnlessFinished {
public:
    explicit RollbackUnlessFinished(Connection &c) : connection_(c) {}
    RollbackUnlessFinished(const RollbackUnlessFinished &) = delete;
    RollbackUnlessFinished &operator=(const RollbackUnlessFinished &) = delete;
    ~RollbackUnlessFinished()
    {
        // Unprepared, as preparing could throw here.
        if (open_)
            static_cast<void>(connection_.Exec("ROLLBACK")); // a failed rollback leaves nothing to do
    }
    void Finished() { open_ = false; }

private:
    Connection &connection_;
    bool open_ = true;
};

// Runs body in the transaction just begun and ends it: committed when the
// body succeeds, rolled back otherwise (also when it throws). Answers the
// SQLite code of the transaction, the body's own answer in |status|.
template <typename Body> int RunOnce(State &state, bool writing, Body &body, LSTATUS &status)
{
    Connection &c = state.connection;
    RollbackUnlessFinished guard(c);
    Transaction tx(c, writing);
    status = body(state, tx);
    if (!tx.ok())
        return tx.rc();
    const int rc = c.ExecPrepared(status == ERROR_SUCCESS ? "COMMIT" : "ROLLBACK");
    if (rc == SQLITE_OK)
        guard.Finished();
    return rc;
}

// Runs body inside one transaction under the registry mutex, retrying the
// whole transaction while another process holds the database.
template <typename Body> [[nodiscard]] LSTATUS Run(bool writing, Body &&body)
{
    State &state = GetState();
    std::lock_guard lock(state.mutex);
    const int openRc = state.connection.Ensure();
    if (openRc != SQLITE_OK)
        return ErrorFromSqlite(openRc, writing) == ERROR_SUCCESS ? ERROR_CANTOPEN : ErrorFromSqlite(openRc, writing);
    Connection &c = state.connection;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    LSTATUS status = ERROR_SUCCESS;
    for (int attempt = 0;; ++attempt) {
        int rc = c.ExecPrepared(writing ? "BEGIN IMMEDIATE" : "BEGIN");
        if (rc == SQLITE_OK) {
            rc = RunOnce(state, writing, body, status);
            if (rc == SQLITE_OK)
                return status;
            if (!IsBusy(rc))
                return ErrorFromSqlite(rc, writing);
        } else if (!IsBusy(rc)) {
            return ErrorFromSqlite(rc, writing);
        }
        if (std::chrono::steady_clock::now() > deadline)
            return writing ? ERROR_CANTWRITE : ERROR_CANTREAD;
        std::this_thread::sleep_for(std::chrono::milliseconds(1 + (attempt % 20)));
    }
}

// ---- Key lookups ------------------------------------------------------------

[[nodiscard]] bool KeyExists(Transaction &tx, int64_t id)
{
    Query q(tx, "SELECT 1 FROM keys WHERE id = ?1");
    q.Bind(1, id);
    return q.Row();
}

[[nodiscard]] std::optional<int64_t> FindChild(Transaction &tx, int64_t parent, const std::string &name)
{
    Query q(tx, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2");
    q.Bind(1, parent).Bind(2, Fold(name));
    if (q.Row())
        return q.Int(0);
    return std::nullopt;
}

[[nodiscard]] bool HasChildren(Transaction &tx, int64_t id)
{
    Query q(tx, "SELECT 1 FROM keys WHERE parent = ?1 LIMIT 1");
    q.Bind(1, id);
    return q.Row();
}

void Touch(Transaction &tx, int64_t id)
{
    Query q(tx, "UPDATE keys SET mtime = ?2 WHERE id = ?1");
    static_cast<void>(q.Bind(1, id).Bind(2, NowMs()).Run()); // a failure is kept in the transaction
}

// Resolves the handle and checks that its key still exists.
[[nodiscard]] LSTATUS LiveKey(State &state, Transaction &tx, HKEY key, ResolvedKey &resolved)
{
    if (LSTATUS s = ResolveHandle(state, key, resolved); s != ERROR_SUCCESS)
        return s;
    if (!KeyExists(tx, resolved.id))
        return tx.ok() ? ERROR_KEY_DELETED : tx.Error();
    return ERROR_SUCCESS;
}

// Follows a path below `from`; ERROR_FILE_NOT_FOUND when a part is missing.
[[nodiscard]] LSTATUS Walk(Transaction &tx, int64_t from, const std::vector<std::string> &parts, int64_t &id)
{
    id = from;
    for (const std::string &part : parts) {
        auto child = FindChild(tx, id, part);
        if (!tx.ok())
            return tx.Error();
        if (!child)
            return ERROR_FILE_NOT_FOUND;
        id = *child;
    }
    return ERROR_SUCCESS;
}

// A handle registered before its key is looked up or made: registering
// allocates, and must not fail once a key has been created. Until Publish it
// is no valid handle (generation 0 belongs to no connection); unpublished, it
// is unregistered and freed.
class PendingHandle {
public:
    PendingHandle() = default;
    PendingHandle(const PendingHandle &) = delete;
    PendingHandle &operator=(const PendingHandle &) = delete;
    ~PendingHandle()
    {
        if (!handle_)
            return;
        State &state = GetState();
        std::lock_guard lock(state.mutex);
        state.handles.erase(handle_.get());
    }

    [[nodiscard]] LSTATUS Reserve()
    {
        State &state = GetState();
        handle_.reset(new (std::nothrow) KeyHandle{0, 0, 0});
        if (!handle_)
            return ERROR_NOT_ENOUGH_MEMORY;
        std::lock_guard lock(state.mutex);
        state.handles.insert(handle_.get());
        return ERROR_SUCCESS;
    }

    void Publish(int64_t id, REGSAM access, uint64_t generation, PHKEY result)
    {
        State &state = GetState();
        std::lock_guard lock(state.mutex);
        *handle_ = KeyHandle{id, access, generation};
        *result = reinterpret_cast<HKEY>(handle_.release());
    }

private:
    std::unique_ptr<KeyHandle> handle_;
};

// Deletes a key with everything below it.
void DeleteSubtree(Transaction &tx, int64_t id, bool keepTop)
{
    static const char *const kDeleteValues = R"sql(
WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id)
DELETE FROM vals WHERE key IN (SELECT id FROM sub))sql";
    static const char *const kDeleteKeys = R"sql(
WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id)
DELETE FROM keys WHERE id IN (SELECT id FROM sub) AND id <> ?2)sql";
    Query values(tx, kDeleteValues);
    // A failure of either is kept in the transaction, which its caller checks.
    static_cast<void>(values.Bind(1, id).Run());
    Query keys(tx, kDeleteKeys);
    static_cast<void>(keys.Bind(1, id).Bind(2, keepTop ? id : int64_t{-1}).Run());
}

[[nodiscard]] bool IsRoot(int64_t id)
{
    return id >= kRootIds[0] && id <= kRootIds[3];
}

std::string ValueName(const std::optional<std::string> &name)
{
    return name ? *name : std::string();
}

} // namespace

// ---- Operations -------------------------------------------------------------

LSTATUS OpenKey(HKEY parent, const std::optional<std::string> &subKey, bool create, REGSAM access, PHKEY result,
                LPDWORD disposition)
{
    if (!result)
        return ERROR_INVALID_PARAMETER;
    *result = nullptr;
    std::vector<std::string> parts;
    if (subKey) {
        if (LSTATUS s = SplitPath(*subKey, parts); s != ERROR_SUCCESS)
            return s;
    }
    PendingHandle handle;
    if (LSTATUS s = handle.Reserve(); s != ERROR_SUCCESS)
        return s;
    int64_t id = 0;
    uint64_t generation = 0;
    // The handle is handed out once the transaction has committed, so a
    // failed or retried transaction leaves none behind.
    const LSTATUS status = Run(create, [&](State &state, Transaction &tx) -> LSTATUS {
        ResolvedKey from;
        if (LSTATUS s = LiveKey(state, tx, parent, from); s != ERROR_SUCCESS)
            return s;
        id = from.id;
        generation = state.connection.generation();
        bool created = false;
        for (const std::string &part : parts) {
            auto child = FindChild(tx, id, part);
            if (!tx.ok())
                return tx.Error();
            if (child) {
                id = *child;
                continue;
            }
            if (!create)
                return ERROR_FILE_NOT_FOUND;
            if (!created && !(from.access & KEY_CREATE_SUB_KEY))
                return ERROR_ACCESS_DENIED;
            Query insert(tx, "INSERT INTO keys(parent, name, fold, mtime) VALUES(?1, ?2, ?3, ?4)");
            if (!insert.Bind(1, id).Bind(2, part).Bind(3, Fold(part)).Bind(4, NowMs()).Run())
                return tx.Error();
            id = sqlite3_last_insert_rowid(tx.connection.db());
            created = true;
        }
        if (disposition)
            *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
        return ERROR_SUCCESS;
    });
    if (status != ERROR_SUCCESS)
        return status;
    handle.Publish(id, EffectiveAccess(access), generation, result);
    return ERROR_SUCCESS;
}

[[nodiscard]] LSTATUS CloseKey(HKEY key)
{
    if (RootId(key))
        return ERROR_SUCCESS;
    State &state = GetState();
    std::lock_guard lock(state.mutex);
    auto *handle = reinterpret_cast<KeyHandle *>(key);
    if (!key || !state.handles.erase(handle))
        return ERROR_INVALID_HANDLE;
    delete handle;
    return ERROR_SUCCESS;
}

[[nodiscard]] LSTATUS SetValue(HKEY key, const std::optional<std::string> &name, DWORD type, std::string data)
{
    const std::string valueName = ValueName(name);
    if (Utf16Length(valueName) > kMaxValueNameChars)
        return ERROR_INVALID_PARAMETER;
    return Run(true, [&](State &state, Transaction &tx) -> LSTATUS {
        ResolvedKey k;
        if (LSTATUS s = LiveKey(state, tx, key, k); s != ERROR_SUCCESS)
            return s;
        if (!(k.access & KEY_SET_VALUE))
            return ERROR_ACCESS_DENIED;
        // The first spelling of a name is the one kept; a later write in
        // other case replaces the data only.
        Query upsert(tx, "INSERT INTO vals(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
                         "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data");
        upsert.Bind(1, k.id).Bind(2, valueName).Bind(3, Fold(valueName)).Bind(4, int64_t{type}).BindBlob(5, data);
        if (!upsert.Run())
            return tx.Error();
        Touch(tx, k.id);
        return tx.ok() ? ERROR_SUCCESS : tx.Error();
    });
}

[[nodiscard]] LSTATUS GetValue(HKEY key, const std::optional<std::string> &name, Value &value)
{
    return Run(false, [&](State &state, Transaction &tx) -> LSTATUS {
        ResolvedKey k;
        if (LSTATUS s = LiveKey(state, tx, key, k); s != ERROR_SUCCESS)
            return s;
        if (!(k.access & KEY_QUERY_VALUE))
            return ERROR_ACCESS_DENIED;
        Query q(tx, "SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2");
        q.Bind(1, k.id).Bind(2, Fold(ValueName(name)));
        if (!q.Row())
            return tx.ok() ? ERROR_FILE_NOT_FOUND : tx.Error();
        value.name = q.Text(0);
        value.type = static_cast<DWORD>(q.Int(1));
        value.data = q.Blob(2);
        return ERROR_SUCCESS;
    });
}

// Subkeys enumerate in case-insensitive name order, as Windows lists them.
[[nodiscard]] LSTATUS EnumKey(HKEY key, DWORD index, std::string &name, int64_t &writeTimeMs)
{
    return Run(false, [&](State &state, Transaction &tx) -> LSTATUS {
        ResolvedKey k;
        if (LSTATUS s = LiveKey(state, tx, key, k); s != ERROR_SUCCESS)
            return s;
        if (!(k.access & KEY_ENUMERATE_SUB_KEYS))
            return ERROR_ACCESS_DENIED;
        Query q(tx, "SELECT name, mtime FROM keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2");
        q.Bind(1, k.id).Bind(2, int64_t{index});
        if (!q.Row())
            return tx.ok() ? ERROR_NO_MORE_ITEMS : tx.Error();
        name = q.Text(0);
        writeTimeMs = q.Int(1);
        return ERROR_SUCCESS;
    });
}

// Values enumerate in the order they were first written, as on Windows.
[[nodiscard]] LSTATUS EnumValue(HKEY key, DWORD index, Value &value)
{
    return Run(false, [&](State &state, Transaction &tx) -> LSTATUS {
        ResolvedKey k;
        if (LSTATUS s = LiveKey(state, tx, key, k); s != ERROR_SUCCESS)
            return s;
        if (!(k.access & KEY_QUERY_VALUE))
            return ERROR_ACCESS_DENIED;
        Query q(tx, "SELECT name, type, data FROM vals WHERE key = ?1 ORDER BY rowid LIMIT 1 OFFSET ?2");
        q.Bind(1, k.id).Bind(2, int64_t{index});
        if (!q.Row())
            return tx.ok() ? ERROR_NO_MORE_ITEMS : tx.Error();
        value.name = q.Text(0);
        value.type = static_cast<DWORD>(q.Int(1));
        value.data = q.Blob(2);
        return ERROR_SUCCESS;
    });
}

[[nodiscard]] LSTATUS DeleteKey(HKEY key, const std::string &subKey)
{
    std::vector<std::string> parts;
    if (LSTATUS s = SplitPath(subKey, parts); s != ERROR_SUCCESS)
        return s;
    return Run(true, [&](State &state, Transaction &tx) -> LSTATUS {
        ResolvedKey k;
        if (LSTATUS s = LiveKey(state, tx, key, k); s != ERROR_SUCCESS)
            return s;
        int64_t id;
        if (LSTATUS s = Walk(tx, k.id, parts, id); s != ERROR_SUCCESS)
            return s;
        // Windows refuses to delete a key that still has subkeys, and the
        // predefined roots.
        if (IsRoot(id) || HasChildren(tx, id))
            return tx.ok() ? ERROR_ACCESS_DENIED : tx.Error();
        DeleteSubtree(tx, id, false);
        return tx.ok() ? ERROR_SUCCESS : tx.Error();
    });
}

[[nodiscard]] LSTATUS DeleteTree(HKEY key, const std::optional<std::string> &subKey)
{
    std::vector<std::string> parts;
    if (subKey) {
        if (LSTATUS s = SplitPath(*subKey, parts); s != ERROR_SUCCESS)
            return s;
    }
    return Run(true, [&](State &state, Transaction &tx) -> LSTATUS {
        ResolvedKey k;
        if (LSTATUS s = LiveKey(state, tx, key, k); s != ERROR_SUCCESS)
            return s;
        int64_t id;
        if (LSTATUS s = Walk(tx, k.id, parts, id); s != ERROR_SUCCESS)
            return s;
        // Without a subkey the key itself stays and loses its contents;
        // a root always stays.
        DeleteSubtree(tx, id, parts.empty() || IsRoot(id));
        if (parts.empty() || IsRoot(id))
            Touch(tx, id);
        return tx.ok() ? ERROR_SUCCESS : tx.Error();
    });
}

[[nodiscard]] LSTATUS DeleteValue(HKEY key, const std::optional<std::string> &name)
{
    return Run(true, [&](State &state, Transaction &tx) -> LSTATUS {
        ResolvedKey k;
        if (LSTATUS s = LiveKey(state, tx, key, k); s != ERROR_SUCCESS)
            return s;
        if (!(k.access & KEY_SET_VALUE))
            return ERROR_ACCESS_DENIED;
        Query q(tx, "DELETE FROM vals WHERE key = ?1 AND fold = ?2");
        if (!q.Bind(1, k.id).Bind(2, Fold(ValueName(name))).Run())
            return tx.Error();
        if (sqlite3_changes(tx.connection.db()) == 0)
            return ERROR_FILE_NOT_FOUND;
        Touch(tx, k.id);
        return tx.ok() ? ERROR_SUCCESS : tx.Error();
    });
}

std::string DatabasePath()
{
    return ResolveDatabasePath();
}

} // namespace orafon::registry
