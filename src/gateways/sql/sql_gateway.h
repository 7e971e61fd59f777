// The SQL gateway: one SQLite database for the /SQL route.
#pragma once

#include <sqlite3.h>

#include <mutex>
#include <string>

#include "gateways/families.h"

namespace tsr {

class SqlGateway : public SqlService {
public:
    // Answers longer than this are refused rather than cut in the middle of a value.
    static constexpr size_t kMaxAnswer = 100000;

    ~SqlGateway() override { Close(); }

    // Opens (creating when missing) the database file `path`, closing one that was open.
    // Returns false when it cannot be opened.
    bool Open(const std::string& path);
    // Closes the database; returns whether one was open.
    bool Close();
    bool IsOpen();

    // Runs `statement`; every column value of every row is appended to `answer`, separated by
    // ';', a NULL value as an empty text. False when no database is open, the statement fails, or
    // the answer would pass kMaxAnswer bytes.
    bool Execute(const std::string& statement, std::string& answer) override;

private:
    std::mutex mutex_;
    sqlite3* db_ = nullptr;
};

}  // namespace tsr
