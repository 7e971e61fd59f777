#include "gateways/sql/sql_gateway.h"

namespace tsr {
namespace {

struct Collected {
    std::string* answer;
    bool tooLong = false;
};

int AppendRow(void* context, int columns, char** values, char**) {
    auto* c = static_cast<Collected*>(context);
    for (int i = 0; i < columns; ++i) {
        const char* value = values[i] ? values[i] : "";  // NULL reads as an empty value
        size_t added = (c->answer->empty() ? 0 : 1) + std::char_traits<char>::length(value);
        if (c->answer->size() + added > SqlGateway::kMaxAnswer) {
            c->tooLong = true;
            return 1;  // stops the statement
        }
        if (!c->answer->empty()) *c->answer += ';';
        *c->answer += value;
    }
    return 0;
}

// Keeps every statement on the database the gateway opened: no other database file is attached
// (ATTACH of a file, and VACUUM INTO, which attaches its target), none detached, no extension
// loaded, and no pragma that moves the process's temporary or data directories. A plain VACUUM
// attaches an unnamed temporary database, which stays allowed.
int Authorize(void*, int action, const char* a, const char*, const char*, const char*) {
    switch (action) {
        case SQLITE_ATTACH:
            return a && *a == '\0' ? SQLITE_OK : SQLITE_DENY;
        case SQLITE_DETACH:
            return SQLITE_DENY;
        case SQLITE_FUNCTION:
            return a && sqlite3_stricmp(a, "load_extension") == 0 ? SQLITE_DENY : SQLITE_OK;
        case SQLITE_PRAGMA:
            if (a && (sqlite3_stricmp(a, "temp_store_directory") == 0 ||
                      sqlite3_stricmp(a, "data_store_directory") == 0))
                return SQLITE_DENY;
            return SQLITE_OK;
        default:
            return SQLITE_OK;
    }
}

// Defensive mode (no direct writes to the schema tables, no corrupting pragmas), no extension
// loading, no schema-defined functions trusted; then the authorizer above.
void Harden(sqlite3* db) {
    sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_WRITABLE_SCHEMA, 0, nullptr);
    sqlite3_set_authorizer(db, Authorize, nullptr);
}

}  // namespace

bool SqlGateway::Open(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (db_) sqlite3_close(db_);
    db_ = nullptr;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        sqlite3_close(db);
        return false;
    }
    sqlite3_busy_timeout(db, 2000);
    Harden(db);
    db_ = db;
    return true;
}

bool SqlGateway::Close() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!db_) return false;
    sqlite3_close(db_);
    db_ = nullptr;
    return true;
}

bool SqlGateway::IsOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return db_ != nullptr;
}

bool SqlGateway::Execute(const std::string& statement, std::string& answer) {
    std::lock_guard<std::mutex> lock(mutex_);
    answer.clear();
    if (!db_) return false;
    Collected collected{&answer};
    char* error = nullptr;
    int rc = sqlite3_exec(db_, statement.c_str(), AppendRow, &collected, &error);
    sqlite3_free(error);
    if (rc == SQLITE_OK && !collected.tooLong) return true;
    answer.clear();
    return false;
}

}  // namespace tsr
